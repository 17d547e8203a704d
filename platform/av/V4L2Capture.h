#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Result.h"
#include "platform/ui/Bitmap.h"

namespace av {

// A video capture device of the kernel's video interface (/dev/videoN), opened once: it hands
// out the picture it sees at the moment as a bitmap. Pictures come in YUYV or Motion-JPEG, the
// two formats every camera of that interface offers one of. Usable from any thread.
class V4L2Capture {
public:
    // How long a picture may take to come before grab() gives up.
    static constexpr int kFrameTimeoutMs = 2000;

    // The first device of the machine (/dev/video0 to /dev/video63) that captures video;
    // null when there is none, as on a machine without a camera.
    static std::unique_ptr<V4L2Capture> openFirst();
    // The device at `path`; null when it is not a video capture device or offers neither
    // format.
    static std::unique_ptr<V4L2Capture> open(const std::string& path);
    ~V4L2Capture();
    V4L2Capture(const V4L2Capture&) = delete;
    V4L2Capture& operator=(const V4L2Capture&) = delete;

    const std::string& path() const { return path_; }
    // The picture the device sees now.
    ns::Result<std::shared_ptr<ui::Bitmap>> grab();

    // A YUYV 4:2:2 picture as an opaque bitmap; null when `length` is too short for the size.
    static std::shared_ptr<ui::Bitmap> bitmapFromYUYV(const uint8_t* data, size_t length, int width,
                                                      int height, size_t stride);

private:
    struct Buffer {
        void* start = nullptr;
        size_t length = 0;
    };
    V4L2Capture(int fd, std::string path, uint32_t format, int width, int height, size_t stride)
        : fd_(fd),
          path_(std::move(path)),
          format_(format),
          width_(width),
          height_(height),
          stride_(stride) {}
    bool startStreaming() REQUIRES(mutex_);
    void stopStreaming() REQUIRES(mutex_);

    dispatch::Mutex mutex_;
    int fd_;
    std::string path_;
    uint32_t format_;
    int width_;
    int height_;
    size_t stride_;
    std::vector<Buffer> buffers_ GUARDED_BY(mutex_);
    bool streaming_ GUARDED_BY(mutex_) = false;
};

}  // namespace av
