#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "sdk/messaging/NEBMessagingCheckinPreferences.h"

class NEBInstanceID;

// Holds the check-in credentials that instance identity obtained; never fetches any itself.
// Instance identity is reached through the function given at creation (in the program,
// credentialsOf() the shared instance), so that a test can stand in for it.
class NEBMessagingCheckinService {
public:
    using CachedCheckinPreferences = std::function<std::optional<NEBMessagingCheckinPreferences>()>;

    // What the instance holds, as messaging reads it; nothing before a check-in.
    static std::optional<NEBMessagingCheckinPreferences> credentialsOf(
        const NEBInstanceID& instanceID);

    explicit NEBMessagingCheckinService(CachedCheckinPreferences cachedCheckinPreferences)
        : cachedCheckinPreferences_(std::move(cachedCheckinPreferences)) {}

    // Takes instance identity's credentials when they are valid; answers whether the held ones
    // are. Valid credentials are never replaced by invalid ones.
    bool tryToLoadPrefetchedCheckinPreferences();

    const std::optional<NEBMessagingCheckinPreferences>& checkinPreferences() const {
        return checkinPreferences_;
    }
    std::string deviceAuthID() const {
        return checkinPreferences_ ? checkinPreferences_->deviceID : "";
    }
    std::string secretToken() const {
        return checkinPreferences_ ? checkinPreferences_->secretToken : "";
    }
    std::string versionInfo() const {
        return checkinPreferences_ ? checkinPreferences_->versionInfo : "";
    }
    std::string digest() const { return checkinPreferences_ ? checkinPreferences_->digest : ""; }
    int64_t lastCheckinTimestampMillis() const {
        return checkinPreferences_ ? checkinPreferences_->lastCheckinTimestampMillis : 0;
    }
    bool hasValidCheckinInfo() const {
        return checkinPreferences_ && checkinPreferences_->hasValidCheckinInfo();
    }

private:
    CachedCheckinPreferences cachedCheckinPreferences_;
    std::optional<NEBMessagingCheckinPreferences> checkinPreferences_;
};
