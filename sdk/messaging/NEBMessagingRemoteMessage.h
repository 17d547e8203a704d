#pragma once

#include "platform/ns/Value.h"

// A message that arrived over the messaging socket, as the application receives it: its
// key-value pairs without the library's own "msg." keys.
struct NEBMessagingRemoteMessage {
    ns::Dictionary appData;
};
