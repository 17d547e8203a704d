#pragma once

#include <string>

#include "bridge/HYBPlugin.h"
#include "platform/ns/Value.h"

namespace ui {
class Device;
}  // namespace ui

// The page's facts about the device: manufacturer, hardware model, system and its version,
// an identifier of this installation, the runtime's version, and whether the device is
// virtual.
class HYBDevice : public HYBPlugin {
public:
    // The user default holding the installation identifier.
    static constexpr const char* kInstallationIdentifierKey = "HYBUUID";

    HYBDevice();

    // Page action: answers OK with deviceProperties(). Reads no arguments, never fails.
    void getDeviceInfo(const HYBInvokedUrlCommand& command);

    // {"manufacturer", "model", "platform", "version", "uuid", "hybrid", "isVirtual"}.
    ns::Dictionary deviceProperties() const;
    // The identifier kept under "HYBUUID": the first call after installation stores the
    // device's vendor identifier (a new random one without it) and saves it at once; every
    // later call, also after a restart, returns it unchanged. Safe from any thread: concurrent
    // first calls store one identifier and all return it.
    std::string uniqueAppInstanceIdentifier(const ui::Device& device) const;

    // "6.2.0".
    static std::string hybridVersion();
    static bool isVirtual() { return false; }
};
