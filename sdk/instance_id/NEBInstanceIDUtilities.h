#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Data.h"

inline constexpr const char* kNEBInstanceIDScopeNCM = "ncm";
inline constexpr const char* kNEBInstanceIDDefaultScope = "*";
inline constexpr const char* kNEBInstanceIDAllScopeIdentifier = "iid-all";
inline constexpr const char* kNEBInstanceIDApplicationSupportSubDirectory =
    "Nebula/NebulaInstanceID";

// The services' endpoints, from the SDK's service hosts (NEBServiceHosts).
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
