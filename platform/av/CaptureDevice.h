#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/Clock.h"
#include "platform/ns/Result.h"
#include "platform/ui/Bitmap.h"

namespace av {

enum class CaptureDevicePosition { Unspecified = 0, Back = 1, Front = 2 };
enum class AuthorizationStatus { NotDetermined = 0, Restricted = 1, Denied = 2, Authorized = 3 };
enum class CaptureTorchMode { Off = 0, On = 1, Auto = 2 };
enum class CaptureFlashMode { Off = 0, On = 1, Auto = 2 };
enum class CaptureFocusMode { Locked = 0, AutoFocus = 1, ContinuousAutoFocus = 2 };
enum class CaptureAutoFocusRangeRestriction { None = 0, Near = 1, Far = 2 };

inline constexpr const char* kCaptureDeviceErrorDomain = "AVFoundationErrorDomain";

// One video capture device: where it faces, what it can do (torch, flash, focus), its
// settings, and the frames it sees. The machine's devices are, by default, the attached
// camera (av::Camera) seen through a back and a front device; a program or a test may put
// others in their place.
//
// Settings change only while the device is locked for configuration; a change without the
// lock, or one the device does not support, is a programming fault (ns::Exception). Settings
// belong to the main thread; frames may be asked for from any thread.
class CaptureDevice {
public:
    // The picture seen `elapsed` after the device started delivering, or null when it sees
    // nothing now. Called from the capture worker.
    using FrameSource = std::function<std::shared_ptr<const ui::Bitmap>(dispatch::Duration)>;

    struct Capabilities {
        bool hasTorch = false;
        bool hasFlash = false;
        bool continuousAutoFocus = false;
        bool autoFocusRangeRestriction = false;
    };

    CaptureDevice(std::string uniqueID, CaptureDevicePosition position, Capabilities capabilities,
                  FrameSource source);

    // The video devices of the machine, in the platform's order.
    static std::vector<std::shared_ptr<CaptureDevice>> devices();
    // The device a camera application starts with: the first back device, else the first.
    static std::shared_ptr<CaptureDevice> defaultDevice();
    // Puts other devices in place of the machine's; nothing goes back to the default.
    static void setDevices(std::optional<std::vector<std::shared_ptr<CaptureDevice>>> devices);

    // Whether the user lets the application use the camera. Not determined until someone says.
    static AuthorizationStatus authorizationStatus();
    static void setAuthorizationStatus(AuthorizationStatus status);

    const std::string& uniqueID() const { return uniqueID_; }
    CaptureDevicePosition position() const { return position_; }

    ns::Status lockForConfiguration();
    void unlockForConfiguration();
    // The next lock of this device fails (a device in use elsewhere).
    void setLockRefused(bool refused) { lockRefused_ = refused; }

    bool hasTorch() const { return capabilities_.hasTorch; }
    bool hasFlash() const { return capabilities_.hasFlash; }
    bool isTorchActive() const { return torchMode_ == CaptureTorchMode::On; }
    float torchLevel() const { return torchLevel_; }
    void setTorchMode(CaptureTorchMode mode);
    // Switches the torch on at `level` (0 exclusive to 1); an error for another level.
    ns::Status setTorchModeOnWithLevel(float level);
    static constexpr float kMaxAvailableTorchLevel = 1.0f;
    // The flash fires with the next picture.
    bool isFlashActive() const { return flashMode_ == CaptureFlashMode::On; }
    void setFlashMode(CaptureFlashMode mode);

    bool isFocusModeSupported(CaptureFocusMode mode) const;
    CaptureFocusMode focusMode() const { return focusMode_; }
    void setFocusMode(CaptureFocusMode mode);
    bool isAutoFocusRangeRestrictionSupported() const {
        return capabilities_.autoFocusRangeRestriction;
    }
    CaptureAutoFocusRangeRestriction autoFocusRangeRestriction() const { return range_; }
    void setAutoFocusRangeRestriction(CaptureAutoFocusRangeRestriction restriction);

    std::shared_ptr<const ui::Bitmap> frame(dispatch::Duration elapsed) const;

private:
    void requireLock(const char* operation) const;

    std::string uniqueID_;
    CaptureDevicePosition position_;
    Capabilities capabilities_;
    FrameSource source_;
    bool locked_ = false;
    bool lockRefused_ = false;
    CaptureTorchMode torchMode_ = CaptureTorchMode::Off;
    float torchLevel_ = 0;
    CaptureFlashMode flashMode_ = CaptureFlashMode::Off;
    CaptureFocusMode focusMode_ = CaptureFocusMode::AutoFocus;
    CaptureAutoFocusRangeRestriction range_ = CaptureAutoFocusRangeRestriction::None;
};

}  // namespace av
