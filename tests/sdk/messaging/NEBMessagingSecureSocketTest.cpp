#include "sdk/messaging/NEBMessagingSecureSocket.h"

#include <gtest/gtest.h>

#include "platform/dispatch/RunLoop.h"
#include "tests/peers/SocketPeer.h"
#include "tests/sdk/messaging/MessagingTestSupport.h"

namespace {

// Records what the socket reports; can drop the socket from inside a callback.
class SocketRecorder : public NEBMessagingSecureSocketDelegate {
public:
    std::vector<std::pair<int, std::string>> received;
    std::vector<std::pair<int, std::string>> sent;
    int connects = 0;
    int disconnects = 0;
    std::shared_ptr<NEBMessagingSecureSocket>* dropOnFirstFrame = nullptr;

    void secureSocketDidReceiveData(NEBMessagingSecureSocket&, std::string_view data,
                                    int8_t tag) override {
        received.emplace_back(tag, std::string(data));
        // What an owner does when a frame ends its interest: detach, close and let go.
        if (dropOnFirstFrame && *dropOnFirstFrame) {
            (*dropOnFirstFrame)->setDelegate({});
            (*dropOnFirstFrame)->disconnect();
            dropOnFirstFrame->reset();
        }
    }
    void secureSocketDidSendProtoWithTag(NEBMessagingSecureSocket&, int8_t tag,
                                         const std::string& rmqId) override {
        sent.emplace_back(tag, rmqId);
    }
    void secureSocketDidConnect(NEBMessagingSecureSocket&) override { connects++; }
    void didDisconnectWithSecureSocket(NEBMessagingSecureSocket&) override { disconnects++; }
};

std::string frame(char tag, const std::string& payload) {
    return std::string(1, tag) + static_cast<char>(payload.size()) + payload;
}

class NEBMessagingSecureSocketTest : public messagingtest::MessagingTest {
protected:
    void connect(peers::SocketPeer& peer) {
        socket_->setDelegate(recorder_);
        socket_->connectToHost("127.0.0.1", peer.port(), dispatch::RunLoop::main());
        ASSERT_TRUE(runUntil([&] { return recorder_->connects == 1; }));
    }
    std::shared_ptr<SocketRecorder> recorder_ = std::make_shared<SocketRecorder>();
    std::shared_ptr<NEBMessagingSecureSocket> socket_ =
        std::make_shared<NEBMessagingSecureSocket>();
};

TEST_F(NEBMessagingSecureSocketTest, WritesTheVersionByteOnceAheadOfFramesInQueueOrder) {
    peers::SocketPeer peer({&ca().localhost(), false, 4096, 4096});
    connect(peer);
    socket_->sendData("", 4, "");
    socket_->sendData(std::string(300, 'x'), 8, "17");
    socket_->sendData("ab", 0, "");
    ASSERT_TRUE(runUntil([&] { return recorder_->sent.size() == 3; }));
    ASSERT_TRUE(peer.waitForReceived(1 + 2 + 3 + 300 + 4));
    std::string expected = std::string("\x28\x04\x00", 3) + std::string("\x08\xac\x02", 3) +
                           std::string(300, 'x') +
                           std::string(
                               "\x00\x02"
                               "ab",
                               4);
    EXPECT_EQ(peer.received(), expected);
    EXPECT_EQ(recorder_->sent,
              (std::vector<std::pair<int, std::string>>{{4, ""}, {8, "17"}, {0, ""}}));
}

TEST_F(NEBMessagingSecureSocketTest, DeliversWholeFramesHoweverTheBytesArrive) {
    // Two frames in one write, then one frame a byte at a time.
    for (size_t chunk : {size_t{4096}, size_t{1}}) {
        peers::SocketPeer peer({&ca().localhost(), false, 4096, chunk});
        recorder_ = std::make_shared<SocketRecorder>();
        socket_ = std::make_shared<NEBMessagingSecureSocket>();
        connect(peer);
        std::string payload(40, 'q');
        peer.send("\x28" + frame(8, payload) + frame(0, ""));
        ASSERT_TRUE(runUntil([&] { return recorder_->received.size() == 2; })) << chunk;
        EXPECT_EQ(recorder_->received[0], std::make_pair(8, payload));
        EXPECT_EQ(recorder_->received[1], std::make_pair(0, std::string()));
        EXPECT_EQ(recorder_->disconnects, 0);
        socket_->disconnect();
        socket_->disconnect();
        EXPECT_EQ(recorder_->disconnects, 1);
    }
}

TEST_F(NEBMessagingSecureSocketTest, BadVersionBadTagAndTruncatedEndCloseTheSocket) {
    struct Case {
        std::string bytes;
        size_t framesBeforeClose;
    } cases[] = {
        {"\x29" + frame(0, ""), 0},
        {"\x28" + frame(0, "") + std::string("\x85\x00", 2), 1},
        {"\x28" + frame(0, "") +
             std::string("\x08\x05"
                         "ab",
                         4),
         1},
    };
    for (const auto& c : cases) {
        peers::SocketPeer peer({&ca().localhost(), false, 4096, 4096});
        recorder_ = std::make_shared<SocketRecorder>();
        socket_ = std::make_shared<NEBMessagingSecureSocket>();
        connect(peer);
        peer.send(c.bytes);
        peer.closeConnection();
        ASSERT_TRUE(runUntil([&] { return recorder_->disconnects == 1; }));
        EXPECT_EQ(recorder_->received.size(), c.framesBeforeClose);
        EXPECT_EQ(socket_->state(), NEBMessagingSecureSocket::kClosed);
    }
    // The stream that ended inside a frame was taken for truncated, not for a clean end.
    EXPECT_EQ(log_->count("Connection ended inside a frame, 4 bytes dropped"), 1u);
}

TEST_F(NEBMessagingSecureSocketTest, OwnerMayCloseAndDropTheSocketFromAFrameCallback) {
    peers::SocketPeer peer({&ca().localhost(), false, 4096, 4096});
    connect(peer);
    recorder_->dropOnFirstFrame = &socket_;
    peer.send("\x28" + frame(0, "") + frame(1, ""));
    ASSERT_TRUE(runUntil([&] { return !socket_; }));
    dispatch::RunLoop::main().runUntilIdle();
    // The second frame of the same read is not delivered by a socket that is gone.
    EXPECT_EQ(recorder_->received.size(), 1u);
    EXPECT_EQ(recorder_->disconnects, 0);
}

}  // namespace
