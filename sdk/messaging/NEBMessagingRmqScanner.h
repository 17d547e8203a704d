#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "proto/mcs.pb.h"

// Reads the stored outgoing messages back, oldest rmq id first.
class NEBMessagingRmqScanner {
public:
    using RmqMessageHandler =
        std::function<void(int64_t rmqId, int8_t tag, const std::string& data)>;
    using DataMessageHandler =
        std::function<void(int64_t rmqId, const mcs::McsDataMessageStanza& stanza)>;

    virtual ~NEBMessagingRmqScanner() = default;
    virtual void scanWithRmqMessageHandler(const RmqMessageHandler& rmqMessageHandler,
                                           const DataMessageHandler& dataMessageHandler) = 0;
};
