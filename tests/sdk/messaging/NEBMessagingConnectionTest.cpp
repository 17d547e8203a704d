#include "sdk/messaging/NEBMessagingConnection.h"

#include <gtest/gtest.h>

#include "platform/dispatch/RunLoop.h"
#include "sdk/messaging/NEBMessagingRmqManager.h"
#include "sdk/messaging/NEBMessagingUtilities.h"
#include "tests/sdk/messaging/MessagingTestSupport.h"
#include "tests/sdk/messaging/StoreFileHolder.h"

namespace {

using namespace std::chrono_literals;
using Hold = messagingtest::StoreFileHolder::Hold;

class ConnectionRecorder : public NEBMessagingConnectionDelegate {
public:
    std::vector<int> closes;
    int logins = 0;
    std::vector<std::string> messages;
    std::vector<std::vector<std::string>> acks;

    void connectionDidCloseForReason(NEBMessagingConnection&, CloseReason reason) override {
        closes.push_back(reason);
    }
    void didLoginWithConnection(NEBMessagingConnection&) override { logins++; }
    void connectionDidRecieveMessage(const mcs::McsDataMessageStanza& message) override {
        messages.push_back(message.persistent_id());
    }
    void connectionDidReceiveAckForRmqIds(const std::vector<std::string>& ids,
                                          std::function<void(int32_t)> done) override {
        acks.push_back(ids);
        done(static_cast<int32_t>(ids.size()));
    }
};

mcs::McsDataMessageStanza stanza(const std::string& persistentId = "") {
    mcs::McsDataMessageStanza s;
    s.set_from("sender");
    s.set_category("app");
    if (!persistentId.empty()) s.set_persistent_id(persistentId);
    return s;
}

class NEBMessagingConnectionTest : public messagingtest::MessagingTest {
protected:
    void SetUp() override {
        MessagingTest::SetUp();
        openStore(5000ms);
    }
    // The store waits this long for a file another connection holds.
    void openStore(std::chrono::milliseconds busyTimeout) {
        store_ = std::make_shared<NEBMessagingRmqManager>("rmq2", busyTimeout);
        store_->loadRmqId();
        // Data messages reach the application from the store, once it has them.
        store_->receivedMessages()->setSink(
            [this](const mcs::McsDataMessageStanza& stanza, NEBMessagingArrival) {
                recorder_->connectionDidRecieveMessage(stanza);
            });
    }
    // A frame from the server in a read of its own, handed to the store.
    void receive(peers::MessagingServer& server, const std::string& persistentId) {
        const int32_t before = connection_->inStreamId();
        server.sendFrame(8, stanza(persistentId));
        ASSERT_TRUE(pumpUntil([&] { return connection_->inStreamId() == before + 1; }));
    }
    void closeByServer(peers::MessagingServer& server) {
        const size_t before = recorder_->closes.size();
        server.closeConnection();
        ASSERT_TRUE(pumpUntil([&] { return recorder_->closes.size() == before + 1; }));
    }
    // The frame `persistentId` reaches the store (opened to wait a minute for its file), which
    // another process holds until after the server has ended the link and `meanwhile` has run.
    void endLinkBeforeTheStoreHas(
        peers::MessagingServer& server, const std::string& persistentId,
        const std::function<void(messagingtest::StoreFileHolder&)>& meanwhile = {}) {
        messagingtest::StoreFileHolder writer(storePath(), Hold::Writer);
        ASSERT_TRUE(writer.held());
        receive(server, persistentId);
        closeByServer(server);
        if (meanwhile) meanwhile(writer);
    }
    // The link signs in again while `writer` holds the store, which will refuse to keep the
    // messages that `when` names (all when it names none).
    void signInAgainRefusing(messagingtest::StoreFileHolder& writer, const std::string& when) {
        connection_->signIn();
        ASSERT_TRUE(
            pumpUntil([&] { return connection_->state() == NEBMessagingConnection::kSignedIn; }));
        ASSERT_TRUE(
            writer.execute("CREATE TRIGGER refuse BEFORE INSERT ON undeliveredS2dMessages " + when +
                           " BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    }
    // A server that sends nothing by itself, so that each frame the test sends is a read.
    peers::MessagingServer::Options quietOptions() {
        auto o = options();
        o.answerPings = false;
        return o;
    }
    std::vector<std::string> kept() {
        std::vector<std::string> ids;
        for (const auto& [id, data] : store_->undeliveredS2dMessages()) ids.push_back(id);
        return ids;
    }
    void start(peers::MessagingServer& server) {
        connection_ = std::make_shared<NEBMessagingConnection>(
            "4242", "secret-4242", "127.0.0.1", server.port(), dispatch::RunLoop::main(), store_,
            std::weak_ptr<NEBMessagingDataMessageManager>());
        connection_->setDelegate(recorder_);
        connection_->signIn();
    }
    void signIn(peers::MessagingServer& server) {
        start(server);
        ASSERT_TRUE(
            runUntil([&] { return connection_->state() == NEBMessagingConnection::kSignedIn; }));
    }
    size_t count(peers::MessagingServer& server, int8_t tag) {
        return server.framesWithTag(tag).size();
    }
    peers::MessagingServer::Options options() {
        return {
            .identity = &ca().localhost(), .expectedUser = "4242", .expectedToken = "secret-4242"};
    }

    std::shared_ptr<NEBMessagingRmqManager> store_;
    std::shared_ptr<ConnectionRecorder> recorder_ = std::make_shared<ConnectionRecorder>();
    std::shared_ptr<NEBMessagingConnection> connection_;
};

TEST_F(NEBMessagingConnectionTest, LogsInWithTheCredentialsAndPingsAtOnce) {
    peers::MessagingServer server(options());
    signIn(server);
    EXPECT_EQ(recorder_->logins, 1);
    ASSERT_TRUE(runUntil([&] { return count(server, 0) == 1; }));
    auto login = server.loginRequests().at(0);
    EXPECT_EQ(login.id(), "ios-1.2.0");
    EXPECT_EQ(login.user(), "4242");
    EXPECT_EQ(login.resource(), "4242");
    EXPECT_EQ(login.auth_token(), "secret-4242");
    EXPECT_EQ(login.device_id(), "mobile-1092");
    EXPECT_EQ(login.account_id(), 1000000);
    EXPECT_EQ(login.auth_service(), 2);
    EXPECT_TRUE(login.use_rmq2());
    EXPECT_EQ(login.last_rmq_id(), 1);
    ASSERT_EQ(login.setting_size(), 1);
    EXPECT_EQ(login.setting(0).name(), "new_vc");
    EXPECT_EQ(connection_->lastLoginServerTimestamp(), 1700000000000);
    auto frames = server.frames();
    EXPECT_EQ(frames.at(0).tag, 2);
    EXPECT_EQ(frames.at(1).tag, 0);
}

// Another process holds the store while the link comes up: the socket connects before the ids
// earlier links left unconfirmed are read, and the login goes, with them, once they are.
TEST_F(NEBMessagingConnectionTest, ASocketUpBeforeTheUnconfirmedIdsAreReadLogsInWithThem) {
    openStore(60000ms);
    ASSERT_TRUE(store_->saveS2dMessageWithRmqId("p9"));
    peers::MessagingServer server(options());
    {
        messagingtest::StoreFileHolder holder(storePath(), Hold::Exclusive);
        ASSERT_TRUE(holder.held());
        start(server);
        ASSERT_TRUE(
            pumpUntil([&] { return connection_->state() == NEBMessagingConnection::kConnected; }));
    }
    ASSERT_TRUE(
        runUntil([&] { return connection_->state() == NEBMessagingConnection::kSignedIn; }));
    const auto login = server.loginRequests().at(0);
    EXPECT_EQ(std::vector<std::string>(login.received_persistent_id().begin(),
                                       login.received_persistent_id().end()),
              std::vector<std::string>{"p9"});
}

TEST_F(NEBMessagingConnectionTest, PingsThirtySecondsAfterTheLastFrameAndTimesOutAfterTwenty) {
    peers::MessagingServer server(options());
    signIn(server);
    // The answer to the first ping restarts the 30 seconds.
    ASSERT_TRUE(runUntil([&] { return connection_->inStreamId() == 2; }));
    loop().advanceBy(29s);
    EXPECT_EQ(count(server, 0), 1u);
    server.setAnswerPings(false);
    loop().advanceBy(1s);
    ASSERT_TRUE(runUntil([&] { return count(server, 0) == 2; }));
    loop().advanceBy(19s);
    EXPECT_TRUE(recorder_->closes.empty());
    loop().advanceBy(1s);
    EXPECT_EQ(recorder_->closes, std::vector<int>{NEBMessagingConnectionDelegate::kTimeout});
    EXPECT_EQ(connection_->state(), NEBMessagingConnection::kDisconnected);
}

TEST_F(NEBMessagingConnectionTest, AcknowledgesEveryTenthFrameAndImmediateAckAtOnce) {
    auto o = options();
    o.answerPings = false;
    peers::MessagingServer server(o);
    signIn(server);
    for (int i = 0; i < 9; ++i) server.sendFrame(8, stanza());
    ASSERT_TRUE(runUntil([&] { return connection_->inStreamId() == 10; }));
    dispatch::RunLoop::main().runUntilIdle();
    EXPECT_EQ(count(server, 7), 0u);
    server.sendFrame(8, stanza());
    ASSERT_TRUE(runUntil([&] { return count(server, 7) == 1; }));
    mcs::McsIqStanza ack;
    ASSERT_TRUE(ack.ParseFromString(server.framesWithTag(7).at(0).payload));
    EXPECT_EQ(ack.last_stream_id_received(), 11);
    EXPECT_EQ(connection_->lastStreamIdAcked(), 11);

    auto urgent = stanza();
    urgent.set_immediate_ack(true);
    server.sendFrame(8, urgent);
    ASSERT_TRUE(runUntil([&] { return count(server, 7) == 2; }));

    // Twelve frames came in, one ping is due 30 seconds after the last of them.
    size_t pings = count(server, 0);
    loop().advanceBy(std::chrono::seconds(30));
    ASSERT_TRUE(runUntil([&] { return count(server, 0) == pings + 1; }));
    dispatch::RunLoop::main().runUntilIdle();
    EXPECT_EQ(count(server, 0), pings + 1);
}

TEST_F(NEBMessagingConnectionTest, ReportedIdsAreConfirmedByStreamIdAndResentAfterADrop) {
    auto o = options();
    o.answerPings = false;
    peers::MessagingServer server(o);
    signIn(server);  // in 1, out 2 (login, ping)
    server.sendFrame(8, stanza("p1"));
    server.sendFrame(8, stanza("p2"));
    ASSERT_TRUE(runUntil([&] { return recorder_->messages.size() == 2; }));
    // Stored before delivery, reported in the next outgoing frame (3).
    EXPECT_EQ(store_->unackedS2dRmqIds(), (std::vector<std::string>{"p1", "p2"}));
    auto own = stanza("7");
    connection_->sendProto(own);  // out 3
    EXPECT_TRUE(connection_->unackedS2dIds().empty());
    server.sendFrame(8, stanza("p3"));
    ASSERT_TRUE(runUntil([&] { return recorder_->messages.size() == 3; }));
    mcs::McsHeartbeatPing more;
    connection_->sendProto(more);  // out 4, reports p3

    mcs::McsHeartbeatAck confirm;
    confirm.set_last_stream_id_received(3);
    server.sendFrame(1, confirm);
    ASSERT_TRUE(runUntil([&] { return !recorder_->acks.empty(); }));
    EXPECT_EQ(recorder_->acks.at(0), std::vector<std::string>{"7"});
    EXPECT_EQ(store_->unackedS2dRmqIds(), std::vector<std::string>{"p3"});
    // A confirmation that covers none of our own messages asks nothing of the store.
    confirm.set_last_stream_id_received(4);
    server.sendFrame(1, confirm);
    ASSERT_TRUE(runUntil([&] { return store_->unackedS2dRmqIds().empty(); }));
    EXPECT_EQ(recorder_->acks.size(), 1u);

    auto later = stanza("p4");
    server.sendFrame(8, later);
    ASSERT_TRUE(runUntil([&] { return recorder_->messages.size() == 4; }));
    connection_->sendProto(more);  // out 5 reports p4
    // Frame 5 was never confirmed: its report goes out again with the next login.
    server.closeConnection();
    ASSERT_TRUE(runUntil([&] { return !recorder_->closes.empty(); }));
    EXPECT_EQ(recorder_->closes.at(0), NEBMessagingConnectionDelegate::kSocketClosed);
    connection_->signIn();
    ASSERT_TRUE(runUntil([&] { return server.loginRequests().size() == 2; }));
    auto login = server.loginRequests().at(1);
    ASSERT_EQ(login.received_persistent_id_size(), 1);
    EXPECT_EQ(login.received_persistent_id(0), "p4");
}

TEST_F(NEBMessagingConnectionTest, LoginErrorKeepsTheConnectionWaiting) {
    auto o = options();
    o.expectedToken = "another-secret";
    peers::MessagingServer server(o);
    start(server);
    ASSERT_TRUE(runUntil([&] { return connection_->inStreamId() == 1; }));
    EXPECT_EQ(connection_->state(), NEBMessagingConnection::kConnected);
    EXPECT_EQ(recorder_->logins, 0);
    // Nothing but the login went out, and frames other than a login response are dropped.
    server.sendFrame(0, mcs::McsHeartbeatPing());
    dispatch::RunLoop::main().runUntilIdle();
    EXPECT_EQ(connection_->state(), NEBMessagingConnection::kConnected);
    EXPECT_EQ(server.frameCount(), 1u);
}

TEST_F(NEBMessagingConnectionTest, BrokenFramesAndServerCloseEndTheLinkForARetry) {
    struct Case {
        const char* name;
        std::function<void(peers::MessagingServer&)> send;
        bool signedIn;
        // The line that says why the link went.
        const char* logged;
    } cases[] = {
        {"close", [](auto& s) { s.sendFrame(4, mcs::McsClose()); }, true, nullptr},
        {"unparsable",
         [](auto& s) {
             s.sendFrameBytes(8, std::string("\x0a\x05"
                                             "ab",
                                             4));
         },
         true, "Unparsable payload for tag 8"},
        {"tag 0x80", [](auto& s) { s.sendRaw(std::string("\x80\x00", 2)); }, true,
         "Received a tag byte of 128 from the server, connection dropped"},
        {"length bit 31", [](auto& s) { s.sendRaw(std::string("\x08\x80\x80\x80\x80\x08", 6)); },
         true, "Received a frame length with bit 31 set from the server, connection dropped"},
        // Refused from its header, before a byte of the megabyte is sent.
        {"over 1 MiB", [](auto& s) { s.sendRaw(std::string("\x08\x80\x80\x40", 4)); }, true,
         "Received a frame of 1048580 bytes, over the limit of 1048576 from the server, "
         "connection dropped"},
    };
    for (const auto& c : cases) {
        auto o = options();
        o.answerPings = false;
        peers::MessagingServer server(o);
        recorder_ = std::make_shared<ConnectionRecorder>();
        signIn(server);
        c.send(server);
        ASSERT_TRUE(runUntil([&] { return !recorder_->closes.empty(); })) << c.name;
        EXPECT_EQ(recorder_->closes,
                  std::vector<int>{NEBMessagingConnectionDelegate::kSocketClosed})
            << c.name;
        EXPECT_EQ(connection_->state(), NEBMessagingConnection::kDisconnected);
        if (c.logged) EXPECT_EQ(log_->count(c.logged), 1u) << c.name;
    }
}

TEST_F(NEBMessagingConnectionTest,
       NeverSignsInOverAnUnparsableLoginResponseBadVersionOrUntrustedServer) {
    peers::TestCA stranger("Unknown CA");
    auto wrongVersion = options();
    wrongVersion.versionByte = 0x29;
    auto garbled = options();
    garbled.answerLogin = false;
    auto untrusted = options();
    untrusted.identity = &stranger.localhost();
    for (auto* o : {&wrongVersion, &garbled, &untrusted}) {
        peers::MessagingServer server(*o);
        recorder_ = std::make_shared<ConnectionRecorder>();
        start(server);
        if (o == &garbled) {
            ASSERT_TRUE(runUntil([&] { return server.frameCount() == 1; }));
            server.sendFrameBytes(3, "\xff\xff");
        }
        ASSERT_TRUE(runUntil([&] { return !recorder_->closes.empty(); }));
        EXPECT_EQ(recorder_->logins, 0);
        EXPECT_EQ(connection_->state(), NEBMessagingConnection::kDisconnected);
    }
    EXPECT_EQ(log_->count("Unexpected version byte 41 from the server, connection dropped"), 1u);
}

TEST_F(NEBMessagingConnectionTest, SendOnConnectWaitsForLoginAndSignOutDropsIt) {
    peers::MessagingServer server(options());
    start(server);
    auto queued = std::make_unique<mcs::McsDataMessageStanza>(stanza());
    queued->set_id("first");
    connection_->sendOnConnectOrDrop(std::move(queued));
    ASSERT_TRUE(runUntil([&] { return server.frameCount() >= 3; }));
    auto frames = server.frames();
    EXPECT_EQ(frames.at(0).tag, 2);
    EXPECT_EQ(frames.at(1).tag, 0);
    EXPECT_EQ(frames.at(2).tag, 8);

    connection_->signOut();
    EXPECT_EQ(connection_->state(), NEBMessagingConnection::kDisconnected);
    connection_->sendOnConnectOrDrop(std::make_unique<mcs::McsDataMessageStanza>(stanza()));
    connection_->signOut();
    connection_->signIn();
    ASSERT_TRUE(runUntil([&] { return server.loginRequests().size() == 2; }));
    ASSERT_TRUE(runUntil([&] { return server.framesWithTag(0).size() == 2; }));
    dispatch::RunLoop::main().runUntilIdle();
    EXPECT_EQ(server.framesWithTag(8).size(), 1u);
}

// Every data message reaches the application from the store; it is kept there until confirmed
// only when the application can confirm it by its id, text. Each id is owed an acknowledgement.
TEST_F(NEBMessagingConnectionTest, DataMessagesAreKeptOnlyWhenTheirIdCanBeConfirmed) {
    peers::MessagingServer server(options());
    signIn(server);
    const std::string notText = "\xff\xfe";
    for (const std::string& id : {std::string("p1"), notText, std::string()}) {
        server.sendFrame(8, stanza(id));
    }
    ASSERT_TRUE(runUntil([&] { return recorder_->messages.size() == 3; }));
    EXPECT_EQ(recorder_->messages, (std::vector<std::string>{"p1", notText, ""}));
    EXPECT_EQ(kept(), std::vector<std::string>{"p1"});
    EXPECT_EQ(store_->unackedS2dRmqIds(), (std::vector<std::string>{"p1", notText}));
}

// Reads the store takes only after their link has ended (another process held its file):
// stored, they are reported at the next login so that the server does not send them again;
// refused, they leave the link that came since alone.
TEST_F(NEBMessagingConnectionTest, AReadStoredAfterItsLinkEndedIsReportedAtTheNextLogin) {
    openStore(60000ms);
    peers::MessagingServer server(quietOptions());
    signIn(server);
    endLinkBeforeTheStoreHas(server, "p1");
    ASSERT_TRUE(runUntil([&] { return recorder_->messages.size() == 1; }));
    connection_->signIn();
    ASSERT_TRUE(runUntil([&] { return server.loginRequests().size() == 2; }));
    const auto login = server.loginRequests().at(1);
    EXPECT_EQ(std::vector<std::string>(login.received_persistent_id().begin(),
                                       login.received_persistent_id().end()),
              std::vector<std::string>{"p1"});
}

TEST_F(NEBMessagingConnectionTest, AReadOfAnEndedLinkThatCannotBeStoredLeavesTheNextLinkUp) {
    openStore(60000ms);
    peers::MessagingServer server(quietOptions());
    signIn(server);
    endLinkBeforeTheStoreHas(server, "p1", [&](messagingtest::StoreFileHolder& writer) {
        signInAgainRefusing(writer, "");
    });
    dispatch::RunLoop::main().runUntilIdle();
    EXPECT_EQ(log_->count("refused"), 1u);
    EXPECT_EQ(recorder_->closes.size(), 1u);
    EXPECT_EQ(connection_->state(), NEBMessagingConnection::kSignedIn);
    EXPECT_TRUE(recorder_->messages.empty());
}

// The next link's read waits in the store behind the ended link's: the ended link's read,
// stored, must not pass for it. The store then refuses it, and nothing acknowledged it.
TEST_F(NEBMessagingConnectionTest, AReadOfAnEndedLinkDoesNotAcknowledgeTheNextLinksRead) {
    openStore(60000ms);
    peers::MessagingServer server(quietOptions());
    signIn(server);
    endLinkBeforeTheStoreHas(server, "p1", [&](messagingtest::StoreFileHolder& writer) {
        signInAgainRefusing(writer, "WHEN NEW.rmq_id = 'p2'");
        auto urgent = stanza("p2");
        urgent.set_immediate_ack(true);
        server.sendFrame(8, urgent);
        ASSERT_TRUE(pumpUntil([&] { return connection_->inStreamId() == 2; }));
    });
    ASSERT_TRUE(runUntil([&] { return recorder_->closes.size() == 2; }));
    EXPECT_EQ(recorder_->messages, std::vector<std::string>{"p1"});
    for (const auto& frame : server.framesWithTag(7)) EXPECT_NE(frame.connection, 2);
}

// A read the store cannot take ends the link; the reads after it on that link are not stored
// either, so that the server sends them all again and they arrive in their order.
TEST_F(NEBMessagingConnectionTest, ReadsAfterOneTheStoreCannotTakeComeAgainInTheirOrder) {
    openStore(60000ms);
    auto o = quietOptions();
    o.redeliver = true;
    peers::MessagingServer server(o);
    signIn(server);
    {
        messagingtest::StoreFileHolder writer(storePath(), Hold::Writer);
        ASSERT_TRUE(writer.held());
        receive(server, "p1");
        receive(server, "p2");
        ASSERT_TRUE(writer.execute(
            "CREATE TRIGGER refuse BEFORE INSERT ON undeliveredS2dMessages WHEN NEW.rmq_id = "
            "'p1' BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    }
    ASSERT_TRUE(runUntil([&] { return recorder_->closes.size() == 1; }));
    dispatch::RunLoop::main().runUntilIdle();
    {
        messagingtest::StoreFileHolder writer(storePath(), Hold::Writer);
        ASSERT_TRUE(writer.execute("DROP TRIGGER refuse"));
    }
    connection_->signIn();
    ASSERT_TRUE(runUntil([&] { return recorder_->messages.size() >= 2; }));
    dispatch::RunLoop::main().runUntilIdle();
    EXPECT_EQ(recorder_->messages, (std::vector<std::string>{"p1", "p2"}));
}

// A frame that also confirms five of our own messages makes the link acknowledge the stream at
// once; that acknowledgement must not cover the frame itself before its read is stored. The
// store refuses the read here: the server still owes the message.
TEST_F(NEBMessagingConnectionTest, AConfirmationInsideAReadDoesNotAcknowledgeTheReadUnstored) {
    auto o = quietOptions();
    o.redeliver = true;
    peers::MessagingServer server(o);
    signIn(server);  // out 2 (login, ping)
    for (int i = 1; i <= 5; ++i) {
        auto own = stanza(std::to_string(i));
        connection_->sendProto(own);  // out 3 to 7
    }
    {
        messagingtest::StoreFileHolder writer(storePath(), Hold::Writer);
        ASSERT_TRUE(writer.execute(
            "CREATE TRIGGER refuse BEFORE INSERT ON undeliveredS2dMessages BEGIN SELECT "
            "RAISE(ABORT, 'refused'); END"));
    }
    auto confirming = stanza("p1");
    confirming.set_last_stream_id_received(7);
    server.sendFrame(8, confirming);
    ASSERT_TRUE(runUntil([&] { return recorder_->closes.size() == 1; }));
    ASSERT_EQ(recorder_->acks.size(), 1u);
    ASSERT_EQ(count(server, 7), 1u);
    mcs::McsIqStanza ack;
    ASSERT_TRUE(ack.ParseFromString(server.framesWithTag(7).at(0).payload));
    EXPECT_LT(ack.last_stream_id_received(), 2);
    EXPECT_EQ(server.unacknowledged(), std::vector<std::string>{"p1"});
    EXPECT_TRUE(recorder_->messages.empty());
}

}  // namespace
