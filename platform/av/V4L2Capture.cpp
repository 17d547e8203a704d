#include "platform/av/V4L2Capture.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/av/AssetImageGenerator.h"
#include "platform/ns/Data.h"
#include "platform/ui/ImageCodec.h"

namespace av {
namespace {

constexpr int kMaxDevices = 64;
constexpr int kWantedWidth = 1280;
constexpr int kWantedHeight = 720;
constexpr uint32_t kBufferCount = 2;

int xioctl(int fd, unsigned long request, void* argument) {
    int rc;
    do {
        rc = ::ioctl(fd, request, argument);
    } while (rc < 0 && errno == EINTR);
    return rc;
}

ns::Error captureError(const std::string& reason) {
    return ns::Error(kAVErrorDomain, AVErrorNoDataCaptured,
                     {{ns::kLocalizedDescriptionKey, reason}});
}

uint8_t clamp8(int value) {
    return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

}  // namespace

std::unique_ptr<V4L2Capture> V4L2Capture::openFirst() {
    for (int n = 0; n < kMaxDevices; ++n) {
        const std::string path = "/dev/video" + std::to_string(n);
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) continue;
        if (auto device = open(path)) return device;
    }
    return nullptr;
}

std::unique_ptr<V4L2Capture> V4L2Capture::open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info {};
    v4l2_capability capability{};
    const bool device = ::fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) &&
                        xioctl(fd, VIDIOC_QUERYCAP, &capability) == 0;
    const uint32_t caps = capability.capabilities & V4L2_CAP_DEVICE_CAPS ? capability.device_caps
                                                                         : capability.capabilities;
    if (!device || !(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING)) {
        ::close(fd);
        return nullptr;
    }
    // YUYV where the device offers it at the wanted size, else Motion-JPEG; the device may
    // answer with a size of its own.
    for (const uint32_t pixelFormat : {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_MJPEG}) {
        v4l2_format format{};
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        format.fmt.pix.width = kWantedWidth;
        format.fmt.pix.height = kWantedHeight;
        format.fmt.pix.pixelformat = pixelFormat;
        format.fmt.pix.field = V4L2_FIELD_NONE;
        if (xioctl(fd, VIDIOC_S_FMT, &format) != 0 || format.fmt.pix.pixelformat != pixelFormat) {
            continue;
        }
        const int width = static_cast<int>(format.fmt.pix.width);
        const int height = static_cast<int>(format.fmt.pix.height);
        if (!ui::Bitmap::isAllowedSize(width, height) || width <= 0 || height <= 0) break;
        const size_t stride = std::max<size_t>(format.fmt.pix.bytesperline, size_t(width) * 2);
        return std::unique_ptr<V4L2Capture>(
            new V4L2Capture(fd, path, pixelFormat, width, height, stride));
    }
    ::close(fd);
    return nullptr;
}

V4L2Capture::~V4L2Capture() {
    stopStreaming();
    ::close(fd_);
}

bool V4L2Capture::startStreaming() {
    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (xioctl(fd_, VIDIOC_REQBUFS, &request) != 0 || request.count == 0) return false;
    for (uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (xioctl(fd_, VIDIOC_QUERYBUF, &buffer) != 0) return false;
        void* start = ::mmap(nullptr, buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_,
                             buffer.m.offset);
        if (start == MAP_FAILED) return false;
        buffers_.push_back({start, buffer.length});
        if (xioctl(fd_, VIDIOC_QBUF, &buffer) != 0) return false;
    }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    streaming_ = xioctl(fd_, VIDIOC_STREAMON, &type) == 0;
    return streaming_;
}

void V4L2Capture::stopStreaming() {
    if (streaming_) {
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        xioctl(fd_, VIDIOC_STREAMOFF, &type);
        streaming_ = false;
    }
    for (const auto& buffer : buffers_) ::munmap(buffer.start, buffer.length);
    buffers_.clear();
}

ns::Result<std::shared_ptr<ui::Bitmap>> V4L2Capture::grab() {
    dispatch::Lock lock(mutex_);
    if (!streaming_ && !startStreaming()) {
        stopStreaming();
        return captureError("The camera does not deliver pictures.");
    }
    pollfd wait{fd_, POLLIN, 0};
    if (::poll(&wait, 1, kFrameTimeoutMs) <= 0) return captureError("The camera sent no picture.");
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    if (xioctl(fd_, VIDIOC_DQBUF, &buffer) != 0 || buffer.index >= buffers_.size()) {
        return captureError("The camera sent no picture.");
    }
    const auto* bytes = static_cast<const uint8_t*>(buffers_[buffer.index].start);
    const size_t used = std::min<size_t>(buffer.bytesused, buffers_[buffer.index].length);
    std::shared_ptr<ui::Bitmap> picture =
        format_ == V4L2_PIX_FMT_YUYV ? bitmapFromYUYV(bytes, used, width_, height_, stride_)
                                     : ui::ImageCodec::decode(ns::Data(bytes, used));
    xioctl(fd_, VIDIOC_QBUF, &buffer);
    if (!picture) return captureError("The camera's picture cannot be read.");
    return picture;
}

std::shared_ptr<ui::Bitmap> V4L2Capture::bitmapFromYUYV(const uint8_t* data, size_t length,
                                                        int width, int height, size_t stride) {
    if (width <= 0 || height <= 0 || width % 2 != 0 || stride < size_t(width) * 2 ||
        length < stride * size_t(height - 1) + size_t(width) * 2) {
        return nullptr;
    }
    auto bitmap = ui::Bitmap::create(width, height);
    if (!bitmap) return nullptr;
    for (int y = 0; y < height; ++y) {
        const uint8_t* in = data + stride * size_t(y);
        auto* out = reinterpret_cast<uint32_t*>(bitmap->data() + ptrdiff_t(y) * bitmap->stride());
        for (int x = 0; x < width; x += 2, in += 4) {
            // BT.601 studio range, two pixels sharing their colour.
            const int u = in[1] - 128;
            const int v = in[3] - 128;
            for (int i = 0; i < 2; ++i) {
                const int c = 298 * (in[i * 2] - 16);
                const uint8_t r = clamp8((c + 409 * v + 128) >> 8);
                const uint8_t g = clamp8((c - 100 * u - 208 * v + 128) >> 8);
                const uint8_t b = clamp8((c + 516 * u + 128) >> 8);
                out[x + i] = 0xff000000u | uint32_t(r) << 16 | uint32_t(g) << 8 | b;
            }
        }
    }
    bitmap->markDirty();
    return bitmap;
}

}  // namespace av
