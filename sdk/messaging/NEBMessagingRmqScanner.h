#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "proto/mcs.pb.h"

// Reads the stored outgoing messages back, oldest rmq id first.
class NEBMessagingRmqScanner {
public:
    using RmqMessageHandler =
        std::function<void(int64_t rmqId, int8_t tag, const std::string& data)>;
    using DataMessageHandler =
        std::function<void(int64_t rmqId, const mcs::McsDataMessageStanza& stanza)>;

    virtual ~NEBMessagingRmqScanner() = default;
    // The stored data messages, handed to `done` later on the main queue: the store may be
    // slow to answer, and the caller does not wait for it.
    virtual void readDataMessages(
        std::function<void(std::vector<mcs::McsDataMessageStanza>)> done) = 0;
};
