#pragma once

#include "platform/ns/Value.h"

// De-duplicates messages that arrive both from the platform's push service and over the
// socket.
class NEBMessagingSyncMessageManager {
public:
    virtual ~NEBMessagingSyncMessageManager() = default;
    // Answers true when the message has already been delivered by the other road.
    virtual bool didReceiveMCSSyncMessage(const ns::Dictionary& message) = 0;
};
