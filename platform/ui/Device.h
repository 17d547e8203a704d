#pragma once

#include <optional>
#include <string>

#include "platform/ns/UUID.h"

namespace ui {

// Facts about the device. Headless, so each is configuration with a phone's defaults: name
// and model "iPhone", system "iOS" "17.0", phone idiom, portrait, multitasking supported. The
// vendor identifier is made once per process unless the host sets the one it keeps. Reads may
// come from any thread; the host configures the device before it starts other threads.
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
    void setModel(std::string model) { model_ = std::move(model); }
    const std::string& systemName() const { return systemName_; }
    // "major.minor", compared numerically by callers.
    const std::string& systemVersion() const { return systemVersion_; }
    void setSystemVersion(std::string version) { systemVersion_ = std::move(version); }
    Idiom userInterfaceIdiom() const { return idiom_; }
    void setUserInterfaceIdiom(Idiom idiom) { idiom_ = idiom; }
    Orientation orientation() const { return orientation_; }
    void setOrientation(Orientation orientation) { orientation_ = orientation; }
    bool isMultitaskingSupported() const { return multitasking_; }
    void setMultitaskingSupported(bool on) { multitasking_ = on; }
    const std::optional<ns::UUID>& identifierForVendor() const { return vendorIdentifier_; }
    void setIdentifierForVendor(std::optional<ns::UUID> identifier) {
        vendorIdentifier_ = identifier;
    }

private:
    std::string name_ = "iPhone";
    std::string model_ = "iPhone";
    std::string systemName_ = "iOS";
    std::string systemVersion_ = "17.0";
    Idiom idiom_ = Idiom::Phone;
    Orientation orientation_ = Orientation::Portrait;
    bool multitasking_ = true;
    std::optional<ns::UUID> vendorIdentifier_ = ns::UUID();
};

}  // namespace ui
