#pragma once

#include "sdk/messaging/NEBMessagingRemoteMessage.h"

// The application's receiver of socket messages on newer systems. The operation is optional:
// a delegate that does not answer it lets such messages go undelivered.
class NEBMessagingDelegate {
public:
    virtual ~NEBMessagingDelegate() = default;
    virtual bool respondsToApplicationReceivedRemoteMessage() const { return false; }
    virtual void applicationReceivedRemoteMessage(const NEBMessagingRemoteMessage& /*message*/) {}
};
