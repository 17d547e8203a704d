#include "sdk/messaging/NEBMessagingDataMessageManager.h"

#include <gtest/gtest.h>

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ns/UTF16.h"
#include "sdk/messaging/NEBMessagingClient.h"
#include "sdk/messaging/NEBMessagingConnection.h"
#include "sdk/messaging/NEBMessagingRmqManager.h"
#include "sdk/messaging/NEBMessagingUtilities.h"
#include "tests/sdk/messaging/MessagingTestSupport.h"
#include "tests/sdk/messaging/StoreFileHolder.h"

namespace {

using namespace std::chrono_literals;

class Receiver : public NEBMessagingDataMessageManagerDelegate {
public:
    std::vector<std::pair<ns::Dictionary, std::string>> received;
    std::vector<std::pair<std::string, int64_t>> willSend;  // code 0: no error
    std::vector<std::string> sent;
    int deleted = 0;

    bool didReceiveMessage(ns::Dictionary message, const std::string& id) override {
        received.emplace_back(message, id);
        return false;
    }
    void willSendDataMessageWithID(const std::string& id,
                                   const std::optional<ns::Error>& error) override {
        willSend.emplace_back(id, error ? error->code() : 0);
    }
    void didSendDataMessageWithID(const std::string& id) override { sent.push_back(id); }
    void didDeleteMessagesOnServer() override { deleted++; }
};

class NEBMessagingDataMessageManagerTest : public messagingtest::MessagingTest {
protected:
    void SetUp() override {
        MessagingTest::SetUp();
        store_ = std::make_shared<NEBMessagingRmqManager>("rmq2");
        store_->loadRmqId();
        auto preferences = credentials();
        client_ = std::make_shared<NEBMessagingClient>(
            services(), network_, store_, [preferences] { return std::optional(preferences); });
        manager_ = std::make_shared<NEBMessagingDataMessageManager>(
            receiver_, client_, store_, std::weak_ptr<NEBMessagingSyncMessageManager>());
        manager_->refreshDelayedMessages();
        client_->setDataMessageManager(manager_);
    }
    void signedIn() { manager_->setDeviceAuthID("4242", "secret-4242"); }
    // What the app asks to send.
    static ns::Dictionary upstream(ns::Dictionary extra = {}, ns::Dictionary data = {{"k", "v"}}) {
        ns::Dictionary message{{"nebula.to", "server"},
                               {"nebula.msg_id", "m1"},
                               {"nebula.data", ns::Value(std::move(data))}};
        for (auto& [k, v] : extra) message.insert_or_assign(k, v);
        return message;
    }
    // A message "old" saved long ago: its time-to-live has run out by now.
    void saveExpired() {
        mcs::McsDataMessageStanza old;
        old.set_id("old");
        old.set_from("");
        old.set_category("app");
        old.set_ttl(60);
        old.set_sent(NEBMessagingTimestampSeconds() - 1000);
        ASSERT_TRUE(store_->saveRmqMessage(old));
    }
    // The client signed in to `server`, the network up.
    void connectTo(peers::MessagingServer& server) {
        NEBMessagingServiceHosts::setMessagingServer("127.0.0.1", server.port());
        network_->callbackWithFlags(net::kReachabilityFlagsReachable);
        client_->connect();
        ASSERT_TRUE(runUntil([&] { return client_->isConnectionActive(); }));
    }
    // A server that answers only the login, so that what it confirms is the test's to say.
    peers::MessagingServer::Options quietOptions() {
        return {.identity = &ca().localhost(),
                .expectedUser = "4242",
                .expectedToken = "secret-4242",
                .answerPings = false};
    }
    // The ids of the data messages the server has had, in the order they came.
    static std::vector<std::string> idsSentTo(const peers::MessagingServer& server) {
        std::vector<std::string> ids;
        for (const auto& frame : server.framesWithTag(8)) {
            mcs::McsDataMessageStanza stanza;
            if (stanza.ParseFromString(frame.payload)) ids.push_back(stanza.id());
        }
        return ids;
    }
    std::vector<mcs::McsDataMessageStanza> stored() {
        std::vector<mcs::McsDataMessageStanza> all;
        store_->scanWithRmqMessageHandler(
            nullptr, [&](int64_t, const mcs::McsDataMessageStanza& s) { all.push_back(s); });
        return all;
    }

