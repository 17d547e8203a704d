#include "sdk/messaging/NEBMessagingCheckinService.h"

#include "sdk/instance_id/NEBInstanceID.h"
#include "sdk/instance_id/NEBInstanceIDCheckinPreferences.h"

std::optional<NEBMessagingCheckinPreferences> NEBMessagingCheckinService::credentialsOf(
    const NEBInstanceID& instanceID) {
    auto held = instanceID.cachedCheckinPreferences();
    if (!held) return std::nullopt;
    return NEBMessagingCheckinPreferences{
        .deviceID = held->deviceID(),
        .secretToken = held->secretToken(),
        .versionInfo = held->versionInfo(),
        .digest = held->digest(),
        .lastCheckinTimestampMillis = held->lastCheckinTimestampMillis()};
}

bool NEBMessagingCheckinService::tryToLoadPrefetchedCheckinPreferences() {
    if (cachedCheckinPreferences_) {
        auto fresh = cachedCheckinPreferences_();
        if (fresh && fresh->hasValidCheckinInfo()) checkinPreferences_ = std::move(fresh);
    }
    return hasValidCheckinInfo();
}
