// Golden tests of what messaging says, stores and sends: its logger's lines as standard output
// receives them, the generic-password item its keychain wrapper writes, and one whole start of
// the facade (a connection with its login, a topic subscription) with its log lines, the
// frames the socket sent and the topic request, compared byte for byte with
// tests/fixtures/golden/messaging/.
//
// Normalisation: loopback ports become "<port>". The frames are shown as the bytes on the wire
// (version byte, tag, length, payload) and field by field; nothing in them is normalised.
#include <gtest/gtest.h>

#include "platform/ns/NotificationCenter.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/sec/SecItem.h"
#include "platform/ui/Application.h"
#include "sdk/instance_id/NEBInstanceID.h"
#include "sdk/messaging/NEBMessaging.h"
#include "sdk/messaging/NEBMessagingAuthKeychain.h"
#include "sdk/messaging/NEBMessagingFileHandleLogWriter.h"
#include "sdk/messaging/NEBMessagingLogStandardFormatter.h"
#include "sdk/messaging/NEBMessagingPubSub.h"
#include "sdk/messaging/NEBMessagingPubSubCache.h"
#include "services/peers/HttpsServer.h"
#include "tests/sdk/messaging/MessagingTestSupport.h"
#include "tests/support/Golden.h"
#include "tests/support/KeychainDump.h"

namespace {

using testsupport::expectMatchesGolden;

TEST(MessagingLoggerGolden, StandardLinesAtEveryLevelAndFilter) {
    testsupport::ScopedTimeZone utc;
    dispatch::Clock::setCurrent(std::make_shared<dispatch::ManualClock>(1.7e9 + 0.417));
    std::string out;
    {
        testsupport::StdStreamCapture stdoutCapture(1);
        auto logger = NEBMessagingLogger::standardLogger();
        for (int8_t level : {0, 1, 2, 3}) {
            logger->setFilter(std::make_shared<NEBMessagingLogLevelFilter>(level));
            logger->logFuncInfo("f", "filter %d", level);
            logger->logFuncDebug("f", "debug %d", 0);
            logger->logFuncInfo("f", "info %@", std::string("text"));
            logger->logFuncError("f", "Invalid tag %d for proto", 5);
            logger->logFuncAssert("f", "assert %s", "c");
        }
        logger->setFilter(std::make_shared<NEBMessagingLogLevelFilter>(0));
        logger->logFuncError("f", "Cannot parse topic name %@. Will not subscribe.",
                             std::string("x\n2026-01-01 00:00:00: <NEBMessaging/ERROR> forged"
                                         "\x1b[2J\r\t\xc2\x9b\xfe"));
        out = stdoutCapture.text();
    }
    dispatch::Clock::setCurrent(nullptr);
    expectMatchesGolden("messaging/logger-lines.txt", out);
}

class MessagingKeychainGolden : public messagingtest::MessagingTest {
protected:
    testsupport::ScopedMainBundle bundle_;
    testsupport::ScopedKeychain keychain_;
};

// The item as first written, then as written again with another accessibility and password:
// the wrapper replaces it whole.
TEST_F(MessagingKeychainGolden, ItemIsReplacedWhole) {
    NEBMessagingAuthKeychain keychain("com.nebula.msg");
    ASSERT_TRUE(keychain.setPassword("4242|secret-4242", "com.nebula.msg.checkin-service", "",
                                     "com.nebula.msg.checkin-account"));
    std::string dump = "(first write)\n" + testsupport::dumpKeychain();
    ASSERT_TRUE(keychain.setPassword("4242|secret-2", "com.nebula.msg.checkin-service",
                                     sec::kSecAttrAccessibleAlwaysThisDeviceOnly,
                                     "com.nebula.msg.checkin-account"));
    dump += "(second write)\n" + testsupport::dumpKeychain();
    ASSERT_FALSE(keychain.setPassword("", "com.nebula.msg.checkin-service", "",
                                      "com.nebula.msg.checkin-account"));
    dump += "(empty password)\n" + testsupport::dumpKeychain();
    expectMatchesGolden("messaging/keychain-items.txt", dump);
}

class MessagingFlowGolden : public messagingtest::MessagingTest {
protected:
    testsupport::ScopedMainBundle bundle_;
    void SetUp() override {
        MessagingTest::SetUp();
        server_ = std::make_unique<peers::HttpsServer>(ca());
        server_->on("POST", "/iid/register", peers::HttpResponse::text(200, "token=/topics/news"));
        NEBServiceHosts::setRegistrationServerURL(server_->baseURL());
        socket_ = std::make_unique<peers::MessagingServer>(peers::MessagingServer::Options{
            .identity = &ca().localhost(), .expectedUser = "4242", .expectedToken = "secret-4242"});
        NEBMessagingServiceHosts::setMessagingServer("127.0.0.1", socket_->port());
    }
    void TearDown() override {
        messaging_.reset();
        socket_.reset();
        server_.reset();
        MessagingTest::TearDown();
    }

