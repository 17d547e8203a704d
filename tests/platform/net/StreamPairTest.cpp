#include "platform/net/StreamPair.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/net/ServerTrust.h"
#include "platform/net/TLSEngine.h"
#include "platform/ns/AtomicFile.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/rt/ModuleLoader.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "services/peers/PeerSocket.h"
#include "tests/peers/SocketPeer.h"
#include "tests/platform/net/NetTestSupport.h"

namespace {

using nettest::NetTest;

std::string pattern(size_t length, int seed) {
    std::string s(length, '\0');
    for (size_t i = 0; i < length; ++i) s[i] = static_cast<char>((i * 31 + seed + i / 251) & 0xff);
    return s;
}

// Plays the part a socket layer plays: writes its queue as space allows, reads what comes in
// small reads, and records the events of both streams.
class StreamClient : public net::StreamDelegate, public std::enable_shared_from_this<StreamClient> {
public:
    net::StreamPair::Streams streams;
    std::string toSend;
    size_t sent = 0;
    std::string received;
    size_t readSize = 700;
    int partialWrites = 0;
    int reads = 0;
    std::vector<std::string> events;
    bool closeOnEnd = false;

    void connect(uint16_t port, bool secure, const std::string& host = "127.0.0.1") {
        streams = net::StreamPair::getStreamsToHost(host, port);
        for (net::Stream* s : {static_cast<net::Stream*>(streams.output.get()),
                               static_cast<net::Stream*>(streams.input.get())}) {
            if (secure) {
                EXPECT_TRUE(s->setProperty(net::kStreamSocketSecurityLevelNegotiatedSSL,
                                           net::kStreamPropertySocketSecurityLevel));
            }
            s->setDelegate(weak_from_this());
            s->open();
        }
    }
    bool isInput(net::Stream& s) const { return &s == streams.input.get(); }

    void write() {
        while (sent < toSend.size() && streams.output->hasSpaceAvailable()) {
            size_t want = toSend.size() - sent;
            long n =
                streams.output->write(reinterpret_cast<const uint8_t*>(toSend.data()) + sent, want);
            if (n <= 0) break;
            if (static_cast<size_t>(n) < want) partialWrites++;
            sent += static_cast<size_t>(n);
        }
    }

