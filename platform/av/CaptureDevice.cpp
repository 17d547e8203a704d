#include "platform/av/CaptureDevice.h"

#include <sys/stat.h>

#include <atomic>

#include "platform/av/AssetImageGenerator.h"
#include "platform/av/Camera.h"
#include "platform/dispatch/Mutex.h"
#include "platform/ns/AtomicFile.h"
#include "platform/ns/Exception.h"
#include "platform/ui/ImageCodec.h"

namespace av {

namespace {

dispatch::Mutex gDevicesMutex;
std::optional<std::vector<std::shared_ptr<CaptureDevice>>> gDevices GUARDED_BY(gDevicesMutex);
std::atomic<AuthorizationStatus> gAuthorization{AuthorizationStatus::NotDetermined};

// What the attached camera sees, frame by frame. A still image is decoded again only when
// the file it shows changes (a folder camera moves on to a newer image), so that frames of
// an unchanged picture cost nothing.
class CameraFrames {
public:
    explicit CameraFrames(std::shared_ptr<Camera> camera) : camera_(std::move(camera)) {}

    std::shared_ptr<const ui::Bitmap> frame(dispatch::Duration elapsed) {
        if (camera_->isDevice()) {
            auto picture = camera_->takePicture();
            return picture.ok() ? picture.value() : nullptr;
        }
        const auto path = camera_->stillImagePath();
        if (!path && camera_->hasVideo()) {
            AssetImageGenerator generator(ns::URL::fileURLWithPath(camera_->videoPath()));
            generator.setAppliesPreferredTrackTransform(true);
            auto picture =
                generator.copyCGImageAtTime(std::chrono::duration<double>(elapsed).count());
            return picture.ok() ? picture.value() : nullptr;
        }
        struct stat info {};
        if (!path || ::stat(path->c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
        const Key key{*path, info.st_mtim.tv_sec, info.st_mtim.tv_nsec, info.st_size};
        dispatch::Lock lock(mutex_);
        if (key != key_) {
            auto bytes = ns::readFile(*path);
            image_ = bytes.ok() ? ui::ImageCodec::decode(bytes.value()) : nullptr;
            key_ = key;
        }
        return image_;
    }

private:
    struct Key {
        std::string path;
        int64_t seconds = 0;
        int64_t nanoseconds = 0;
        int64_t size = -1;
        bool operator==(const Key&) const = default;
    };

    std::shared_ptr<Camera> camera_;
    dispatch::Mutex mutex_;
    Key key_ GUARDED_BY(mutex_);
    std::shared_ptr<const ui::Bitmap> image_ GUARDED_BY(mutex_);
};

// The attached camera as the machine's devices: a back device with torch and flash, and a
// front one, both seeing what the camera sees.
std::vector<std::shared_ptr<CaptureDevice>> cameraDevices() {
    static dispatch::Mutex mutex;
    static std::weak_ptr<Camera> madeFor GUARDED_BY(mutex);
    static std::vector<std::shared_ptr<CaptureDevice>> made GUARDED_BY(mutex);
    auto camera = Camera::shared();
    dispatch::Lock lock(mutex);
    if (!camera) {
        made.clear();
        return {};
    }
    if (madeFor.lock() != camera || made.empty()) {
        auto frames = std::make_shared<CameraFrames>(camera);
        auto source = [frames](dispatch::Duration elapsed) { return frames->frame(elapsed); };
        made = {std::make_shared<CaptureDevice>("replay-camera-back", CaptureDevicePosition::Back,
                                                CaptureDevice::Capabilities{true, true, true, true},
                                                source),
                std::make_shared<CaptureDevice>(
                    "replay-camera-front", CaptureDevicePosition::Front,
                    CaptureDevice::Capabilities{false, false, true, false}, source)};
        madeFor = camera;
    }
    return made;
}

}  // namespace

CaptureDevice::CaptureDevice(std::string uniqueID, CaptureDevicePosition position,
                             Capabilities capabilities, FrameSource source)
    : uniqueID_(std::move(uniqueID)),
      position_(position),
      capabilities_(capabilities),
      source_(std::move(source)) {}

std::vector<std::shared_ptr<CaptureDevice>> CaptureDevice::devices() {
    {
        dispatch::Lock lock(gDevicesMutex);
        if (gDevices) return *gDevices;
    }
    return cameraDevices();
}

std::shared_ptr<CaptureDevice> CaptureDevice::defaultDevice() {
    const auto all = devices();
    for (const auto& device : all) {
        if (device->position() == CaptureDevicePosition::Back) return device;
    }
    return all.empty() ? nullptr : all.front();
}

void CaptureDevice::setDevices(std::optional<std::vector<std::shared_ptr<CaptureDevice>>> devices) {
    dispatch::Lock lock(gDevicesMutex);
    gDevices = std::move(devices);
}

AuthorizationStatus CaptureDevice::authorizationStatus() {
    return gAuthorization.load();
}

void CaptureDevice::setAuthorizationStatus(AuthorizationStatus status) {
    gAuthorization.store(status);
}

ns::Status CaptureDevice::lockForConfiguration() {
    if (lockRefused_) {
        lockRefused_ = false;
        return ns::Error(kCaptureDeviceErrorDomain, -11817,
                         {{ns::kLocalizedDescriptionKey, "The device is in use."}});
    }
    locked_ = true;
    return {};
}

void CaptureDevice::unlockForConfiguration() {
    locked_ = false;
}

void CaptureDevice::requireLock(const char* operation) const {
    if (!locked_) {
        throw ns::Exception("NSGenericException",
                            std::string(operation) + " called without lockForConfiguration");
    }
}

void CaptureDevice::setTorchMode(CaptureTorchMode mode) {
    requireLock("setTorchMode");
    if (!capabilities_.hasTorch && mode != CaptureTorchMode::Off) {
        throw ns::Exception("NSInvalidArgumentException", "the device has no torch");
    }
    torchMode_ = mode;
    torchLevel_ = mode == CaptureTorchMode::On ? kMaxAvailableTorchLevel : 0;
}

ns::Status CaptureDevice::setTorchModeOnWithLevel(float level) {
    requireLock("setTorchModeOnWithLevel");
    if (!capabilities_.hasTorch || !(level > 0 && level <= kMaxAvailableTorchLevel)) {
        return ns::Error(kCaptureDeviceErrorDomain, -11800,
                         {{ns::kLocalizedDescriptionKey, "The torch level is not available."}});
    }
    torchMode_ = CaptureTorchMode::On;
    torchLevel_ = level;
    return {};
}

void CaptureDevice::setFlashMode(CaptureFlashMode mode) {
    requireLock("setFlashMode");
    if (!capabilities_.hasFlash && mode != CaptureFlashMode::Off) {
        throw ns::Exception("NSInvalidArgumentException", "the device has no flash");
    }
    flashMode_ = mode;
}

bool CaptureDevice::isFocusModeSupported(CaptureFocusMode mode) const {
    return mode != CaptureFocusMode::ContinuousAutoFocus || capabilities_.continuousAutoFocus;
}

void CaptureDevice::setFocusMode(CaptureFocusMode mode) {
    requireLock("setFocusMode");
    if (!isFocusModeSupported(mode)) {
        throw ns::Exception("NSInvalidArgumentException", "the focus mode is not supported");
    }
    focusMode_ = mode;
}

void CaptureDevice::setAutoFocusRangeRestriction(CaptureAutoFocusRangeRestriction restriction) {
    requireLock("setAutoFocusRangeRestriction");
    if (!capabilities_.autoFocusRangeRestriction) {
        throw ns::Exception("NSInvalidArgumentException",
                            "the device has no auto-focus range restriction");
    }
    range_ = restriction;
}

std::shared_ptr<const ui::Bitmap> CaptureDevice::frame(dispatch::Duration elapsed) const {
    return source_ ? source_(elapsed) : nullptr;
}

}  // namespace av
