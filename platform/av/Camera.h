#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ns/Result.h"
#include "platform/ui/Bitmap.h"

namespace av {

class V4L2Capture;

// What the camera sees: a video capture device of the machine where there is one (its picture
// at the moment; it records no clips), or else a replay source, chosen at launch: a still
// image file (photos are that image), a video file
// (photos are its first frame, clips are the file), or a folder, in which the camera sees
// the newest PNG or JPEG image at each moment (so it can watch where the application writes
// images, e.g. its temporary folder). A watched folder may have an image or a video file
// behind it, which the camera shows while the folder holds no image (and whose video is its
// clips). Without a choice there is no camera.
class Camera {
public:
    // The camera in use; null when none is attached.
    static std::shared_ptr<Camera> shared();
    static void setShared(std::shared_ptr<Camera> camera);
    // Attaches a replay source, or the capture device at a "/dev/video" path; false (and no
    // change) for one it cannot show.
    static bool configure(const std::string& path);
    // Attaches a camera that sees the newest image of `folder` and, while there is none, the
    // image or video file `fallback`; false (and no change) when the fallback cannot be shown.
    // The folder need not exist yet.
    static bool configureWatching(const std::string& folder, const std::string& fallback);
    // Attaches the machine's first video capture device, when it has one, when the camera is
    // first asked for (unless one is chosen before): a run that uses no camera never opens it.
    static void attachFirstDeviceWhenAsked();

    bool hasVideo() const { return isVideo_; }
    // The image file that the camera sees now: the newest image of a watched folder, else the
    // still file. Nothing for a device, a video file, or a folder without images.
    std::optional<std::string> stillImagePath() const;
    // The picture the camera takes now.
    ns::Result<std::shared_ptr<ui::Bitmap>> takePicture() const;
    // The first picture of the clip the camera records (for a camera without video, the
    // picture it takes now).
    ns::Result<std::shared_ptr<ui::Bitmap>> clipPreview() const;
    // The clip the camera records: the replayed video file.
    const std::string& videoPath() const { return path_; }

    // Whether a device of the machine, not a replay source, is the camera.
    bool isDevice() const { return static_cast<bool>(device_); }

    ~Camera();

private:
    Camera(std::string path, bool isVideo, bool isFolder = false);
    explicit Camera(std::unique_ptr<V4L2Capture> device);
    // A replay source of an image or video file, or null when it shows neither.
    static std::unique_ptr<Camera> replaySource(const std::string& path);

    std::string path_;
    bool isVideo_;
    bool isFolder_;
    // The folder whose newest image is shown before the file of path_.
    std::optional<std::string> watchedFolder_;
    std::unique_ptr<V4L2Capture> device_;
};

}  // namespace av
