#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Value.h"

inline constexpr const char* kNEBInstanceIDDigestKey = "NMSInstanceIDDigestKey";
inline constexpr const char* kNEBInstanceIDVersionInfoKey = "NMSInstanceIDVersionInfo";
inline constexpr const char* kNEBInstanceIDDeviceDataVersionKey = "NMSInstanceIDDeviceDataVersion";
inline constexpr const char* kNEBInstanceIDLastCheckinTimestampKey =
    "NMSInstanceIDLastCheckinTimestampKey";
inline constexpr const char* kNEBInstanceIDServiceSettingsDataKey =
    "NMSInstanceIDServiceSettingsData";
inline constexpr const char* kNEBInstanceIDDeviceAuthIdKey = "NMSInstanceIDDeviceAuthIdKey";
inline constexpr const char* kNEBInstanceIDSecretTokenKey = "NMSInstanceIDSecretTokenKey";

// One device check-in: the credentials (decimal texts, kept digit for digit) and the service's
// bookkeeping. Valid for 24 hours with both credentials non-empty. A plain value: holders share
// it as an immutable snapshot and replace it whole.
class NEBInstanceIDCheckinPreferences {
public:
    NEBInstanceIDCheckinPreferences(std::string deviceID, std::string secretToken)
        : deviceID_(std::move(deviceID)), secretToken_(std::move(secretToken)) {}

    // "id|secret"; nothing unless both parts are non-empty.
    static std::optional<NEBInstanceIDCheckinPreferences> preferencesFromKeychainContents(
        std::string_view contents);
    // The part at the index of a text that splits at "|" into exactly two parts.
    static std::optional<std::string> checkinKeychainContent(std::string_view contents,
                                                             size_t index);

    const std::string& deviceID() const { return deviceID_; }
    const std::string& secretToken() const { return secretToken_; }
    const std::string& digest() const { return digest_; }
    const std::string& versionInfo() const { return versionInfo_; }
    const std::string& deviceDataVersion() const { return deviceDataVersion_; }
    const ns::Dictionary& serviceSettingsData() const { return settings_; }
    int64_t lastCheckinTimestampMillis() const { return lastCheckinTimestampMillis_; }
    bool hasPreCachedAuthCredentials() const { return hasPreCachedAuthCredentials_; }
    void setHasPreCachedAuthCredentials(bool cached) { hasPreCachedAuthCredentials_ = cached; }

    std::optional<std::string> checkinKeychainContent() const;
    ns::Dictionary checkinPlistContents() const;
    // Takes the known keys of the dictionary that hold values of the expected kind.
    void updateWithCheckinPlistContents(const ns::Dictionary& contents);
    void reset();
    bool hasValidCheckinInfo() const;

private:
    std::string deviceID_;
    std::string secretToken_;
    std::string digest_;
    std::string versionInfo_;
    std::string deviceDataVersion_;
    ns::Dictionary settings_;
    int64_t lastCheckinTimestampMillis_ = 0;
    bool hasPreCachedAuthCredentials_ = false;
};
