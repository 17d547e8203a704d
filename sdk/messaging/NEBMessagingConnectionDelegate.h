#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "proto/mcs.pb.h"

class NEBMessagingConnection;

// The client's side of the signed-in link.
class NEBMessagingConnectionDelegate {
public:
    enum CloseReason : int { kSocketClosed = 0, kTimeout = 1 };

    virtual ~NEBMessagingConnectionDelegate() = default;
    virtual void connectionDidCloseForReason(NEBMessagingConnection& connection,
                                             CloseReason reason) = 0;
    virtual void didLoginWithConnection(NEBMessagingConnection& connection) = 0;
    virtual void connectionDidRecieveMessage(const mcs::McsDataMessageStanza& message) = 0;
    // Answers how many stored outgoing messages the ids confirmed.
    virtual int32_t connectionDidReceiveAckForRmqIds(const std::vector<std::string>& rmqIds) = 0;
};
