#pragma once

#include <cstdint>
#include <memory>
#include <string>

// One outgoing frame: its tag, the persistent id of the message (may be empty) and the
// serialized message.
class NEBMessagingPacket {
public:
    NEBMessagingPacket(int8_t tag, std::string rmqId, std::string data)
        : tag_(tag), rmqId_(std::move(rmqId)), data_(std::move(data)) {}
    static std::shared_ptr<NEBMessagingPacket> packetWithTag(int8_t tag, std::string rmqId,
                                                             std::string data) {
        return std::make_shared<NEBMessagingPacket>(tag, std::move(rmqId), std::move(data));
    }

    int8_t tag() const { return tag_; }
    const std::string& rmqId() const { return rmqId_; }
    const std::string& data() const { return data_; }
    std::string description() const;

private:
    int8_t tag_;
    std::string rmqId_;
    std::string data_;
};
