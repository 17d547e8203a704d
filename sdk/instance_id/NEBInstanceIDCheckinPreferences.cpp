#include "sdk/instance_id/NEBInstanceIDCheckinPreferences.h"

#include "sdk/instance_id/NEBInstanceIDUtilities.h"

namespace {

constexpr int64_t kCheckinValidityMillis = 86400000;

}  // namespace

std::optional<std::string> NEBInstanceIDCheckinPreferences::checkinKeychainContent(
    std::string_view contents, size_t index) {
    auto bar = contents.find('|');
    if (bar == std::string_view::npos || contents.find('|', bar + 1) != std::string_view::npos) {
        return std::nullopt;
    }
    if (index == 0) return std::string(contents.substr(0, bar));
    if (index == 1) return std::string(contents.substr(bar + 1));
    return std::nullopt;
}

std::optional<NEBInstanceIDCheckinPreferences>
NEBInstanceIDCheckinPreferences::preferencesFromKeychainContents(std::string_view contents) {
    auto deviceID = checkinKeychainContent(contents, 0);
    auto secret = checkinKeychainContent(contents, 1);
    if (!deviceID || !secret || deviceID->empty() || secret->empty()) return std::nullopt;
    return NEBInstanceIDCheckinPreferences(*deviceID, *secret);
}

std::optional<std::string> NEBInstanceIDCheckinPreferences::checkinKeychainContent() const {
    if (deviceID_.empty() || secretToken_.empty()) return std::nullopt;
    return deviceID_ + "|" + secretToken_;
}

ns::Dictionary NEBInstanceIDCheckinPreferences::checkinPlistContents() const {
    return ns::Dictionary{
        {kNEBInstanceIDDigestKey, digest_},
        {kNEBInstanceIDVersionInfoKey, versionInfo_},
        {kNEBInstanceIDDeviceDataVersionKey, deviceDataVersion_},
        {kNEBInstanceIDLastCheckinTimestampKey, lastCheckinTimestampMillis_},
        {kNEBInstanceIDServiceSettingsDataKey, settings_},
    };
}

void NEBInstanceIDCheckinPreferences::updateWithCheckinPlistContents(
    const ns::Dictionary& contents) {
    for (const auto& [key, value] : contents) {
        if (key == kNEBInstanceIDDigestKey) {
            if (const auto* text = value.string()) digest_ = *text;
        } else if (key == kNEBInstanceIDVersionInfoKey) {
            if (const auto* text = value.string()) versionInfo_ = *text;
        } else if (key == kNEBInstanceIDDeviceDataVersionKey) {
            if (const auto* text = value.string()) deviceDataVersion_ = *text;
        } else if (key == kNEBInstanceIDLastCheckinTimestampKey) {
            if (auto millis = value.int64()) lastCheckinTimestampMillis_ = *millis;
        } else if (key == kNEBInstanceIDServiceSettingsDataKey) {
            if (const auto* settings = value.dictionary()) settings_ = *settings;
        }
    }
}

void NEBInstanceIDCheckinPreferences::reset() {
    deviceID_.clear();
    secretToken_.clear();
    digest_.clear();
    versionInfo_.clear();
    deviceDataVersion_.clear();
    settings_.clear();
    lastCheckinTimestampMillis_ = 0;
}

bool NEBInstanceIDCheckinPreferences::hasValidCheckinInfo() const {
    if (deviceID_.empty() || secretToken_.empty()) return false;
    // Differences that would overflow are far outside the window either way.
    int64_t now = NEBInstanceIDCurrentTimestampInMilliseconds();
    if (lastCheckinTimestampMillis_ < now - kCheckinValidityMillis) return false;
    return now - lastCheckinTimestampMillis_ < kCheckinValidityMillis;
}