    // One frame as the client wrote it: its tag, its length and its payload, the version byte
    // before the first one.
    static std::string frameText(const peers::MessagingServer::Frame& frame, bool first) {
        std::string wire = first ? std::string("\x28") : std::string();
        wire += static_cast<char>(frame.tag);
        uint64_t length = frame.payload.size();
        do {
            const auto low = static_cast<char>(length & 0x7f);
            length >>= 7;
            wire += static_cast<char>(low | (length ? 0x80 : 0));
        } while (length);
        wire += frame.payload;
        return "frame tag " + std::to_string(frame.tag) + " on connection " +
               std::to_string(frame.connection) + ", " + std::to_string(wire.size()) +
               " bytes on the wire:\n" + testsupport::hexDump(wire) + "fields:\n" +
               testsupport::protobufWireText(frame.payload, 1);
    }

    ns::ScopedSharedInstance<rt::ClassRegistry> registry_;
    ns::ScopedSharedInstance<ui::Application> application_;
    std::unique_ptr<peers::HttpsServer> server_;
    std::unique_ptr<peers::MessagingServer> socket_;
    std::shared_ptr<NIPReachability> reachability_ = reachability(true);
    std::shared_ptr<NEBMessaging> messaging_;
};

TEST_F(MessagingFlowGolden, StartConnectLoginAndSubscribe) {
    testsupport::ScopedTimeZone utc;
    std::string logged;
    {
        testsupport::StdStreamCapture stdoutCapture(1);
        NEBMessagingSharedLogger().setWriter(std::make_shared<NEBMessagingFileHandleLogWriter>());
        auto preferences = credentials();
        preferences.versionInfo = "v9";
        messaging_ = messagingtest::startedMessaging(
            [preferences] { return std::optional<NEBMessagingCheckinPreferences>(preferences); },
            [this] { return reachability_; });
        // Info lines too: they are part of what the flow says.
        NEBMessagingSharedLogger().setFilter(std::make_shared<NEBMessagingLogLevelFilter>(1));
        ns::NotificationCenter::defaultCenter().post(kNEBInstanceIDTokenNotification,
                                                     std::make_shared<ns::Box<std::string>>("T1"));
        bool connected = false;
        messaging_->connectWithCompletion([&](const std::optional<ns::Error>& error) {
            EXPECT_FALSE(error);
            connected = true;
        });
        ASSERT_TRUE(runUntil([&] { return connected; }));
        ASSERT_TRUE(runUntil([&] { return socket_->frameCount() >= 2; }));
        messaging_->subscribeToTopic("/topics/news");
        ASSERT_TRUE(runUntil([&] {
            return server_->requestCount() == 1 &&
                   messaging_->pubsub()->cache()->subscribedTopics().contains("/topics/news");
        }));
        messaging_->disconnect();
        ASSERT_TRUE(runUntil([&] { return socket_->frameCount() >= 3; }));  // the close
        logged = stdoutCapture.text();
    }
    NEBMessagingSharedLogger().setWriter(log_);
    expectMatchesGolden("messaging/flow-log.txt", logged);

    std::string frames;
    bool first = true;
    for (const auto& frame : socket_->frames()) {
        frames += frameText(frame, first) + "----\n";
        first = false;
    }
    expectMatchesGolden("messaging/flow-frames.txt", frames);

    const auto request = server_->requests().at(0);
    expectMatchesGolden("messaging/topic-request.txt",
                        testsupport::Normaliser::standard()(testsupport::formatHttpRequest(
                            request.method, request.target, request.headerLines, request.body)));
}

}  // namespace
