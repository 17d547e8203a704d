// The messaging socket's incoming byte stream: the bytes arrive in pieces of varying size, are
// cut into frames in one bounded buffer as the socket does, and every frame is parsed into its
// message type and handed to the code that reads that type. Whatever the bytes, the buffer
// stays within the cap, every frame fits the cap, the consumed bytes are exactly the frames
// cut, and nothing crashes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/Require.h"
#include "sdk/messaging/NEBMessagingCodedInputStream.h"
#include "sdk/messaging/NEBMessagingDataMessageManager.h"
#include "sdk/messaging/NEBMessagingUtilities.h"

namespace {

void handle(int8_t tag, std::string_view payload) {
    const pb::MessageLite* prototype = NEBMessagingClassForTag(tag);
    if (!prototype) return;
    std::unique_ptr<pb::MessageLite> message(prototype->New());
    if (!message->ParseFromArray(payload.data(), static_cast<int>(payload.size()))) return;
    NEBMessagingLastStreamIdOfProto(*message);
    NEBMessagingPersistentIdOfProto(*message);
    if (auto* stanza = dynamic_cast<mcs::McsDataMessageStanza*>(message.get())) {
        static auto manager = std::make_shared<NEBMessagingDataMessageManager>(
            std::weak_ptr<NEBMessagingDataMessageManagerDelegate>(),
            std::weak_ptr<NEBMessagingClient>(), std::weak_ptr<NEBMessagingRmqManager>(),
            std::weak_ptr<NEBMessagingSyncMessageManager>());
        if (auto parsed = manager->processPacket(*stanza))
            manager->didReceiveParsedMessage(std::move(*parsed));
    }
    if (auto* iq = dynamic_cast<mcs::McsIqStanza*>(message.get()); iq && iq->has_extension()) {
        mcs::McsSelectiveAck ack;
        ack.ParseFromString(iq->extension().data());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t step = 1 + data[0] % 64;
    std::vector<uint8_t> buffer(kNEBMessagingInitialBufferSize);
    size_t length = 0;
    for (size_t at = 1; at < size;) {
        size_t n = std::min({step, size - at, buffer.size() - length});
        std::memcpy(buffer.data() + length, data + at, n);
        length += n;
        at += n;
        NEBMessagingCodedInputStream reader({reinterpret_cast<const char*>(buffer.data()), length});
        size_t consumed = 0;
        for (;;) {
            int8_t tag = 0;
            std::string_view payload;
            auto result = reader.readFrame(tag, payload);
            if (result == NEBMessagingCodedInputStream::Result::Error) return 0;
            if (result == NEBMessagingCodedInputStream::Result::NeedMore) break;
            fuzzing::require(tag >= 0);
            fuzzing::require(reader.offset() - consumed <= kNEBMessagingMaxBufferSize);
            fuzzing::require(payload.data() + payload.size() ==
                             reinterpret_cast<const char*>(buffer.data()) + reader.offset());
            consumed = reader.offset();
            handle(tag, payload);
        }
        std::memmove(buffer.data(), buffer.data() + consumed, length - consumed);
        length -= consumed;
        if (length == buffer.size()) {
            if (buffer.size() >= kNEBMessagingMaxBufferSize) return 0;
            buffer.resize(std::min(buffer.size() + kNEBMessagingInitialBufferSize,
                                   kNEBMessagingMaxBufferSize));
        }
        fuzzing::require(buffer.size() <= kNEBMessagingMaxBufferSize);
    }
    return 0;
}
