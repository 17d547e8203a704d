#include "sdk/messaging/NEBMessagingPubSubRegistrar.h"

#include "sdk/messaging/NEBMessagingUtilities.h"

void NEBMessagingPubSubRegistrar::updateSubscriptionToTopic(
    const std::string& topic, const std::string& token, const ns::Dictionary& options,
    bool shouldDelete, NEBMessagingPubsubRegistrationClient::Handler handler) {
    std::string key =
        NEBMessagingPubsubRegistrationClient::pubsubRegistrationKeyWithToken(token, topic, options);
    std::shared_ptr<NEBMessagingPubsubRegistrationClient> client;
    {
        dispatch::Lock lock(mutex_);
        auto& slot = pubsubClientsMap_[key];
        if (!slot) {
            slot = std::make_shared<NEBMessagingPubsubRegistrationClient>(checkinService_, token,
                                                                          topic, options, limits_);
        }
        client = slot;
    }
    if (client->isSubscriptionInProgress()) {
        handler(std::nullopt, ns::Error(kNEBMessagingDomain, kErrorRequestInProgress));
        return;
    }
    client->updateSubscriptionWithCompletion(std::move(handler), shouldDelete);
}

void NEBMessagingPubSubRegistrar::stopAllSubscriptionRequests() {
    dispatch::Lock lock(mutex_);
    for (auto& [key, client] : pubsubClientsMap_) client->cancelAnyOngoingOperation();
}
