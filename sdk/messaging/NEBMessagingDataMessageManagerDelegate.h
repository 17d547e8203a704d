#pragma once

#include <optional>
#include <string>

#include "platform/ns/Error.h"
#include "platform/ns/Value.h"

// The receiver of data messages and of the outcome of upstream sends.
class NEBMessagingDataMessageManagerDelegate {
public:
    virtual ~NEBMessagingDataMessageManagerDelegate() = default;
    // The message is the receiver's to keep. True when it went to a receiver that will confirm
    // its delivery; until then the store keeps it (see NEBMessaging::didDeliverRemoteMessage).
    virtual bool didReceiveMessage(ns::Dictionary message, const std::string& identifier) = 0;
    virtual void willSendDataMessageWithID(const std::string& messageID,
                                           const std::optional<ns::Error>& error) = 0;
    virtual void didSendDataMessageWithID(const std::string& messageID) = 0;
    virtual void didDeleteMessagesOnServer() = 0;
};