    std::shared_ptr<NIPReachability> network_ = reachability(false);
    std::shared_ptr<NEBMessagingRmqManager> store_;
    std::shared_ptr<NEBMessagingClient> client_;
    std::shared_ptr<Receiver> receiver_ = std::make_shared<Receiver>();
    std::shared_ptr<NEBMessagingDataMessageManager> manager_;
};

TEST_F(NEBMessagingDataMessageManagerTest, TimeToLiveAndDelayAreClampedAsSixtyFourBitNumbers) {
    signedIn();
    struct Case {
        ns::Value ttl;
        int32_t expected;
    } ttls[] = {{-5, 86400}, {90000, 86400},        {0, 0},        {86400, 86400},
                {60, 60},    {4294967356LL, 86400}, {1e30, 86400}, {"30", 30}};
    for (const auto& c : ttls) {
        auto message = upstream({{"nebula.ttl", c.ttl}, {"nebula.delay", 1}});
        manager_->sendDataMessageStanza(message);
        loop().runUntilIdle();
        std::vector<mcs::McsDataMessageStanza> queued;
        manager_->delayedMessagesQueue()->removeDelayedMessages(
            [&](std::vector<mcs::McsDataMessageStanza> taken) { queued = std::move(taken); });
        loop().runUntilIdle();
        ASSERT_FALSE(queued.empty()) << c.ttl.description();
        EXPECT_EQ(queued.back().ttl(), c.expected) << c.ttl.description();
    }
    struct DelayCase {
        ns::Value delay;
        int32_t expected;
    } delays[] = {{7200, 3600}, {0, 0}, {-3, 0}, {4294967297LL, 3600}, {10, 10}};
    for (const auto& c : delays) {
        ns::Dictionary message{{"nebula.delay", c.delay}};
        EXPECT_EQ(NEBMessagingDataMessageManager::delayForMessage(message), c.expected);
        EXPECT_FALSE(message.contains("nebula.delay"));
    }
}

TEST_F(NEBMessagingDataMessageManagerTest, UpstreamErrorsComeInTheirOrder) {
    // The store refuses the message named "refused", as a full disk would.
    {
        messagingtest::StoreFileHolder writer(storePath(),
                                              messagingtest::StoreFileHolder::Hold::Writer);
        ASSERT_TRUE(writer.execute(
            "CREATE TRIGGER refuse BEFORE INSERT ON outgoingRmqMessages WHEN "
            "instr(NEW.data, CAST('refused' AS BLOB)) BEGIN SELECT RAISE(ABORT, 'full'); END"));
    }
    auto noTo = upstream();
    noTo.erase("nebula.to");
    manager_->sendDataMessageStanza(noTo);
    signedIn();
    manager_->sendDataMessageStanza(noTo);

    // 4096 is the limit: "k" + value of 4095 units fits (a character outside the BMP counts
    // two), one more does not.
    std::string fits = std::string(4093, 'a') + "\xF0\x9F\x98\x80";
    auto exact = upstream({{"nebula.ttl", 60}}, {{"k", fits}, {"when", ns::Value(ns::Date())}});
    manager_->sendDataMessageStanza(exact);
    auto refused = upstream({{"nebula.ttl", 60}, {"nebula.msg_id", "refused"}});
    manager_->sendDataMessageStanza(refused);
    auto over = upstream({{"nebula.ttl", 60}}, {{"k", fits + "a"}});
    manager_->sendDataMessageStanza(over);
    auto once = upstream();  // time-to-live 0, no network: cannot be kept
    manager_->sendDataMessageStanza(once);
    loop().runUntilIdle();
    EXPECT_EQ(
        receiver_->willSend,
        (std::vector<std::pair<std::string, int64_t>>{
            {"m1", 501}, {"m1", 1003}, {"m1", 0}, {"refused", 1004}, {"m1", 1005}, {"m1", 4}}));
    EXPECT_EQ(log_->count("Ignoring key: when"), 1u);
    // The one with a time-to-live waits in the store for the connection.
    auto kept = stored();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].ttl(), 60);
    EXPECT_EQ(kept[0].to(), "server");
    EXPECT_EQ(kept[0].persistent_id(), "2");
}

