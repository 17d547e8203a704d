#pragma once

#include <cstdint>

// What the receipt of a platform-delivered notification found.
struct NEBMessagingMessageInfo {
    static constexpr int64_t kStatusUnknown = 0;  // an empty message
    static constexpr int64_t kStatusNew = 1;
    int64_t status = kStatusUnknown;
};
