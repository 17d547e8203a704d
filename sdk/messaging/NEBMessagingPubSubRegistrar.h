#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/dispatch/Mutex.h"
#include "sdk/messaging/NEBMessagingPubsubRegistrationClient.h"

// Keeps one registration client per token, topic and options, and refuses a second request
// for the same key while one runs. Requests start on the main thread.
class NEBMessagingPubSubRegistrar {
public:
    static constexpr int64_t kErrorRequestInProgress = 5;

    // Each request runs within `limits` (the services' topic registration row).
    NEBMessagingPubSubRegistrar(std::shared_ptr<NEBMessagingCheckinService> checkin,
                                NEBRequestLimits limits)
        : checkinService_(std::move(checkin)), limits_(std::move(limits)) {}

    void updateSubscriptionToTopic(const std::string& topic, const std::string& token,
                                   const ns::Dictionary& options, bool shouldDelete,
                                   NEBMessagingPubsubRegistrationClient::Handler handler);
    void stopAllSubscriptionRequests();

private:
    std::shared_ptr<NEBMessagingCheckinService> checkinService_;
    const NEBRequestLimits limits_;
    dispatch::Mutex mutex_;
    std::map<std::string, std::shared_ptr<NEBMessagingPubsubRegistrationClient>> pubsubClientsMap_
        GUARDED_BY(mutex_);
};