TEST_F(NEBMessagingDataMessageManagerTest, UpstreamTextIsKeptWellFormed) {
    signedIn();
    auto message =
        upstream({{"nebula.ttl", 60}}, {{"bad", std::string("a\xff\xfe"
                                                            "b")},
                                        {"rawData", ns::Value(ns::Data("\x00\xff", 2))}});
    manager_->sendDataMessageStanza(message);
    auto kept = stored();
    ASSERT_EQ(kept.size(), 1u);
    ASSERT_EQ(kept[0].app_data_size(), 1);
    EXPECT_TRUE(ns::isValidUTF8(kept[0].app_data(0).value()));
    EXPECT_EQ(kept[0].raw_data(), std::string("\x00\xff", 2));
}

TEST_F(NEBMessagingDataMessageManagerTest, InboundKeysAreSortedIntoTheMessage) {
    mcs::McsDataMessageStanza stanza;
    stanza.set_from("sender");
    stanza.set_category("app");
    stanza.set_persistent_id("p9");
    stanza.set_token("collapse");
    for (auto [k, v] :
         std::vector<std::pair<std::string, std::string>>{{"msg.notification.title", "Hi"},
                                                          {"msg.notification.", "x"},
                                                          {"nebula.x", "1"},
                                                          {"Nebula.Y", "2"},
                                                          {"from", "spoofed"},
                                                          {"k", std::string("v\xc3")}}) {
        auto* pair = stanza.add_app_data();
        pair->set_key(k);
        pair->set_value(v);
    }
    auto parsed = manager_->processPacket(stanza);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(log_->count("Invalid key in MCS message: "), 1u);
    EXPECT_EQ((*parsed)["from"].stringValue(), "sender");
    manager_->didReceiveParsedMessage(*parsed);
    ASSERT_EQ(receiver_->received.size(), 1u);
    const auto& [delivered, id] = receiver_->received[0];
    EXPECT_EQ(id, "p9");
    std::vector<std::string> keys;
    for (const auto& [key, value] : delivered) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"collapse_key", "from", "k", "notification"}));
    EXPECT_EQ(delivered.at("notification"), ns::Value::dict({{"title", "Hi"}}));
    EXPECT_EQ(delivered.at("k").stringValue(), "v\xEF\xBF\xBD");

    manager_->didReceiveParsedMessage({{"message_type", "deleted_messages"}, {"k", "v"}});
    EXPECT_EQ(receiver_->deleted, 1);
    EXPECT_EQ(receiver_->received.size(), 1u);

    stanza.set_category("com.nebula.mcs.service");
    EXPECT_FALSE(manager_->processPacket(stanza));
}

TEST_F(NEBMessagingDataMessageManagerTest, InstanceIdentityMessagesAreBroadcast) {
    std::optional<ns::Dictionary> seen;
    auto token = ns::NotificationCenter::defaultCenter().addObserver(
        NEBMessagingDataMessageManager::kIIDNotification, nullptr, [&](const ns::Notification& n) {
            if (auto box = std::dynamic_pointer_cast<ns::Box<ns::Dictionary>>(n.object)) {
                seen = box->value();
            }
        });
    mcs::McsDataMessageStanza stanza;
    stanza.set_from(NEBMessagingServiceHosts::instanceIDSenderAddress());
    stanza.set_category("app");
    auto* pair = stanza.add_app_data();
    pair->set_key("CMD");
    pair->set_value("RST");
    EXPECT_FALSE(manager_->processPacket(stanza));
    ns::NotificationCenter::defaultCenter().removeObserver(token);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->at("CMD").stringValue(), "RST");
}

