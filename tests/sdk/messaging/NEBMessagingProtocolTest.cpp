#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "sdk/messaging/NEBMessagingCodedInputStream.h"
#include "sdk/messaging/NEBMessagingConnection.h"
#include "sdk/messaging/NEBMessagingUtilities.h"

namespace {

std::string hex(const std::string& bytes) {
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        snprintf(buf, sizeof buf, "%02x ", c);
        out += buf;
    }
    if (!out.empty()) out.pop_back();
    return out;
}

using Result = NEBMessagingCodedInputStream::Result;

struct Cut {
    Result result;
    int tag = -1;
    size_t payloadLength = 0;
    size_t offset = 0;
};

Cut cut(const std::string& bytes) {
    NEBMessagingCodedInputStream reader(bytes);
    int8_t tag = 0;
    std::string_view payload;
    Cut c{reader.readFrame(tag, payload)};
    if (c.result == Result::Frame) {
        c.tag = tag;
        c.payloadLength = payload.size();
        c.offset = reader.offset();
    }
    return c;
}

TEST(NEBMessagingProtocolTest, StreamAndSelectiveAcksHaveTheirWireBytes) {
    mcs::McsIqStanza ack = NEBMessagingConnection::createStreamAck();
    NEBMessagingSetLastStreamIdOfProto(ack, 10);
    EXPECT_EQ(hex(ack.SerializeAsString()), "10 01 1a 00 3a 04 08 0d 12 00 50 0a");

    mcs::McsSelectiveAck selective;
    selective.add_id("2");
    selective.add_id("3");
    EXPECT_EQ(hex(selective.SerializeAsString()), "0a 01 32 0a 01 33");
}

TEST(NEBMessagingProtocolTest, IqStanzaOfUnknownTypeDoesNotParse) {
    // type 4 (outside the closed enumeration), id "".
    std::string bytes("\x10\x04\x1a\x00", 4);
    mcs::McsIqStanza stanza;
    // Read in part and checked here, as the library would, but without its own log line.
    EXPECT_TRUE(stanza.ParsePartialFromString(bytes));
    EXPECT_FALSE(stanza.IsInitialized());
    bytes[1] = 3;
    EXPECT_TRUE(stanza.ParseFromString(bytes));
}

TEST(NEBMessagingProtocolTest, CutterReadsLengthsOfOneToTenBytes) {
    std::string payload(300, 'p');
    Cut c = cut(std::string("\x08\xac\x02", 3) + payload);
    EXPECT_EQ(c.result, Result::Frame);
    EXPECT_EQ(c.tag, 8);
    EXPECT_EQ(c.payloadLength, 300u);
    EXPECT_EQ(c.offset, 303u);

    // Length 3 spelled with 7 bytes: the groups after the fifth add nothing.
    c =
        cut(std::string("\x01\x83\x80\x80\x80\x80\x80\x00"
                        "abc",
                        11));
    EXPECT_EQ(c.result, Result::Frame);
    EXPECT_EQ(c.payloadLength, 3u);

    // Ten continuation bytes never end a length: an error at once, not a wait for bytes that
    // could only fill the buffer. Nine are still a length that may end.
    EXPECT_EQ(cut(std::string(1, '\x01') + std::string(10, '\x80') + std::string(50, '\0')).result,
              Result::Error);
    EXPECT_EQ(cut(std::string(1, '\x01') + std::string(9, '\x80')).result, Result::NeedMore);
}

// In the socket the bytes end where a full read buffer ends: no byte past them is there to be
// read. Every cut short of a whole frame waits, and nothing past the end is touched (each
// case sits in an allocation of exactly its size, so a read past it is caught).
TEST(NEBMessagingProtocolTest, CutterStopsAtTheEndOfAFullBuffer) {
    const std::string frame = std::string("\x08\x83\x80\x80\x00", 5) + "abc";
    for (size_t size = 1; size <= frame.size(); ++size) {
        auto bytes = std::make_unique<char[]>(size);
        std::memcpy(bytes.get(), frame.data(), size);
        NEBMessagingCodedInputStream reader(std::string_view(bytes.get(), size));
        int8_t tag = 0;
        std::string_view payload;
        const Result expected = size == frame.size() ? Result::Frame : Result::NeedMore;
        EXPECT_EQ(reader.readFrame(tag, payload), expected) << size;
        EXPECT_EQ(reader.offset(), expected == Result::Frame ? size : 0u) << size;
    }
}

TEST(NEBMessagingProtocolTest, CutterRefusesBadTagsLengthsAndOversizedFrames) {
    struct Case {
        std::string bytes;
        Result expected;
    } cases[] = {
        {std::string("\x85\x00", 2), Result::Error},                  // tag of 0x80 or more
        {std::string("\x08\x80\x80\x80\x80\x08", 6), Result::Error},  // bit 31 of the length
        // 1 MiB of payload: with its header the frame no longer fits, refused before it comes.
        {std::string("\x08\x80\x80\x40", 4), Result::Error},
        // Just fits: waits for the payload.
        {std::string("\x08\xfc\xff\x3f", 4), Result::NeedMore},
        {std::string("\x08", 1), Result::NeedMore},
        {std::string("\x08\x05"
                     "abcd",
                     6),
         Result::NeedMore},
        {std::string("\x04\x00", 2), Result::Frame},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cut(c.bytes).result, c.expected) << hex(c.bytes);
    }
}

TEST(NEBMessagingProtocolTest, StreamFieldsAreReadOnlyFromTheTypesThatCarryThem) {
    mcs::McsLoginResponse response;
    response.set_id("x");
    response.set_last_stream_id_received(7);
    EXPECT_EQ(NEBMessagingLastStreamIdOfProto(response), -1);
    NEBMessagingSetLastStreamIdOfProto(response, 3);
    EXPECT_EQ(response.last_stream_id_received(), 7);

    mcs::McsHeartbeatPing ping;
    EXPECT_EQ(NEBMessagingLastStreamIdOfProto(ping), -1);
    NEBMessagingSetLastStreamIdOfProto(ping, 4);
    EXPECT_EQ(NEBMessagingLastStreamIdOfProto(ping), 4);

    mcs::McsDataMessageStanza data;
    EXPECT_FALSE(NEBMessagingPersistentIdOfProto(data));
    NEBMessagingSetPersistentIdOfProto(data, "12");
    EXPECT_EQ(NEBMessagingPersistentIdOfProto(data), "12");
    EXPECT_FALSE(NEBMessagingPersistentIdOfProto(ping));

    for (int tag = -1; tag < 12; ++tag) {
        const pb::MessageLite* type = NEBMessagingClassForTag(tag);
        bool known =
            tag == 0 || tag == 1 || tag == 2 || tag == 3 || tag == 4 || tag == 7 || tag == 8;
        ASSERT_EQ(type != nullptr, known) << tag;
        if (type) EXPECT_EQ(NEBMessagingTagForProto(*type), tag);
    }
    mcs::McsSelectiveAck notAFrame;
    EXPECT_EQ(NEBMessagingTagForProto(notAFrame), -1);
}

}  // namespace
