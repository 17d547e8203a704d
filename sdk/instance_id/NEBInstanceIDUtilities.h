#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <mutex>

#include "platform/ns/Data.h"
#include "platform/ns/SharedInstance.h"

inline constexpr const char* kNEBInstanceIDScopeNCM = "ncm";
inline constexpr const char* kNEBInstanceIDDefaultScope = "*";
inline constexpr const char* kNEBInstanceIDAllScopeIdentifier = "iid-all";
inline constexpr const char* kNEBInstanceIDApplicationSupportSubDirectory =
    "Nebula/NebulaInstanceID";

// Where the check-in and registration services live: configuration, like the core's hosts.
// The defaults name hosts that never resolve. Any thread.
class NEBInstanceIDServiceHosts {
public:
    // Default "https://device-provisioning.nebula.invalid"; requests go to "<base>/checkin".
    static std::string checkinServerBaseURL();
    static void setCheckinServerBaseURL(std::string url);
    // Default "https://iid.nebula.invalid"; requests go to "<base>/iid/register".
    static std::string registrationServerBaseURL();
    static void setRegistrationServerBaseURL(std::string url);

private:
    friend class ns::SharedInstance<NEBInstanceIDServiceHosts>;
    NEBInstanceIDServiceHosts() = default;
    static NEBInstanceIDServiceHosts& shared() {
        return ns::SharedInstance<NEBInstanceIDServiceHosts>::get();
    }
    std::mutex mutex_;
    std::string checkinBase_ = "https://device-provisioning.nebula.invalid";
    std::string registrationBase_ = "https://iid.nebula.invalid";
};

std::string NEBInstanceIDCheckinURL();
std::string NEBInstanceIDRegistrationURL();

// Whole seconds since 1970, on the program's clock.
int64_t NEBInstanceIDCurrentTimestampInSeconds();
// The whole seconds times 1000.
int64_t NEBInstanceIDCurrentTimestampInMilliseconds();

// "CFBundleShortVersionString" of the main bundle, or "".
std::string NEBInstanceIDCurrentAppVersion();
std::string NEBInstanceIDAppIdentifier();

bool NEBInstanceIDIsMessagingScope(std::string_view scope);
bool NEBInstanceIDIsDefaultScope(std::string_view scope);

// "s_" (sandbox) or "p_" (production), then two lower-case hexadecimal digits per byte.
std::string NEBInstanceIDAPNSTokenString(const ns::Data& deviceToken, bool isSandbox);

// Messaging's SDK version when messaging is present and answers one.
std::optional<std::string> NEBInstanceIDMessagingSDKVersion();
// Messaging's current locale, else the first preferred language.
std::string NEBInstanceIDMessagingSDKCurrentLocale();

std::string NEBInstanceIDCurrentLibraryVersion();

// The local time zone's name ("Europe/Paris"), "UTC" when the system names none.
std::string NEBInstanceIDLocalTimeZoneName();
