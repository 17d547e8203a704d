#pragma once

#include <cstdint>
#include <functional>
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
    // Hands `done` how many stored outgoing messages the ids confirmed, once the store has
    // answered (on the main queue).
    virtual void connectionDidReceiveAckForRmqIds(const std::vector<std::string>& rmqIds,
                                                  std::function<void(int32_t confirmed)> done) = 0;
};
