#include "sdk/messaging/NEBMessagingCheckinService.h"

bool NEBMessagingCheckinService::tryToLoadPrefetchedCheckinPreferences() {
    if (cachedCheckinPreferences_) {
        auto fresh = cachedCheckinPreferences_();
        if (fresh && fresh->hasValidCheckinInfo()) checkinPreferences_ = std::move(fresh);
    }
    return hasValidCheckinInfo();
}
