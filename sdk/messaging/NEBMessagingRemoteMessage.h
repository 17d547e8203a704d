#pragma once

#include <string>

#include "platform/ns/Value.h"

// A message that arrived over the messaging socket, as the application receives it: its
// key-value pairs without the library's own "msg." keys, and its id apart.
struct NEBMessagingRemoteMessage {
    ns::Dictionary appData;
    // The message's id as the server gave it ("msg.message_id"); empty when it has none. A
    // message handed over again after a restart comes with the same id.
    std::string messageID;
};
