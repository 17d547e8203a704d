#pragma once

#include <cstdint>
#include <string>

#include "platform/ns/Data.h"

// A stored event filter of an audience: the serialized filter message with its keys.
struct NEBAEventFilter {
    int32_t audienceID = 0;
    int32_t filterID = 0;
    std::string eventName;
    ns::Data data;
};
