// Received messages on their way from the socket to the application: each read stored in one
// transaction off the main thread, nothing past a read that failed, at most a window of them
// with the application unrecorded, the rest read back from the store in arrival order, and
// none kept past its time to live.
#include "sdk/messaging/NEBMessagingReceivedMessages.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "sdk/messaging/NEBMessagingRmqManager.h"
#include "sdk/messaging/NEBMessagingUtilities.h"
#include "tests/sdk/messaging/MessagingTestSupport.h"
#include "tests/sdk/messaging/StoreFileActivity.h"

namespace {

using namespace std::chrono_literals;
using Batch = NEBMessagingReceivedMessages::Batch;
using Outcome = NEBMessagingReceivedMessages::Outcome;
constexpr size_t kWindow = NEBMessagingReceivedMessages::kUnrecordedLimit;

Batch batchOf(int from, int count, int32_t ttl = 0) {
    Batch batch;
    for (int i = from; i < from + count; ++i) {
        auto stanza = messagingtest::topicMessage("m" + std::to_string(i), "text");
        stanza.set_ttl(ttl);
        batch.items.push_back({stanza.persistent_id(), stanza.SerializeAsString(), true, true,
                               NEBMessagingReceivedMessages::expirationTimeFor(stanza)});
    }
    return batch;
}

std::vector<std::string> idsFrom(int from, int to) {
    std::vector<std::string> ids;
    for (int i = from; i < to; ++i) ids.push_back("m" + std::to_string(i));
    return ids;
}

class NEBMessagingReceivedMessagesTest : public messagingtest::MessagingTest {
protected:
    void TearDown() override {
        manager_.reset();
        MessagingTest::TearDown();
    }
    // The store as a new run of the program opens it, its messages going to `arrived`.
    NEBMessagingReceivedMessages& open(std::chrono::milliseconds busyTimeout = 5000ms) {
        manager_.reset();
        manager_ = std::make_shared<NEBMessagingRmqManager>("rmq2", busyTimeout);
        manager_->receivedMessages()->setSink(
            [this](const mcs::McsDataMessageStanza& stanza, NEBMessagingArrival arrival) {
                arrived_.push_back(stanza.persistent_id());
                arrivals_.push_back(arrival);
            });
        return *manager_->receivedMessages();
    }
    Outcome submit(Batch batch, NEBMessagingReceivedMessages::Chain chain = nullptr) {
        std::optional<Outcome> outcome;
        manager_->receivedMessages()->submit(std::move(batch), std::move(chain),
                                             [&](Outcome o) { outcome = o; });
        loop().runUntilIdle();
        EXPECT_TRUE(outcome);
        return outcome.value_or(Outcome::Abandoned);
    }
    void finish(const std::vector<std::string>& ids) {
        for (const auto& id : ids) manager_->receivedMessages()->finish(id);
        loop().runUntilIdle();
    }
    std::string path() const {
        return NEBMessagingRmq2PersistentStore::pathForDatabase(
            "rmq2", NEBMessagingRmq2PersistentStore::kApplicationSupport);
    }

