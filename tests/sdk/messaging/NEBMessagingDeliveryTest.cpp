// Received messages are kept from their arrival until the application confirms it has them:
// one the application never confirmed comes again after a restart, with its id; one it did
// does not.
#include <gtest/gtest.h>

#include "platform/ui/Application.h"
#include "sdk/messaging/NEBMessaging.h"
#include "sdk/messaging/NEBMessagingClient.h"
#include "sdk/messaging/NEBMessagingRmqManager.h"
#include "tests/sdk/messaging/MessagingTestSupport.h"

namespace {

constexpr int8_t kDataTag = 8;

// The page's side: takes messages, and confirms those the test says it ran.
class ConfirmingDelegate : public NEBMessagingDelegate {
public:
    bool respondsToApplicationReceivedRemoteMessage() const override { return true; }
    bool confirmsDelivery() const override { return true; }
    void applicationReceivedRemoteMessage(const NEBMessagingRemoteMessage& message) override {
        received.push_back(message);
    }
    std::vector<std::string> ids() const {
        std::vector<std::string> all;
        for (const auto& message : received) all.push_back(message.messageID);
        return all;
    }
    std::vector<NEBMessagingRemoteMessage> received;
};

class NEBMessagingDeliveryTest : public messagingtest::MessagingTest {
protected:
    void TearDown() override {
        messaging_.reset();
        MessagingTest::TearDown();
    }
    // The library as a new run of the program starts it, on the same store.
    std::shared_ptr<NEBMessaging> start() {
        messaging_.reset();
        auto preferences = credentials();
        messaging_ = messagingtest::startedMessaging(
            [preferences] { return std::optional<NEBMessagingCheckinPreferences>(preferences); },
            [this] { return reachability_; });
        return messaging_;
    }
    void connect() {
        messaging_->connectWithCompletion([](const std::optional<ns::Error>&) {});
        ASSERT_TRUE(runUntil([&] { return messaging_->client()->isConnectionActive(); }));
    }
    std::vector<std::string> kept() {
        std::vector<std::string> ids;
        for (const auto& [id, data] : messaging_->rmq2Manager()->undeliveredS2dMessages())
            ids.push_back(id);
        return ids;
    }

    ns::ScopedSharedInstance<ui::Application> application_;
    peers::MessagingServer server_{
        {.identity = &ca().localhost(), .expectedUser = "4242", .expectedToken = "secret-4242"}};
    messagingtest::ScopedMessagingServerAddress address_{server_.port()};
    std::shared_ptr<NIPReachability> reachability_ = reachability(true);
    std::shared_ptr<NEBMessaging> messaging_;
};

TEST_F(NEBMessagingDeliveryTest, AMessageNeverConfirmedComesAgainAfterARestartWithItsId) {
    start();
    auto page = std::make_shared<ConfirmingDelegate>();
    messaging_->setRemoteMessageDelegate(page);
    connect();
    server_.sendFrame(kDataTag, messagingtest::topicMessage("m-1", "one"));
    server_.sendFrame(kDataTag, messagingtest::topicMessage("m-2", "two"));
    // One that may also come through the push service: its own first check must not make it
    // a duplicate of itself when it comes again.
    auto duplex = messagingtest::topicMessage("m-3", "three");
    auto* flag = duplex.add_app_data();
    flag->set_key("msg.duplex");
    flag->set_value("1");
    server_.sendFrame(kDataTag, duplex);
    // The library's own message is dropped at once, and so not kept.
    server_.sendFrame(kDataTag, messagingtest::topicMessage("s-1", "service", "com.nebula.msg"));
    ASSERT_TRUE(runUntil([&] { return page->received.size() == 3; }));
    EXPECT_EQ(page->ids(), (std::vector<std::string>{"m-1", "m-2", "m-3"}));
    EXPECT_EQ(page->received[1].appData,
              (ns::Dictionary{{"from", "/topics/news"}, {"text", "two"}}));
    EXPECT_EQ(kept(), (std::vector<std::string>{"m-1", "m-2", "m-3"}));

    // The server sends one again while it is kept: the application does not get it twice.
    server_.sendFrame(kDataTag, messagingtest::topicMessage("m-2", "two"));
    server_.sendFrame(kDataTag, messagingtest::topicMessage("m-4", "four"));
    ASSERT_TRUE(runUntil([&] { return page->received.size() == 4; }));
    EXPECT_EQ(page->received.back().messageID, "m-4");

    // Confirmations are recorded as they come.
    messaging_->didDeliverRemoteMessage("m-1");
    messaging_->didDeliverRemoteMessage("m-4");
    EXPECT_EQ(kept(), (std::vector<std::string>{"m-2", "m-3"}));

    // The restart: the kept ones wait for a receiver, then come in the order they came.
    start();
    loop().runUntilIdle();
    EXPECT_EQ(kept(), (std::vector<std::string>{"m-2", "m-3"}));
    auto again = std::make_shared<ConfirmingDelegate>();
    messaging_->setRemoteMessageDelegate(again);
    loop().runUntilIdle();
    EXPECT_EQ(again->ids(), (std::vector<std::string>{"m-2", "m-3"}));
    ASSERT_EQ(again->received.size(), 2u);
    EXPECT_EQ(again->received[0].appData, page->received[1].appData);
    messaging_->didDeliverRemoteMessage("m-2");
    messaging_->didDeliverRemoteMessage("m-3");

    start();
    auto third = std::make_shared<ConfirmingDelegate>();
    messaging_->setRemoteMessageDelegate(third);
    loop().runUntilIdle();
    EXPECT_TRUE(third->received.empty());
    EXPECT_TRUE(kept().empty());
}

// A receiver that does not confirm has the message once it is handed over.
TEST_F(NEBMessagingDeliveryTest, AMessageHandedToAReceiverThatDoesNotConfirmIsNotKept) {
    start();
    auto page = std::make_shared<messagingtest::RecordingDelegate>();
    messaging_->setRemoteMessageDelegate(page);
    connect();
    server_.sendFrame(kDataTag, messagingtest::topicMessage("m-1", "one"));
    ASSERT_TRUE(runUntil([&] { return page->received.size() == 1; }));
    EXPECT_TRUE(kept().empty());
    start();
    auto again = std::make_shared<ConfirmingDelegate>();
    messaging_->setRemoteMessageDelegate(again);
    loop().runUntilIdle();
    EXPECT_TRUE(again->received.empty());
}

}  // namespace
