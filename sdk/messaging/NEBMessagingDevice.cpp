#include "sdk/messaging/NEBMessagingDevice.h"

#include <charconv>

#include "platform/sys/DeviceFacts.h"
#include "platform/ui/Device.h"
#include "platform/ui/Screen.h"

namespace {

// The frame's size, or nothing when the value is not a frame.
std::optional<ui::Size> sizeOf(const ns::Value& frame) {
    if (!frame.isDictionary() || !frame["width"].isNumber() || !frame["height"].isNumber()) {
        return std::nullopt;
    }
    return ui::Size{frame["width"].doubleValue(), frame["height"].doubleValue()};
}

}  // namespace

NEBMessagingDevice& NEBMessagingDevice::currentDevice() {
    return ns::SharedInstance<NEBMessagingDevice>::get();
}

void NEBMessagingDevice::ensureInitialized() {
    currentDevice().startListening();
}

NEBMessagingDevice::~NEBMessagingDevice() {
    ns::NotificationCenter::defaultCenter().removeObserver(this);
}

void NEBMessagingDevice::startListening() {
    {
        dispatch::Lock lock(mutex_);
        if (listening_) return;
        listening_ = true;
    }
    auto& center = ns::NotificationCenter::defaultCenter();
    center.addObserver(this, kNEBMessagingKeyboardDidShowNotification, nullptr,
                       [this](const ns::Notification& note) { keyboardDidShow(note); });
    center.addObserver(this, kNEBMessagingKeyboardWillHideNotification, nullptr,
                       [this](const ns::Notification&) {
                           dispatch::Lock lock(mutex_);
                           keyboardSize_ = {};
                       });
}

void NEBMessagingDevice::keyboardDidShow(const ns::Notification& notification) {
    auto size = sizeOf(notification.userInfo.contains(kNEBMessagingKeyboardFrameBeginKey)
                           ? notification.userInfo.at(kNEBMessagingKeyboardFrameBeginKey)
                           : ns::Value());
    if (!size && notification.userInfo.contains(kNEBMessagingKeyboardBoundsKey)) {
        size = sizeOf(notification.userInfo.at(kNEBMessagingKeyboardBoundsKey));
    }
    dispatch::Lock lock(mutex_);
    keyboardSize_ = size.value_or(ui::Size{});
}

std::string NEBMessagingDevice::modelVersion() {
    dispatch::Lock lock(mutex_);
    if (!machineName_) machineName_ = sys::DeviceFacts::current().machine();
    return *machineName_;
}

uint64_t NEBMessagingDevice::iPhoneOSVersion() {
    dispatch::Lock lock(mutex_);
    if (iPhoneOSVersion_ != UINT64_MAX) return iPhoneOSVersion_;
    const std::string version = ui::Device::current().systemVersion();
    uint64_t weights[] = {10000, 100, 1};
    uint64_t total = 0;
    const char* at = version.data();
    const char* end = version.data() + version.size();
    for (uint64_t weight : weights) {
        uint64_t part = 0;
        auto [next, error] = std::from_chars(at, end, part);
        if (error == std::errc() && part < 100000) total += part * weight;
        at = next;
        while (at < end && *at != '.') ++at;  // anything that is not a number counts as 0
        if (at == end) break;
        ++at;
    }
    iPhoneOSVersion_ = total;
    return total;
}

ui::Size NEBMessagingDevice::screenDimensions() const {
    return ui::Screen::main().bounds().size;
}

double NEBMessagingDevice::screenScaleFactor() {
    return iPhoneOSVersion() < 40000 ? 1.0 : ui::Screen::main().scale();
}

void NEBMessagingDevice::setProximityMonitoringEnabled(bool) {
    // Without a sensor the platform leaves monitoring off, whatever was asked.
}

bool NEBMessagingDevice::isProximityMonitoringEnabled() const {
    return false;
}

bool NEBMessagingDevice::proximityState() const {
    return false;
}

ui::Size NEBMessagingDevice::keyboardSize() const {
    dispatch::Lock lock(mutex_);
    return keyboardSize_;
}
