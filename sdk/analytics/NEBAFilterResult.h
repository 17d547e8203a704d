#pragma once

#include <cstdint>

#include "platform/ns/Data.h"

// The evaluation state of one audience: its current and previously bundled result bit sets,
// each a serialized result message or empty.
struct NEBAFilterResult {
    int32_t audienceID = 0;
    ns::Data currentResults;
    ns::Data previousResults;
};
