#include "sdk/messaging/NEBMessagingPacket.h"

#include "platform/ns/Format.h"

std::string NEBMessagingPacket::description() const {
    std::string text = ns::format("<Packet: Tag - %d, Length - %lu", static_cast<int>(tag_),
                                  static_cast<unsigned long>(data_.size()));
    if (!rmqId_.empty()) text += ns::format(", RmqId - %@", rmqId_);
    return text + ">";
}