    // Before the store, which opens its file through it, and gone after it.
    messagingtest::StoreFileActivity activity_;
    std::shared_ptr<NEBMessagingRmqManager> manager_;
    std::vector<std::string> arrived_;
    std::vector<NEBMessagingArrival> arrivals_;
};

TEST_F(NEBMessagingReceivedMessagesTest, AReadIsOneTransactionWrittenOffTheMainThread) {
    open();
    activity_.reset();
    EXPECT_EQ(submit(batchOf(0, 300)), Outcome::Stored);
    EXPECT_EQ(activity_.commits("rmq2.sqlite"), 1);
    EXPECT_EQ(activity_.mainThreadWrites(), 0);
    // Stored, the ids are owed an acknowledgement; a window of the messages is handed on.
    EXPECT_EQ(manager_->unackedS2dRmqIds().size(), 300u);
    EXPECT_EQ(arrived_, idsFrom(0, kWindow));

    // Deliveries are recorded in the background; each makes room for the next message.
    activity_.reset();
    finish(idsFrom(0, 10));
    EXPECT_EQ(activity_.mainThreadWrites(), 0);
    EXPECT_EQ(arrived_, idsFrom(0, kWindow + 10));
    EXPECT_EQ(manager_->undeliveredS2dMessages().size(), 290u);
}

// A restart hands over what was kept, a page at a time as the application takes it, before
// anything that arrives after; nothing is read back before the application can take it.
TEST_F(NEBMessagingReceivedMessagesTest, KeptMessagesComeBackInOrderAPageAtATime) {
    open();
    submit(batchOf(0, 300));
    finish(idsFrom(0, 20));
    arrived_.clear();
    arrivals_.clear();

    auto& received = open();
    EXPECT_EQ(submit(batchOf(300, 2)), Outcome::Stored);
    EXPECT_TRUE(arrived_.empty());
    received.startDelivering();
    loop().runUntilIdle();
    EXPECT_EQ(arrived_, idsFrom(20, 20 + kWindow));
    EXPECT_LE(received.waitingInMemoryCount(), size_t(NEBMessagingReceivedMessages::kPageSize));
    EXPECT_EQ(arrivals_.front(), NEBMessagingArrival::KeptFromEarlierRun);
    for (size_t taken = 0; taken < arrived_.size();) {
        std::vector<std::string> batch(arrived_.begin() + static_cast<long>(taken), arrived_.end());
        taken = arrived_.size();
        finish(batch);
    }
    EXPECT_EQ(arrived_, idsFrom(20, 302));
    EXPECT_EQ(arrivals_.back(), NEBMessagingArrival::Received);
    EXPECT_TRUE(manager_->undeliveredS2dMessages().empty());
}

// A read the store cannot take is neither acknowledged nor handed on, and no later read of the
// same link is stored past it.
TEST_F(NEBMessagingReceivedMessagesTest, NothingIsStoredPastAReadThatFailed) {
    open(0ms);
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(path().c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(holder, "BEGIN; SELECT count(*) FROM s2dRmqIds_1", nullptr, nullptr, nullptr),
        SQLITE_OK);
    auto chain = std::make_shared<std::atomic<bool>>(false);
    EXPECT_EQ(submit(batchOf(0, 2), chain), Outcome::Failed);
    sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    EXPECT_EQ(submit(batchOf(2, 1), chain), Outcome::Abandoned);
    EXPECT_EQ(submit(batchOf(3, 1), std::make_shared<std::atomic<bool>>(false)), Outcome::Stored);
    EXPECT_EQ(arrived_, idsFrom(3, 4));
    EXPECT_EQ(manager_->unackedS2dRmqIds(), idsFrom(3, 4));
}

TEST_F(NEBMessagingReceivedMessagesTest, MessagesPastTheirTimeToLiveAreDroppedWithALogLine) {
    open();
    submit(batchOf(0, 1, 60));
    submit(batchOf(1, 1));  // no time to live of its own: the longest
    loop().advanceBy(61s);
    open().startDelivering();
    loop().runUntilIdle();
    EXPECT_EQ(arrived_, (std::vector<std::string>{"m0", "m1", "m1"}));
    EXPECT_EQ(log_->count("Dropped 1 received messages whose time to live ended"), 1u);
}

// A file written before kept messages expired keeps them, for the longest time to live from
// the launch that first opens it.
TEST_F(NEBMessagingReceivedMessagesTest, KeptMessagesOfAnOlderFileGetAnExpiry) {
    open();
    manager_.reset();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path().c_str(), &db), SQLITE_OK);
    const std::string row = messagingtest::topicMessage("old", "text").SerializeAsString();
    ASSERT_EQ(sqlite3_exec(db,
                           "DROP TABLE undeliveredS2dMessages; CREATE TABLE "
                           "undeliveredS2dMessages (_id INTEGER PRIMARY KEY, rmq_id TEXT UNIQUE, "
                           "data BLOB)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO undeliveredS2dMessages (rmq_id, data) VALUES ('old', ?)",
                       -1, &insert, nullptr);
    sqlite3_bind_blob(insert, 1, row.data(), static_cast<int>(row.size()), SQLITE_TRANSIENT);
    ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
    sqlite3_finalize(insert);
    sqlite3_close(db);

    open();
    loop().advanceBy(std::chrono::seconds(NEBMessagingReceivedMessages::kDefaultTimeToLive - 1));
    open().startDelivering();
    loop().runUntilIdle();
    EXPECT_EQ(arrived_, std::vector<std::string>{"old"});
    loop().advanceBy(2s);
    open().startDelivering();
    loop().runUntilIdle();
    EXPECT_EQ(arrived_, std::vector<std::string>{"old"});
    EXPECT_EQ(log_->count("Dropped 1 received messages whose time to live ended"), 1u);
}

}  // namespace