TEST_F(NEBMessagingDataMessageManagerTest, DelayedMessagesGoTogetherAtTheEarliestDeadline) {
    signedIn();
    auto* queue = manager_->delayedMessagesQueue();
    auto later = upstream({{"nebula.delay", 60}});
    manager_->sendDataMessageStanza(later);
    int64_t first = queue->scheduledTimeoutMilliseconds();
    auto sooner = upstream({{"nebula.delay", 10}, {"nebula.ttl", 30}});
    manager_->sendDataMessageStanza(sooner);
    loop().runUntilIdle();
    EXPECT_EQ(queue->scheduledTimeoutMilliseconds(), first - 50000);
    EXPECT_EQ(queue->messageCount(), 2);
    EXPECT_TRUE(receiver_->willSend.size() == 1 && receiver_->willSend[0].second == 0);

    // No connection when they fall due: the stored one waits, the other is reported lost.
    loop().advanceBy(10s);
    EXPECT_FALSE(queue->isTimeoutScheduled());
    EXPECT_EQ(queue->messageCount(), 0);
    EXPECT_EQ(receiver_->willSend.back(), std::make_pair(std::string("m1"), int64_t{4}));
    EXPECT_EQ(receiver_->willSend.size(), 2u);
    EXPECT_EQ(stored().size(), 1u);

    for (int i = 0; i < 10; ++i) {
        mcs::McsDataMessageStanza s;
        s.set_max_delay(5);
        EXPECT_TRUE(queue->queueMessage(s));
    }
    mcs::McsDataMessageStanza eleventh;
    EXPECT_FALSE(queue->queueMessage(eleventh));
    eleventh.set_ttl(60);
    EXPECT_TRUE(queue->queueMessage(eleventh));
}

// Whatever the delayed messages turn out to be when they fall due (kept in memory, kept in the
// store, or gone from the store meanwhile), sending them ends its turn: the next message goes.
TEST_F(NEBMessagingDataMessageManagerTest, SendingDueDelayedMessagesLetsTheNextMessageGo) {
    signedIn();
    struct Case {
        const char* name;
        int ttl;
        bool confirmedMeanwhile;
    } cases[] = {{"in memory", 0, false}, {"stored", 60, false}, {"gone from the store", 60, true}};
    for (const auto& c : cases) {
        auto delayed = upstream({{"nebula.delay", 5}, {"nebula.ttl", c.ttl}});
        manager_->sendDataMessageStanza(delayed);
        loop().runUntilIdle();
        if (c.confirmedMeanwhile) {
            for (const auto& s : stored()) store_->removeRmqMessagesWithRmqId(s.persistent_id());
        }
        loop().advanceBy(5s);
        auto next = upstream({{"nebula.msg_id", "next"}});  // no time-to-live, no network
        manager_->sendDataMessageStanza(next);
        loop().runUntilIdle();
        EXPECT_EQ(receiver_->willSend.back(), std::make_pair(std::string("next"), int64_t{4}))
            << c.name;
    }
}

// A message sent without delay takes the delayed ones out first, those in memory and those in
// the store alike, and they go ahead of it.
TEST_F(NEBMessagingDataMessageManagerTest, DelayedMessagesTakenOutByAMessageGoAheadOfIt) {
    signedIn();
    peers::MessagingServer server(quietOptions());
    connectTo(server);
    for (auto [id, ttl] : {std::pair{"in memory", 0}, std::pair{"stored", 60}}) {
        auto delayed = upstream({{"nebula.delay", 60}, {"nebula.ttl", ttl}, {"nebula.msg_id", id}});
        manager_->sendDataMessageStanza(delayed);
    }
    auto now = upstream({{"nebula.msg_id", "now"}});
    manager_->sendDataMessageStanza(now);
    ASSERT_TRUE(runUntil([&] {
        auto ids = idsSentTo(server);
        return !ids.empty() && ids.back() == "now";
    }));
    EXPECT_EQ(idsSentTo(server), (std::vector<std::string>{"in memory", "stored", "now"}));
}

