#pragma once

#include <memory>
#include <string>

#include "sdk/messaging/NEBMessagingCheckinService.h"

// The client's front to the check-in credentials.
class NEBMessagingRegistrar {
public:
    explicit NEBMessagingRegistrar(
        NEBMessagingCheckinService::CachedCheckinPreferences cachedCheckinPreferences)
        : checkinService_(std::move(cachedCheckinPreferences)) {}

    bool tryToLoadValidCheckinInfo() {
        if (!checkinService_.hasValidCheckinInfo()) {
            checkinService_.tryToLoadPrefetchedCheckinPreferences();
        }
        return checkinService_.hasValidCheckinInfo();
    }
    bool hasValidCheckinInfo() const { return checkinService_.hasValidCheckinInfo(); }
    std::string deviceAuthID() const { return checkinService_.deviceAuthID(); }
    std::string secretToken() const { return checkinService_.secretToken(); }
    NEBMessagingCheckinService& checkinService() { return checkinService_; }

private:
    NEBMessagingCheckinService checkinService_;
};