    void streamHandleEvent(net::Stream& stream, net::StreamEvent event) override {
        std::string side = isInput(stream) ? "in " : "out ";
        switch (event) {
            case net::StreamEvent::OpenCompleted:
                events.push_back(side + "open");
                break;
            case net::StreamEvent::HasSpaceAvailable:
                write();
                break;
            case net::StreamEvent::HasBytesAvailable:
                while (streams.input->hasBytesAvailable()) {
                    std::string buffer(readSize, '\0');
                    long n = streams.input->read(reinterpret_cast<uint8_t*>(buffer.data()),
                                                 buffer.size());
                    if (n <= 0) break;
                    reads++;
                    received.append(buffer, 0, static_cast<size_t>(n));
                }
                break;
            case net::StreamEvent::ErrorOccurred:
                events.push_back(side + "error");
                break;
            case net::StreamEvent::EndEncountered:
                events.push_back(side + "end");
                if (closeOnEnd) {
                    streams.input->close();
                    streams.output->close();
                }
                break;
            default:
                break;
        }
    }
};

class StreamPairTest : public NetTest {
protected:
    std::shared_ptr<StreamClient> client_ = std::make_shared<StreamClient>();
};

TEST_F(StreamPairTest, ExchangesKilobytesBothWaysInPiecesOverTLS) {
    peers::SocketPeer peer({&ca().localhost(), false, 1000, 1500});
    const std::string upstream = pattern(40'000, 1);
    const std::string downstream = pattern(30'000, 2);
    client_->toSend = upstream;
    client_->connect(peer.port(), true);
    ASSERT_TRUE(peers::runMainLoopUntil([&] { return client_->events.size() == 2; }));
    EXPECT_EQ(client_->events, (std::vector<std::string>{"out open", "in open"}));
    EXPECT_EQ(client_->streams.input->streamStatus(), net::StreamStatus::Open);

    peer.send(downstream);
    ASSERT_TRUE(peers::runMainLoopUntil([&] {
        return client_->received.size() == downstream.size() &&
               peer.received().size() == upstream.size();
    }));
    EXPECT_EQ(client_->received, downstream);
    EXPECT_EQ(peer.received(), upstream);
    EXPECT_GT(client_->partialWrites, 0);
    EXPECT_GT(client_->reads, 30'000 / 700);

    client_->closeOnEnd = true;
    peer.closeConnection();
    ASSERT_TRUE(peers::runMainLoopUntil([&] { return client_->events.size() == 3; }));
    EXPECT_EQ(client_->events.back(), "in end");
    EXPECT_EQ(client_->streams.input->streamStatus(), net::StreamStatus::Closed);
    uint8_t byte;
    EXPECT_EQ(client_->streams.input->read(&byte, 1), -1);
    EXPECT_EQ(client_->streams.output->write(&byte, 1), -1);
}

TEST_F(StreamPairTest, WritingToAPeerThatHungUpFailsInsteadOfEndingTheProcess) {
    peers::SocketPeer peer({&ca().localhost()});
    client_->connect(peer.port(), true);
    ASSERT_TRUE(peers::runMainLoopUntil([&] { return client_->events.size() == 2; }));
    peer.closeConnection();
    ASSERT_TRUE(peers::runMainLoopUntil([&] { return client_->events.size() == 3; }));
    EXPECT_EQ(client_->events.back(), "in end");
    client_->toSend = pattern(4'000'000, 3);
    client_->write();
    ASSERT_TRUE(peers::runMainLoopUntil([&] { return client_->events.size() == 5; }));
    EXPECT_EQ(client_->events[3], "out error");
    EXPECT_EQ(client_->events[4], "in error");
    EXPECT_EQ(client_->streams.output->streamError()->domain(), "NSPOSIXErrorDomain");
}

TEST_F(StreamPairTest, PlainTCPWhenNoSecurityLevelIsSet) {
    peers::SocketPeer peer({nullptr, /*echo=*/true});
    client_->toSend = "ping over tcp";
    client_->connect(peer.port(), false);
    ASSERT_TRUE(peers::runMainLoopUntil([&] { return client_->received == "ping over tcp"; }));
    EXPECT_EQ(client_->streams.output->propertyForKey(net::kStreamPropertySocketSecurityLevel),
              ns::Value(net::kStreamSocketSecurityLevelNone));
    EXPECT_FALSE(client_->streams.output->setProperty(net::kStreamSocketSecurityLevelNegotiatedSSL,
                                                      net::kStreamPropertySocketSecurityLevel))
        << "too late once open";
}

TEST_F(StreamPairTest, ClientCloseReachesThePeer) {
    peers::SocketPeer peer({&ca().localhost()});
    client_->toSend = "bye";
    client_->connect(peer.port(), true);
    ASSERT_TRUE(peers::runMainLoopUntil([&] { return peer.received() == "bye"; }));
    client_->streams.input->close();
    client_->streams.output->close();
    ASSERT_TRUE(peers::runMainLoopUntil([&] { return peer.clientClosed(); }));
    EXPECT_EQ(client_->streams.output->streamStatus(), net::StreamStatus::Closed);
}

struct RefusedCase {
    const char* name;
    bool trustTestCA;
    bool wrongName;
    int64_t code;
};

class StreamPairRefusesTest : public StreamPairTest,
                              public testing::WithParamInterface<RefusedCase> {};

TEST_P(StreamPairRefusesTest, CertificateProblemsEndTheOpeningWithAnError) {
    auto identity = GetParam().wrongName ? ca().issue({"wrong.example"}, {}) : ca().localhost();
    if (!GetParam().trustTestCA) net::TLSSettings::setExtraCAFile("");
    peers::SocketPeer peer({&identity});
    client_->connect(peer.port(), true);
    ASSERT_TRUE(peers::runMainLoopUntil([&] { return client_->events.size() == 2; }));
    EXPECT_EQ(client_->events, (std::vector<std::string>{"out error", "in error"}));
    EXPECT_EQ(client_->streams.input->streamStatus(), net::StreamStatus::Error);
    auto error = client_->streams.output->streamError();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), net::kStreamOSStatusErrorDomain);
    EXPECT_EQ(error->code(), GetParam().code);
    EXPECT_TRUE(peer.waitForHandshakeOutcome());
    EXPECT_TRUE(peer.handshakeFailed());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StreamPairRefusesTest,
    testing::Values(RefusedCase{"UnknownIssuer", false, false, net::kSSLCertificateChainInvalid},
                    RefusedCase{"WrongHostName", true, true, net::kSSLHostNameMismatch}),
    [](const auto& info) { return std::string(info.param.name); });

// A name that the certificate check would see cut short ("localhost") is refused, not
// checked as the shorter name.
TEST_F(StreamPairTest, HostNameThatCannotBeCheckedWhole) {
    auto identity = ca().localhost();
    peers::SocketPeer peer({&identity});
    client_->connect(peer.port(), true, std::string("localhost\0.evil.example", 23));
    ASSERT_TRUE(peers::runMainLoopUntil([&] { return client_->events.size() == 2; }));
    EXPECT_EQ(client_->events, (std::vector<std::string>{"out error", "in error"}));
    ASSERT_TRUE(client_->streams.output->streamError());
    EXPECT_EQ(client_->streams.output->streamError()->code(), net::kSSLProtocolError);
}

// In the host the TLS library comes with a module of its own; without it a secure stream
// ends its opening with an error, and so does a trust evaluation, rather than the process.
TEST_F(StreamPairTest, WithoutTheTLSModuleASecureStreamFailsWithAnError) {
    ns::ScopedSharedInstance<rt::ModuleLoader> loader;
    ns::ScopedSharedInstance<rt::ClassRegistry> registry;
    rt::ModuleLoader::shared().provide(net::TLSEngine::kClassName, "/nonexistent/crypto.so");
    peers::SocketPeer peer({&ca().localhost()});
    client_->connect(peer.port(), true);
    ASSERT_TRUE(peers::runMainLoopUntil([&] { return client_->events.size() == 2; }));
    EXPECT_EQ(client_->events, (std::vector<std::string>{"out error", "in error"}));
    ASSERT_TRUE(client_->streams.output->streamError());
    EXPECT_EQ(client_->streams.output->streamError()->code(), net::kSSLProtocolError);
    const net::ServerTrust trust("localhost", {ns::Data::fromString("not a certificate")});
    EXPECT_EQ(trust.evaluate().value(), net::TrustResultType::OtherError);
}

TEST_F(StreamPairTest, RefusedConnectionReportsTheSocketError) {
    uint16_t port = 0;
    ::close(peers::listenOnLoopback(port));
    client_->connect(port, true);
    ASSERT_TRUE(peers::runMainLoopUntil([&] { return client_->events.size() == 2; }));
    EXPECT_EQ(client_->events, (std::vector<std::string>{"out error", "in error"}));
    EXPECT_EQ(client_->streams.input->streamError(), ns::posixError(ECONNREFUSED));
}

TEST_F(StreamPairTest, EventsWaitWhileTheStreamIsOutOfTheRunLoop) {
    peers::SocketPeer peer({&ca().localhost()});
    client_->connect(peer.port(), true);
    client_->streams.input->removeFromRunLoop(loop());
    ASSERT_TRUE(peers::runMainLoopUntil([&] { return client_->events.size() == 1; }));
    peer.send("held");
    ASSERT_TRUE(
        peers::runMainLoopUntil([&] { return client_->streams.input->hasBytesAvailable(); }));
    loop().runUntilIdle();
    EXPECT_EQ(client_->received, "");
    EXPECT_EQ(client_->events, std::vector<std::string>{"out open"});
    client_->streams.input->scheduleInRunLoop(loop());
    ASSERT_TRUE(peers::runMainLoopUntil([&] { return client_->received == "held"; }));
    EXPECT_EQ(client_->events, (std::vector<std::string>{"out open", "in open"}));
}

}  // namespace
