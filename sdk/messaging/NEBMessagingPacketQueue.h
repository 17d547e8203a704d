#pragma once

#include <deque>
#include <memory>

#include "sdk/messaging/NEBMessagingPacket.h"

// Frames waiting to be written, oldest first.
class NEBMessagingPacketQueue {
public:
    void push(std::shared_ptr<NEBMessagingPacket> packet) {
        packetsContainer_.push_back(std::move(packet));
    }
    void pushHead(std::shared_ptr<NEBMessagingPacket> packet) {
        packetsContainer_.push_front(std::move(packet));
    }
    std::shared_ptr<NEBMessagingPacket> pop() {
        if (packetsContainer_.empty()) return nullptr;
        auto packet = std::move(packetsContainer_.front());
        packetsContainer_.pop_front();
        return packet;
    }
    bool isEmpty() const { return packetsContainer_.empty(); }
    size_t count() const { return packetsContainer_.size(); }

private:
    std::deque<std::shared_ptr<NEBMessagingPacket>> packetsContainer_;
};
