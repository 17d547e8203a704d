#include "plugins/device_storage/HYBDevice.h"

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBPluginResult.h"
#include "platform/dispatch/Mutex.h"
#include "platform/ns/Format.h"
#include "platform/ns/UUID.h"
#include "platform/ns/UserDefaults.h"
#include "platform/ui/Device.h"
#include "plugins/device_storage/UIDevice+ModelVersion.h"

namespace {

constexpr const char* kManufacturer = "Apple";
constexpr int kVersionMajor = 6;
constexpr int kVersionMinor = 2;
constexpr int kVersionPatch = 0;

}  // namespace

HYBDevice::HYBDevice() {
    registerAction("getDeviceInfo", &HYBDevice::getDeviceInfo);
}

void HYBDevice::getDeviceInfo(const HYBInvokedUrlCommand& command) {
    auto result =
        HYBPluginResult::resultWithStatusMessageAsDictionary(HYBResultStatusOK, deviceProperties());
    sendToPage(result, command.callbackId());
}

ns::Dictionary HYBDevice::deviceProperties() const {
    const ui::Device& device = ui::Device::current();
    ns::Dictionary properties;
    properties.emplace("manufacturer", kManufacturer);
    properties.emplace("model", modelVersion(device));
    properties.emplace("platform", device.systemName());
    properties.emplace("version", device.systemVersion());
    properties.emplace("uuid", uniqueAppInstanceIdentifier(device));
    properties.emplace("hybrid", hybridVersion());
    properties.emplace("isVirtual", isVirtual());
    return properties;
}

std::string HYBDevice::uniqueAppInstanceIdentifier(const ui::Device& device) const {
    // The read, the choice and the write are one step, so that two first calls at the same
    // time cannot store two identifiers and answer both.
    static dispatch::Mutex creation;
    dispatch::Lock lock(creation);
    auto defaults = ns::UserDefaults::standardUserDefaults();
    const ns::Value stored = defaults->objectForKey(kInstallationIdentifierKey);
    if (const std::string* identifier = stored.string()) return *identifier;
    const auto& vendor = device.identifierForVendor();
    const std::string identifier = vendor ? vendor->UUIDString() : ns::UUID().UUIDString();
    defaults->setObject(kInstallationIdentifierKey, identifier);
    defaults->synchronize();
    return identifier;
}

std::string HYBDevice::hybridVersion() {
    return ns::format("%d.%d.%d", kVersionMajor, kVersionMinor, kVersionPatch);
}
