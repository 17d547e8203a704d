// Messages from the server are stored before the server hears that they arrived: a message
// the store cannot take is not acknowledged and comes again; a burst is stored a socket read at
// a time, off the main thread, and reaches the page in order as the page takes it.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <fstream>

#include "platform/ui/Application.h"
#include "sdk/messaging/NEBMessaging.h"
#include "sdk/messaging/NEBMessagingClient.h"
#include "sdk/messaging/NEBMessagingRmqManager.h"
#include "tests/sdk/messaging/MessagingTestSupport.h"
#include "tests/sdk/messaging/StoreFileActivity.h"

namespace {

using namespace std::chrono_literals;
constexpr int8_t kDataTag = 8;
constexpr size_t kWindow = NEBMessaging::kUnrecordedDeliveriesLimit;

std::vector<std::string> idsFrom(int from, int to) {
    std::vector<std::string> ids;
    for (int i = from; i < to; ++i) ids.push_back("m" + std::to_string(i));
    return ids;
}

// The page: takes each message, and confirms it when the test says.
class Page : public NEBMessagingDelegate {
public:
    bool respondsToApplicationReceivedRemoteMessage() const override { return true; }
    bool confirmsDelivery() const override { return true; }
    void applicationReceivedRemoteMessage(const NEBMessagingRemoteMessage& message) override {
        ids.push_back(message.messageID);
    }
    std::vector<std::string> ids;
};

// Whether every id is kept in the store's file, read through a connection of its own.
bool allKept(const std::string& path, const std::vector<std::string>& ids) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt* find = nullptr;
    sqlite3_prepare_v2(db, "SELECT 1 FROM undeliveredS2dMessages WHERE rmq_id = ?", -1, &find,
                       nullptr);
    bool all = find != nullptr;
    for (const auto& id : ids) {
        if (!all) break;
        sqlite3_bind_text(find, 1, id.data(), static_cast<int>(id.size()), SQLITE_TRANSIENT);
        all = sqlite3_step(find) == SQLITE_ROW;
        sqlite3_reset(find);
    }
    sqlite3_finalize(find);
    sqlite3_close(db);
    return all;
}

class NEBMessagingReceiptTest : public messagingtest::MessagingTest {
protected:
    void TearDown() override {
        messaging_.reset();
        MessagingTest::TearDown();
    }
    // The library as a new run of the program starts it, with a page that confirms nothing
    // until told, connected.
    void start(std::chrono::milliseconds storeBusyTimeout) {
        messaging_.reset();
        auto preferences = credentials();
        messaging_ = std::make_shared<NEBMessaging>(
            services(),
            [preferences] { return std::optional<NEBMessagingCheckinPreferences>(preferences); },
            [this] { return reachability_; }, NEBMessagingConfig(0, storeBusyTimeout));
        messaging_->start();
        page_ = std::make_shared<Page>();
        messaging_->setRemoteMessageDelegate(page_);
        messaging_->connectWithCompletion([](const std::optional<ns::Error>&) {});
        ASSERT_TRUE(runUntil([&] { return messaging_->client()->isConnectionActive(); }));
    }
    void send(int from, int to) {
        for (int i = from; i < to; ++i) {
            server_.sendFrame(kDataTag, messagingtest::topicMessage("m" + std::to_string(i), "x"));
        }
    }

    // Before the store, which opens its file through it, and gone after it.
    messagingtest::StoreFileActivity activity_;
    // Acknowledgements that came before their messages were stored.
    std::atomic<bool> checkAcknowledgements_{false};
    std::atomic<int> acknowledgedUnstored_{0};
    ns::ScopedSharedInstance<ui::Application> application_;
    peers::MessagingServer server_{{.identity = &ca().localhost(),
                                    .expectedUser = "4242",
                                    .expectedToken = "secret-4242",
                                    .redeliver = true,
                                    .onAcknowledged = [this](const std::vector<std::string>& ids) {
                                        if (checkAcknowledgements_ && !allKept(storePath(), ids))
                                            ++acknowledgedUnstored_;
                                    }}};
    messagingtest::ScopedMessagingServerAddress address_{server_.port()};
    std::shared_ptr<NIPReachability> reachability_ = reachability(true);
    std::shared_ptr<NEBMessaging> messaging_;
    std::shared_ptr<Page> page_;
};

