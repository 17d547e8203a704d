#pragma once

#include <optional>
#include <string>

#include "platform/ns/Error.h"
#include "platform/ns/Value.h"

// The receiver of data messages and of the outcome of upstream sends.
class NEBMessagingDataMessageManagerDelegate {
public:
    virtual ~NEBMessagingDataMessageManagerDelegate() = default;
    // The message is the receiver's to keep.
    virtual void didReceiveMessage(ns::Dictionary message, const std::string& identifier) = 0;
    virtual void willSendDataMessageWithID(const std::string& messageID,
                                           const std::optional<ns::Error>& error) = 0;
    virtual void didSendDataMessageWithID(const std::string& messageID) = 0;
    virtual void didDeleteMessagesOnServer() = 0;
};
