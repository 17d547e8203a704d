#include "platform/av/Camera.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <utility>

#include "platform/av/AssetImageGenerator.h"
#include "platform/av/V4L2Capture.h"
#include "platform/dispatch/Mutex.h"
#include "platform/ns/StringComponents.h"
#include "platform/ns/URL.h"
#include "platform/ui/ImageCodec.h"

namespace av {

namespace {

dispatch::Mutex gMutex;
std::shared_ptr<Camera> gCamera GUARDED_BY(gMutex);
// The machine's device is looked for when the camera is first asked for.
bool gAttachPending GUARDED_BY(gMutex) = false;

std::shared_ptr<ui::Bitmap> stillImage(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    return ui::ImageCodec::decode(ns::Data(bytes.data(), bytes.size()));
}

bool isFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The newest PNG or JPEG file of the folder by modification time (the later name on a tie).
std::optional<std::string> newestImage(const std::string& folder) {
    namespace fs = std::filesystem;
    std::optional<std::pair<fs::file_time_type, std::string>> newest;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string extension = ns::asciiLowercased(it->path().extension().string());
        if (extension != ".png" && extension != ".jpg" && extension != ".jpeg") continue;
        std::error_code statError;
        if (!it->is_regular_file(statError)) continue;
        const auto time = it->last_write_time(statError);
        if (statError) continue;
        std::pair candidate{time, it->path().string()};
        if (!newest || candidate > *newest) newest = std::move(candidate);
    }
    if (!newest) return std::nullopt;
    return newest->second;
}

}  // namespace

std::shared_ptr<Camera> Camera::shared() {
    dispatch::Lock lock(gMutex);
    if (std::exchange(gAttachPending, false) && !gCamera) {
        if (auto device = V4L2Capture::openFirst()) gCamera.reset(new Camera(std::move(device)));
    }
    return gCamera;
}

void Camera::setShared(std::shared_ptr<Camera> camera) {
    dispatch::Lock lock(gMutex);
    gAttachPending = false;
    gCamera = std::move(camera);
}

Camera::Camera(std::string path, bool isVideo, bool isFolder)
    : path_(std::move(path)), isVideo_(isVideo), isFolder_(isFolder) {}

Camera::Camera(std::unique_ptr<V4L2Capture> device)
    : path_(device->path()), isVideo_(false), isFolder_(false), device_(std::move(device)) {}

Camera::~Camera() = default;

void Camera::attachFirstDeviceWhenAsked() {
    dispatch::Lock lock(gMutex);
    gAttachPending = true;
}

std::unique_ptr<Camera> Camera::replaySource(const std::string& path) {
    if (stillImage(path)) return std::unique_ptr<Camera>(new Camera(path, false));
    if (AssetImageGenerator(ns::URL::fileURLWithPath(path)).copyCGImageAtTime(0).ok())
        return std::unique_ptr<Camera>(new Camera(path, true));
    return nullptr;
}

bool Camera::configure(const std::string& path) {
    std::shared_ptr<Camera> camera;
    if (path.starts_with("/dev/video")) {
        auto device = V4L2Capture::open(path);
        if (device) camera.reset(new Camera(std::move(device)));
    } else if (isFolder(path)) {
        camera.reset(new Camera(path, false, true));
    } else {
        camera = replaySource(path);
    }
    if (!camera) return false;
    setShared(std::move(camera));
    return true;
}

bool Camera::configureWatching(const std::string& folder, const std::string& fallback) {
    std::shared_ptr<Camera> camera = replaySource(fallback);
    if (!camera) return false;
    camera->watchedFolder_ = folder;
    setShared(std::move(camera));
    return true;
}

ns::Result<std::shared_ptr<ui::Bitmap>> Camera::takePicture() const {
    if (device_) return device_->grab();
    if (const auto path = stillImagePath()) {
        auto image = stillImage(*path);
        if (image) return image;
    } else if (isVideo_) {
        return clipPreview();
    }
    return ns::Error(kAVErrorDomain, AVErrorNoDataCaptured);
}

ns::Result<std::shared_ptr<ui::Bitmap>> Camera::clipPreview() const {
    if (!isVideo_) return takePicture();
    AssetImageGenerator generator(ns::URL::fileURLWithPath(path_));
    generator.setAppliesPreferredTrackTransform(true);
    return generator.copyCGImageAtTime(0);
}

std::optional<std::string> Camera::stillImagePath() const {
    if (device_) return std::nullopt;
    if (watchedFolder_) {
        if (auto newest = newestImage(*watchedFolder_)) return newest;
    }
    if (isVideo_) return std::nullopt;
    if (isFolder_) return newestImage(path_);
    return path_;
}

}  // namespace av