// A delayed message waits for the store behind a message whose turn reads the delayed ones
// back (another process holds the file), and is stored after that read though sent before it:
// it still goes when it falls due.
TEST_F(NEBMessagingDataMessageManagerTest, ADelayedMessageStoredAfterAReadBackGoesWhenDue) {
    signedIn();
    peers::MessagingServer server(quietOptions());
    connectTo(server);
    auto delayed = upstream({{"nebula.delay", 60}, {"nebula.ttl", 60}, {"nebula.msg_id", "d1"}});
    manager_->sendDataMessageStanza(delayed);
    loop().runUntilIdle();
    {
        messagingtest::StoreFileHolder holder(storePath(),
                                              messagingtest::StoreFileHolder::Hold::Exclusive);
        ASSERT_TRUE(holder.held());
        auto now = upstream({{"nebula.ttl", 60}, {"nebula.msg_id", "now"}});
        manager_->sendDataMessageStanza(now);
        clock().advance(1s);
        auto later = upstream({{"nebula.delay", 10}, {"nebula.ttl", 60}, {"nebula.msg_id", "d2"}});
        manager_->sendDataMessageStanza(later);
        clock().advance(1s);
    }
    ASSERT_TRUE(runUntil([&] { return idsSentTo(server).size() == 2; }));
    loop().runUntilIdle();
    loop().advanceBy(10s);  // before the unanswered first ping times the link out
    ASSERT_TRUE(runUntil([&] { return idsSentTo(server).size() == 3; }));
    EXPECT_EQ(idsSentTo(server), (std::vector<std::string>{"d1", "now", "d2"}));
}

// One confirmation from the server can cover several own messages: each is reported sent.
TEST_F(NEBMessagingDataMessageManagerTest, EveryOwnMessageConfirmedTogetherIsReportedSent) {
    signedIn();
    peers::MessagingServer server(quietOptions());
    connectTo(server);
    for (const char* id : {"m1", "m2", "m3"}) {
        auto message = upstream({{"nebula.ttl", 60}, {"nebula.msg_id", id}});
        manager_->sendDataMessageStanza(message);
    }
    ASSERT_TRUE(runUntil([&] { return idsSentTo(server).size() == 3; }));
    mcs::McsHeartbeatAck confirm;
    confirm.set_last_stream_id_received(client_->connection()->outStreamId());
    server.sendFrame(1, confirm);
    ASSERT_TRUE(runUntil([&] { return !receiver_->sent.empty(); }));
    loop().runUntilIdle();
    EXPECT_EQ(receiver_->sent, (std::vector<std::string>{"m1", "m2", "m3"}));
    EXPECT_TRUE(stored().empty());
}

TEST_F(NEBMessagingDataMessageManagerTest, SelectiveAckResendsWhatIsLeftAndDropsTheExpired) {
    signedIn();
    saveExpired();
    for (int i = 0; i < 2; ++i) {
        auto message = upstream({{"nebula.ttl", 600}});
        manager_->sendDataMessageStanza(message);
    }
    loop().runUntilIdle();
    ASSERT_EQ(stored().size(), 3u);
    peers::MessagingServer server(quietOptions());
    connectTo(server);

    mcs::McsSelectiveAck ack;
    ack.add_id("3");
    mcs::McsIqStanza iq;
    iq.set_type(mcs::McsIqStanza::IQ_SET);
    iq.set_id("");
    iq.mutable_extension()->set_id(12);
    iq.mutable_extension()->set_data(ack.SerializeAsString());
    server.sendFrame(7, iq);
    ASSERT_TRUE(runUntil([&] { return server.framesWithTag(8).size() == 1; }));
    mcs::McsDataMessageStanza resent;
    ASSERT_TRUE(resent.ParseFromString(server.framesWithTag(8)[0].payload));
    EXPECT_EQ(resent.persistent_id(), "4");
    EXPECT_EQ(receiver_->sent, std::vector<std::string>{"m1"});
    EXPECT_EQ(receiver_->willSend.back(), std::make_pair(std::string("old"), int64_t{1001}));
    auto left = stored();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].persistent_id(), "4");

    // An acknowledgement that does not parse changes nothing.
    iq.mutable_extension()->set_data("\x0a\x09");
    server.sendFrame(7, iq);
    ASSERT_TRUE(runUntil([&] { return client_->connection()->inStreamId() == 3; }));
    EXPECT_EQ(stored().size(), 1u);
    EXPECT_TRUE(client_->isConnectionActive());
}

