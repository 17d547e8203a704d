#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ns/Result.h"
#include "platform/ui/Bitmap.h"

namespace av {

// What the camera sees. The host has no camera it can rely on, so a replay source stands in
// for one, chosen at launch: a still image file (photos are that image), a video file
// (photos are its first frame, clips are the file), or a folder, in which the camera sees
// the newest PNG or JPEG image at each moment (so it can watch where the application writes
// images, e.g. its temporary folder). Without a choice there is no camera.
class Camera {
public:
    // The camera in use; null when none is attached.
    static std::shared_ptr<Camera> shared();
    static void setShared(std::shared_ptr<Camera> camera);
    // Attaches a replay source; false (and no change) for a file it cannot show.
    static bool configure(const std::string& path);

    bool hasVideo() const { return isVideo_; }
    // The image file that a still camera sees now: the file, or the newest image in the
    // folder. Nothing for a video camera or a folder without images.
    std::optional<std::string> stillImagePath() const;
    // The picture the camera takes now.
    ns::Result<std::shared_ptr<ui::Bitmap>> takePicture() const;
    // The clip the camera records: the replayed video file.
    const std::string& videoPath() const { return path_; }

private:
    Camera(std::string path, bool isVideo, bool isFolder = false)
        : path_(std::move(path)), isVideo_(isVideo), isFolder_(isFolder) {}

    std::string path_;
    bool isVideo_;
    bool isFolder_;
};

}  // namespace av
