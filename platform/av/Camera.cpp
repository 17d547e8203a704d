#include "platform/av/Camera.h"

#include <sys/stat.h>

#include <fstream>
#include <mutex>

#include "platform/av/AssetImageGenerator.h"
#include "platform/ns/URL.h"
#include "platform/ui/ImageCodec.h"

namespace av {

namespace {

std::mutex gMutex;
std::shared_ptr<Camera> gCamera;

std::shared_ptr<ui::Bitmap> stillImage(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    return ui::ImageCodec::decode(ns::Data(bytes.data(), bytes.size()));
}

}  // namespace

std::shared_ptr<Camera> Camera::shared() {
    std::lock_guard lock(gMutex);
    return gCamera;
}

void Camera::setShared(std::shared_ptr<Camera> camera) {
    std::lock_guard lock(gMutex);
    gCamera = std::move(camera);
}

bool Camera::configure(const std::string& path) {
    std::shared_ptr<Camera> camera;
    if (stillImage(path)) {
        camera.reset(new Camera(path, false));
    } else if (AssetImageGenerator(ns::URL::fileURLWithPath(path)).copyCGImageAtTime(0).ok()) {
        camera.reset(new Camera(path, true));
    }
    if (!camera) return false;
    setShared(std::move(camera));
    return true;
}

ns::Result<std::shared_ptr<ui::Bitmap>> Camera::takePicture() const {
    if (isVideo_) {
        AssetImageGenerator generator(ns::URL::fileURLWithPath(path_));
        generator.setAppliesPreferredTrackTransform(true);
        return generator.copyCGImageAtTime(0);
    }
    auto image = stillImage(path_);
    if (!image) return ns::Error(kAVErrorDomain, AVErrorNoDataCaptured);
    return image;
}

}  // namespace av