// Another process holds the store's file longer than the store waits: the messages are not
// acknowledged, so the server sends them again once the store can take them, and they are
// kept until the page confirms them, across a restart.
TEST_F(NEBMessagingReceiptTest, AMessageTheStoreCannotTakeIsNotAcknowledgedAndComesAgain) {
    start(20ms);
    sqlite3* reader = nullptr;
    ASSERT_EQ(sqlite3_open(storePath().c_str(), &reader), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM undeliveredS2dMessages", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    send(0, 3);
    ASSERT_TRUE(runUntil([&] { return log_->count("Received messages could not be stored"); }));
    EXPECT_TRUE(page_->ids.empty());
    EXPECT_EQ(server_.unacknowledged(), idsFrom(0, 3));
    sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(reader);

    // The client signs in again after its back-off.
    loop().advanceBy(10s);
    ASSERT_TRUE(
        runUntil([&] { return page_->ids.size() == 3 && server_.unacknowledged().empty(); }));
    EXPECT_EQ(page_->ids, idsFrom(0, 3));
    EXPECT_GE(server_.redelivered(), 3u);

    start(5000ms);
    loop().runUntilIdle();
    EXPECT_EQ(page_->ids, idsFrom(0, 3));
}

TEST_F(NEBMessagingReceiptTest, ABurstIsStoredAReadAtATimeOffTheMainThreadAndAcknowledgedStored) {
    start(5000ms);
    activity_.reset();
    checkAcknowledgements_ = true;
    send(0, 1000);
    ASSERT_TRUE(runUntil([&] { return server_.unacknowledged().empty(); }));
    loop().runUntilIdle();
    checkAcknowledgements_ = false;
    EXPECT_EQ(acknowledgedUnstored_, 0);
    EXPECT_EQ(activity_.mainThreadWrites(), 0);
    // Each read brings many messages; each read is one transaction.
    EXPECT_LT(activity_.commits("rmq2.sqlite"), 100);
    EXPECT_EQ(page_->ids, idsFrom(0, kWindow));

    // Each confirmation of the page is recorded and makes room for the next message.
    for (size_t confirmed = 0; confirmed < page_->ids.size(); loop().runUntilIdle()) {
        while (confirmed < page_->ids.size())
            messaging_->didDeliverRemoteMessage(page_->ids[confirmed++]);
    }
    EXPECT_EQ(page_->ids, idsFrom(0, 1000));
    EXPECT_TRUE(messaging_->rmq2Manager()->undeliveredS2dMessages().empty());
    EXPECT_EQ(activity_.mainThreadWrites(), 0);
}

// Messages whose acknowledgement had not gone out when the link went are reported received at
// the next login: the server does not send them again, and the page has each once.
TEST_F(NEBMessagingReceiptTest, MessagesTheNextLoginReportsAreNotSentAgain) {
    start(5000ms);
    for (int i = 0; i < 3; ++i) {
        auto message = messagingtest::topicMessage("m" + std::to_string(i), "x");
        // Acknowledged with the client's next frame, which does not come before the close.
        message.set_immediate_ack(false);
        server_.sendFrame(kDataTag, message);
    }
    ASSERT_TRUE(runUntil([&] { return page_->ids.size() == 3; }));
    for (const auto& id : page_->ids) messaging_->didDeliverRemoteMessage(id);
    loop().runUntilIdle();
    EXPECT_EQ(server_.unacknowledged(), idsFrom(0, 3));

    server_.closeConnection();
    ASSERT_TRUE(runUntil([&] { return !messaging_->client()->isConnectionActive(); }));
    loop().advanceBy(10s);
    ASSERT_TRUE(runUntil([&] { return messaging_->client()->isConnectionActive(); }));
    loop().runUntilIdle();
    EXPECT_EQ(server_.redelivered(), 0u);
    EXPECT_TRUE(server_.unacknowledged().empty());
    EXPECT_EQ(page_->ids, idsFrom(0, 3));
}

// What the server sends while the client is away reaches the page once the client is back.
TEST_F(NEBMessagingReceiptTest, AMessageSentWhileTheClientIsAwayArrivesWhenItIsBack) {
    start(5000ms);
    server_.closeConnection();
    ASSERT_TRUE(runUntil([&] { return !messaging_->client()->isConnectionActive(); }));
    send(0, 1);
    loop().advanceBy(10s);
    ASSERT_TRUE(runUntil([&] { return page_->ids.size() == 1; }));
    EXPECT_EQ(page_->ids, idsFrom(0, 1));
}

// A store whose file is damaged past its first page (its tables open, every write says the
// image is malformed) is made anew, and messages reach the page in this run and the next; a
// disk that stays full hands messages on without the store, each acknowledged once the page
// has it. One line says the store is given up, one that it takes messages again.
TEST_F(NEBMessagingReceiptTest, MessagesReachThePageFromAStoreThatCannotBeWritten) {
    start(5000ms);
    messaging_.reset();
    {
        std::fstream file(storePath(), std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(0, std::ios::end);
        const auto size = static_cast<size_t>(file.tellp());
        ASSERT_GT(size, 8192u);
        file.seekp(4096);
        file << std::string(size - 4096, '\x5a');
    }
    start(5000ms);
    const auto takeAll = [&](size_t count) {
        ASSERT_TRUE(runUntil([&] { return page_->ids.size() == count; }));
        for (const auto& id : page_->ids) messaging_->didDeliverRemoteMessage(id);
        ASSERT_TRUE(runUntil([&] { return server_.unacknowledged().empty(); }));
    };
    send(0, 2);
    takeAll(2);
    EXPECT_EQ(log_->count("is given up for now (it is damaged"), 1u);
    EXPECT_EQ(log_->count("takes received messages again"), 1u);
    start(5000ms);
    send(2, 4);
    takeAll(2);
    EXPECT_EQ(page_->ids, idsFrom(2, 4));

    activity_.refuseChanges(SQLITE_FULL);
    send(4, 7);
    ASSERT_TRUE(runUntil([&] { return page_->ids.size() == 5; }));
    loop().runUntilIdle();
    EXPECT_EQ(server_.unacknowledged(), idsFrom(4, 7));
    for (const auto& id : idsFrom(4, 7)) messaging_->didDeliverRemoteMessage(id);
    ASSERT_TRUE(runUntil([&] { return server_.unacknowledged().empty(); }));
    EXPECT_EQ(log_->count("is given up for now (it cannot be written"), 1u);
    activity_.refuseChanges(SQLITE_OK);
    send(7, 8);
    takeAll(6);
    EXPECT_EQ(page_->ids, idsFrom(2, 8));
    EXPECT_EQ(log_->count("takes received messages again"), 2u);
}

// Stored messages fill the window that a kill would hand on again, then the disk fills before
// their deliveries are recorded: a message that comes next reaches the page all the same, and
// is acknowledged once the page has it.
TEST_F(NEBMessagingReceiptTest, AGivenUpStoreHandsOnPastAFullWindow) {
    start(5000ms);
    send(0, kWindow);
    ASSERT_TRUE(runUntil([&] { return page_->ids.size() == kWindow; }));
    activity_.refuseChanges(SQLITE_FULL);
    for (const auto& id : page_->ids) messaging_->didDeliverRemoteMessage(id);
    send(kWindow, kWindow + 1);
    ASSERT_TRUE(runUntil([&] { return page_->ids.size() == kWindow + 1; }));
    messaging_->didDeliverRemoteMessage(page_->ids.back());
    EXPECT_TRUE(runUntil([&] { return server_.unacknowledged().empty(); }));
}

}  // namespace