// Another process holds the store's file: what the main thread asks of the store waits on the
// store's queue, the main thread runs on meanwhile, and each request completes once the file
// is free.
TEST_F(NEBMessagingDataMessageManagerTest, TheMainThreadDoesNotWaitForAStoreHeldElsewhere) {
    signedIn();
    auto own = upstream({{"nebula.ttl", 60}});
    manager_->sendDataMessageStanza(own);  // stored as 2
    saveExpired();
    loop().runUntilIdle();
    receiver_->willSend.clear();
    auto sync = std::make_shared<NEBMessagingSyncMessageManager>(store_);
    auto link = std::make_shared<NEBMessagingConnection>(
        "4242", "secret-4242", "127.0.0.1", 1, dispatch::RunLoop::main(), store_, manager_);
    ASSERT_TRUE(store_->saveS2dMessageWithRmqId("p9"));
    peers::MessagingServer server(
        {.identity = &ca().localhost(), .expectedUser = "4242", .expectedToken = "secret-4242"});
    std::shared_ptr<NEBMessagingConnection> signing;
    std::optional<int32_t> confirmed;
    std::optional<bool> seenBefore;
    auto willSend = [&](const char* id, int64_t code) {
        return std::find(receiver_->willSend.begin(), receiver_->willSend.end(),
                         std::make_pair(std::string(id), code)) != receiver_->willSend.end();
    };
    struct Case {
        const char* name;
        std::function<void()> call;
        std::function<bool()> done;
    } cases[] = {
        {"upstream send",
         [&] {
             auto message = upstream({{"nebula.ttl", 60}, {"nebula.msg_id", "m2"}});
             manager_->sendDataMessageStanza(message);
         },
         [&] { return willSend("m2", 0); }},
        {"acknowledgement",
         [&] {
             client_->connectionDidReceiveAckForRmqIds({"2"}, [&](int32_t n) { confirmed = n; });
         },
         [&] { return confirmed.has_value(); }},
        {"resend scan", [&] { manager_->resendMessagesWithConnection(*link); },
         [&] { return willSend("old", 1001); }},
        {"sync lookup",
         [&] {
             sync->didReceiveMCSSyncMessage({{"msg.message_id", ns::Value("s1")}},
                                            NEBMessagingSyncMessageManager::Copy::SocketCopy,
                                            [&](bool seen) { seenBefore = seen; });
         },
         [&] { return seenBefore.has_value(); }},
        {"login's unconfirmed ids",
         [&] {
             signing = std::make_shared<NEBMessagingConnection>(
                 "4242", "secret-4242", "127.0.0.1", server.port(), dispatch::RunLoop::main(),
                 store_, manager_);
             signing->signIn();
         },
         [&] { return !server.loginRequests().empty(); }},
    };
    for (const auto& c : cases) {
        {
            messagingtest::StoreFileHolder holder(storePath(),
                                                  messagingtest::StoreFileHolder::Hold::Exclusive);
            ASSERT_TRUE(holder.held());
            c.call();
            bool ran = false;
            dispatch::Queue::main().async([&] { ran = true; });
            ASSERT_TRUE(pumpUntil([&] { return ran; })) << c.name;
            EXPECT_FALSE(c.done()) << c.name;
        }
        EXPECT_TRUE(runUntil(c.done)) << c.name;
    }
    EXPECT_EQ(confirmed, 1);
    EXPECT_EQ(seenBefore, false);
    auto record = store_->querySyncMessageWithRmqID("s1");
    EXPECT_TRUE(record && record->mcsReceived);
    const auto login = server.loginRequests().at(0);
    EXPECT_EQ(std::vector<std::string>(login.received_persistent_id().begin(),
                                       login.received_persistent_id().end()),
              std::vector<std::string>{"p9"});
    std::vector<std::string> left;
    for (const auto& stanza : stored()) left.push_back(stanza.id());
    EXPECT_EQ(left, std::vector<std::string>{"m2"});
}

}  // namespace
