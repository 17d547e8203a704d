#pragma once

#include <optional>
#include <string>

#include "platform/ns/UUID.h"
#include "platform/sys/DeviceFacts.h"

namespace ui {

// The device as the interface sees it. Headless, so each of its own facts is configuration
// with a phone's defaults: name and model "iPhone", phone idiom, portrait, multitasking
// supported. The system's name and version and the vendor identifier are sys::DeviceFacts',
// the one owner of the device facts, and are answered from there. Reads may come from any
// thread; the host configures the device before it starts other threads.
class Device {
public:
    enum class Idiom { Unspecified = -1, Phone = 0, Pad = 1 };
    enum class Orientation {
        Unknown = 0,
        Portrait = 1,
        PortraitUpsideDown = 2,
        LandscapeLeft = 3,
        LandscapeRight = 4,
        FaceUp = 5,
        FaceDown = 6
    };

    static Device& current();

    const std::string& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }
    const std::string& model() const { return model_; }
    std::string systemName() const { return sys::DeviceFacts::current().systemName(); }
    // "major.minor", compared numerically by callers.
    std::string systemVersion() const { return sys::DeviceFacts::current().systemVersion(); }
    void setSystemVersion(std::string version) {
        sys::DeviceFacts::current().setSystemVersion(std::move(version));
    }
    Idiom userInterfaceIdiom() const { return idiom_; }
    void setUserInterfaceIdiom(Idiom idiom) { idiom_ = idiom; }
    Orientation orientation() const { return orientation_; }
    void setOrientation(Orientation orientation) { orientation_ = orientation; }
    bool isMultitaskingSupported() const { return multitasking_; }
    std::optional<ns::UUID> identifierForVendor() const {
        return sys::DeviceFacts::current().identifierForVendor();
    }
    void setIdentifierForVendor(std::optional<ns::UUID> identifier) {
        sys::DeviceFacts::current().setIdentifierForVendor(identifier);
    }

private:
    std::string name_ = "iPhone";
    std::string model_ = "iPhone";
    Idiom idiom_ = Idiom::Phone;
    Orientation orientation_ = Orientation::Portrait;
    bool multitasking_ = true;
};

}  // namespace ui
