#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ns/SharedInstance.h"
#include "platform/ui/Geometry.h"

namespace ui {
class Device;
}  // namespace ui

// Keyboard notifications and their user-info keys, with the platform's names. A frame's value
// is a dictionary {"x", "y", "width", "height"} of numbers.
inline constexpr const char* kNEBMessagingKeyboardDidShowNotification =
    "UIKeyboardDidShowNotification";
inline constexpr const char* kNEBMessagingKeyboardWillHideNotification =
    "UIKeyboardWillHideNotification";
inline constexpr const char* kNEBMessagingKeyboardFrameBeginKey = "UIKeyboardFrameBeginUserInfoKey";
inline constexpr const char* kNEBMessagingKeyboardBoundsKey = "UIKeyboardBoundsUserInfoKey";

// Facts of the device for the messaging library: the hardware model, the system version as one
// number, the screen and the keyboard's size. Nothing in this program asks for them. The model
// and the version are read once. A desktop has no proximity sensor: monitoring stays off and
// nothing is ever near. Any thread; the keyboard's size follows notifications once
// ensureInitialized() ran.
class NEBMessagingDevice {
public:
    static NEBMessagingDevice& currentDevice();
    // The shared instance starts listening to the keyboard (once).
    static void ensureInitialized();

    ~NEBMessagingDevice();
    NEBMessagingDevice(const NEBMessagingDevice&) = delete;
    NEBMessagingDevice& operator=(const NEBMessagingDevice&) = delete;

    // The machine name of the system ("iPhone15,2" on a phone, the kernel's machine here).
    std::string modelVersion();
    // "17.0.1" is 17 * 10000 + 0 * 100 + 1: 170001; parts past the third are left out.
    uint64_t iPhoneOSVersion();
    ui::Size screenDimensions() const;
    // 1.0 on systems before 4.0, else the main screen's scale.
    double screenScaleFactor();
    void setProximityMonitoringEnabled(bool enabled);
    bool isProximityMonitoringEnabled() const;
    bool proximityState() const;
    ui::Size keyboardSize() const;

    // Not filled by anything, as on the platform.
    std::string normalizedModel;
    std::string generation;
    std::string deviceCategory;
    bool isRecognizedModel = false;

private:
    friend class ns::SharedInstance<NEBMessagingDevice>;
    NEBMessagingDevice() = default;
    void startListening();
    void keyboardDidShow(const ns::Notification& notification);

    mutable dispatch::Mutex mutex_;
    std::optional<std::string> machineName_ GUARDED_BY(mutex_);
    uint64_t iPhoneOSVersion_ GUARDED_BY(mutex_) = UINT64_MAX;  // all ones until computed
    ui::Size keyboardSize_ GUARDED_BY(mutex_);
    bool listening_ GUARDED_BY(mutex_) = false;
};
