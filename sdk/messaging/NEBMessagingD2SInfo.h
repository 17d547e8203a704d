#pragma once

#include <cstdint>
#include <string>

// An own message sent with a persistent id: the outgoing stream id of its frame and that id.
struct NEBMessagingD2SInfo {
    int32_t streamId = 0;
    std::string d2sID;
    bool operator==(const NEBMessagingD2SInfo&) const = default;
};
