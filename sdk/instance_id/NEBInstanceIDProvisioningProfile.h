#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/ns/Data.h"

// The "aps-environment" entitlement of the application's provisioning profile: a signed
// envelope around an XML property list, read by cutting the plist text out of the bytes.
class NEBInstanceIDProvisioningProfile {
public:
    using Logger = std::function<void(const std::string&)>;
    // Nothing when the profile holds no readable plist or no such entitlement; each reason
    // goes to the logger.
    static std::optional<std::string> apsEnvironment(const ns::Data& profile, const Logger& log);
};
