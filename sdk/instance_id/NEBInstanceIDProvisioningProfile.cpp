#include "sdk/instance_id/NEBInstanceIDProvisioningProfile.h"

#include "platform/ns/Format.h"
#include "platform/ns/PropertyListSerialization.h"
#include "platform/sec/ProvisioningProfile.h"

std::optional<std::string> NEBInstanceIDProvisioningProfile::apsEnvironment(const ns::Data& profile,
                                                                            const Logger& log) {
    if (profile.empty()) {
        log("Error while reading embedded mobileprovision (null)");
        return std::nullopt;
    }
    auto plist = sec::ProvisioningProfile::plistText(profile);
    if (!plist) return std::nullopt;
    if (plist->empty()) {
        log("Couldn't read plist fetched from embedded mobileprovision");
        return std::nullopt;
    }
    auto parsed = ns::PropertyListSerialization::read(ns::Data::fromString(*plist));
    if (!parsed.ok() || !parsed->dictionary()) {
        log(ns::format(
            "Error while converting assumed plist to dict %@",
            parsed.ok() ? std::string("(null)") : parsed.error().localizedDescription()));
        return std::nullopt;
    }
    const auto* environment = (*parsed)["Entitlements"]["aps-environment"].string();
    log(ns::format("APNS Environment in profile: %@",
                   environment ? *environment : std::string("(null)")));
    if (!environment || environment->empty()) {
        log("No aps-environment set. If testing on a device APNS is not correctly configured. "
            "Please recheck your provisioning profiles. If testing on a simulator this is fine "
            "since APNS doesn't work on the simulator.");
        return std::nullopt;
    }
    return *environment;
}
