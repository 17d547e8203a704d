#pragma once

#include "sdk/messaging/NEBMessagingRemoteMessage.h"

// The application's receiver of socket messages on newer systems. The operation is optional:
// a delegate that does not answer it lets such messages go undelivered.
class NEBMessagingDelegate {
public:
    virtual ~NEBMessagingDelegate() = default;
    virtual bool respondsToApplicationReceivedRemoteMessage() const { return false; }
    virtual void applicationReceivedRemoteMessage(const NEBMessagingRemoteMessage& /*message*/) {}
    // Whether the delegate tells the library when each message with an id has reached its
    // destination (NEBMessaging::didDeliverRemoteMessage). The library then keeps the message
    // until told, and hands it over again at the next start if it never is. Otherwise a
    // message counts as delivered once handed over.
    virtual bool confirmsDelivery() const { return false; }
};
