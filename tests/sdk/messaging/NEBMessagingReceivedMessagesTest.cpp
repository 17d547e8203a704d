// Received messages on their way from the socket to the application: each read stored in one
// transaction off the main thread, nothing past a read that failed, at most a window of them
// with the application unrecorded, the rest read back from the store in arrival order, and
// none kept past its time to live.
#include "sdk/messaging/NEBMessagingReceivedMessages.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <set>

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Semaphore.h"
#include "sdk/messaging/NEBMessagingRmqManager.h"
#include "sdk/messaging/NEBMessagingUtilities.h"
#include "tests/sdk/messaging/MessagingTestSupport.h"
#include "tests/sdk/messaging/StoreFileActivity.h"
#include "tests/sdk/messaging/StoreFileHolder.h"

namespace {

using namespace std::chrono_literals;
using Batch = NEBMessagingReceivedMessages::Batch;
using Outcome = NEBMessagingReceivedMessages::Outcome;
using Hold = messagingtest::StoreFileHolder::Hold;
constexpr size_t kWindow = NEBMessagingReceivedMessages::kUnrecordedLimit;
constexpr auto kRetryDelay =
    std::chrono::seconds(int(NEBMessagingReceivedMessages::kRetryDelaySeconds));

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

// A read of one data message without an id: nothing can keep it, it is only handed on.
Batch unkeptBatch() {
    Batch batch;
    batch.items.push_back(
        {"", messagingtest::topicMessage("", "text").SerializeAsString(), false, true, 0});
    return batch;
}

std::vector<std::string> idsFrom(int from, int to) {
    std::vector<std::string> ids;
    for (int i = from; i < to; ++i) ids.push_back("m" + std::to_string(i));
    return ids;
}

// Holds a serial queue: what is given to it after the gate waits until the gate opens, which it
// does at the latest when it goes.
class QueueGate {
public:
    explicit QueueGate(dispatch::Queue& queue) {
        queue.async([open = open_, reached = reached_] {
            reached->signal();
            open->wait();
        });
    }
    ~QueueGate() { open(); }
    QueueGate(const QueueGate&) = delete;
    QueueGate& operator=(const QueueGate&) = delete;

    // Waits until the queue has done what was given to it before the gate.
    bool reached() { return reached_->wait(std::chrono::seconds(30)); }
    void open() {
        if (!std::exchange(opened_, true)) open_->signal();
    }

private:
    std::shared_ptr<dispatch::Semaphore> open_ = std::make_shared<dispatch::Semaphore>();
    std::shared_ptr<dispatch::Semaphore> reached_ = std::make_shared<dispatch::Semaphore>();
    bool opened_ = false;
};

class NEBMessagingReceivedMessagesTest : public messagingtest::MessagingTest {
protected:
    void TearDown() override {
        close();
        MessagingTest::TearDown();
    }
    // The store as a new run of the program opens it, its messages going to `arrived`.
    NEBMessagingReceivedMessages& open(std::chrono::milliseconds busyTimeout = 5000ms) {
        close();
        manager_ = std::make_shared<NEBMessagingRmqManager>("rmq2", busyTimeout);
        manager_->receivedMessages()->setSink(recorder());
        return received();
    }
    // Opened again after a run that kept three messages (m0 to m2), without a busy wait.
    NEBMessagingReceivedMessages& reopenedWithThreeKept() {
        open();
        submit(batchOf(0, 3));
        arrived_.clear();
        auto& reopened = open(0ms);
        loop().runUntilIdle();
        return reopened;
    }
    // As open(), with the store's work on a queue the test can hold (gate()).
    NEBMessagingReceivedMessages& openOnOwnQueue(std::chrono::milliseconds busyTimeout = 5000ms) {
        close();
        ownQueue_ = dispatch::Queue::createSerial("test.rmq-store");
        ownStore_ = std::make_unique<NEBMessagingRmq2PersistentStore>("rmq2", busyTimeout);
        ownReceived_ = std::make_shared<NEBMessagingReceivedMessages>(
            ownQueue_, ownStore_.get(), ownStore_->lastUndeliveredRowId());
        ownReceived_->setSink(recorder());
        return received();
    }
    // While it is closed the main loop cannot run until idle: the queue is not idle.
    std::unique_ptr<QueueGate> gate() { return std::make_unique<QueueGate>(*ownQueue_); }
    void close() {
        manager_.reset();
        if (!ownStore_) return;
        // The queue's work is done before its store goes.
        loop().runUntilIdle();
        ownReceived_.reset();
        ownStore_.reset();
        ownQueue_.reset();
    }
    NEBMessagingReceivedMessages& received() {
        return ownReceived_ ? *ownReceived_ : *manager_->receivedMessages();
    }
    NEBMessagingReceivedMessages::Sink recorder() {
        return [this](const mcs::McsDataMessageStanza& stanza, NEBMessagingArrival arrival) {
            arrived_.push_back(stanza.persistent_id());
            arrivals_.push_back(arrival);
        };
    }
    Outcome submit(Batch batch, NEBMessagingReceivedMessages::Chain chain = nullptr) {
        std::optional<Outcome> outcome;
        received().submit(std::move(batch), std::move(chain), [&](Outcome o) { outcome = o; });
        loop().runUntilIdle();
        EXPECT_TRUE(outcome);
        return outcome.value_or(Outcome::Abandoned);
    }
    void finish(const std::vector<std::string>& ids) {
        for (const auto& id : ids) received().finish(id);
        loop().runUntilIdle();
    }
    // What a new run of the program hands over, once it may.
    std::vector<std::string> handedOverAfterARestart() {
        arrived_.clear();
        open().startDelivering();
        loop().runUntilIdle();
        return arrived_;
    }
    std::string path() const {
        return NEBMessagingRmq2PersistentStore::pathForDatabase(
            "rmq2", NEBMessagingRmq2PersistentStore::kApplicationSupport);
    }

    // Before the store, which opens its file through it, and gone after it.
    messagingtest::StoreFileActivity activity_;
    std::shared_ptr<NEBMessagingRmqManager> manager_;
    std::shared_ptr<dispatch::Queue> ownQueue_;
    std::unique_ptr<NEBMessagingRmq2PersistentStore> ownStore_;
    std::shared_ptr<NEBMessagingReceivedMessages> ownReceived_;
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

// A message that nothing can keep (it has no id) still waits its turn behind reads that are
// being stored ahead of it.
TEST_F(NEBMessagingReceivedMessagesTest, AMessageWithoutAnIdWaitsBehindReadsBeingStored) {
    open();
    received().submit(batchOf(0, 2), nullptr, nullptr);
    received().submit(unkeptBatch(), nullptr, nullptr);
    loop().runUntilIdle();
    EXPECT_EQ(arrived_, (std::vector<std::string>{"m0", "m1", ""}));
}

// A message the batch does not keep (its id, not text, could never be confirmed) is handed on
// in its place and owed an acknowledgement, but not kept.
TEST_F(NEBMessagingReceivedMessagesTest, AMessageTheBatchDoesNotKeepIsHandedOnButNotKept) {
    open();
    Batch batch = batchOf(0, 1);
    const std::string odd = "\xff\xfe";
    batch.items.push_back(
        {odd, messagingtest::topicMessage(odd, "text").SerializeAsString(), false, true, 0});
    batch.items.push_back(batchOf(1, 1).items.front());
    EXPECT_EQ(submit(std::move(batch)), Outcome::Stored);
    EXPECT_EQ(arrived_, (std::vector<std::string>{"m0", odd, "m1"}));
    EXPECT_EQ(manager_->unackedS2dRmqIds(), (std::vector<std::string>{"m0", "m1", odd}));
    std::vector<std::string> kept;
    for (const auto& [id, data] : manager_->undeliveredS2dMessages()) kept.push_back(id);
    EXPECT_EQ(kept, (std::vector<std::string>{"m0", "m1"}));
}

// Messages the application holds without confirming them are handed on once, however the
// others are read back around them: from memory in the run that received them, or a page at a
// time after a restart. The held ones sit at the window's, the page's and memory's edges.
class HeldMessagesTest : public NEBMessagingReceivedMessagesTest,
                         public testing::WithParamInterface<bool> {};

TEST_P(HeldMessagesTest, AMessageTheApplicationHoldsIsHandedOnOnce) {
    const bool restart = GetParam();
    open();
    submit(batchOf(0, 300));
    if (restart) handedOverAfterARestart();
    const std::set<std::string> held = {"m0", "m63", "m255"};
    for (size_t taken = 0; taken < arrived_.size();) {
        std::vector<std::string> confirmed;
        for (; taken < arrived_.size(); ++taken) {
            if (!held.count(arrived_[taken])) confirmed.push_back(arrived_[taken]);
        }
        finish(confirmed);
    }
    EXPECT_EQ(arrived_, idsFrom(0, 300));
}

// Named so that the store's concurrency tests (NEBMessagingReceivedMessages*) include it.
INSTANTIATE_TEST_SUITE_P(NEBMessagingReceivedMessages, HeldMessagesTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "AfterARestart" : "AsReceived";
                         });

// A kept message that can no longer be read is dropped with a log line, once; the others still
// come.
TEST_F(NEBMessagingReceivedMessagesTest, AKeptMessageThatCannotBeReadIsDroppedOnce) {
    open();
    submit(batchOf(0, 3));
    manager_.reset();
    {
        messagingtest::StoreFileHolder writer(path(), Hold::Writer);
        ASSERT_TRUE(
            writer.execute("UPDATE undeliveredS2dMessages SET data = x'ff' WHERE rmq_id = 'm1'"));
    }
    EXPECT_EQ(handedOverAfterARestart(), (std::vector<std::string>{"m0", "m2"}));
    EXPECT_EQ(handedOverAfterARestart(), (std::vector<std::string>{"m0", "m2"}));
    EXPECT_EQ(log_->count("Dropping kept message m1"), 1u);
}

// What the store cannot do now, while another process holds its file, it does later: a page
// of kept messages it could not read, a delivery it could not record.
TEST_F(NEBMessagingReceivedMessagesTest, APageTheStoreCannotReadNowIsReadLater) {
    auto& received = reopenedWithThreeKept();
    {
        messagingtest::StoreFileHolder holder(path(), Hold::Exclusive);
        ASSERT_TRUE(holder.held());
        received.startDelivering();
        loop().runUntilIdle();
        EXPECT_TRUE(arrived_.empty());
    }
    loop().advanceBy(kRetryDelay);
    EXPECT_EQ(arrived_, idsFrom(0, 3));
}

// A store that stays out of reach is tried again later each time, as the SDK's back-off says,
// rather than every few seconds for as long as it lasts.
TEST_F(NEBMessagingReceivedMessagesTest, AStoreOutOfReachIsTriedLessOftenEachTime) {
    auto& received = reopenedWithThreeKept();
    {
        messagingtest::StoreFileHolder holder(path(), Hold::Exclusive);
        ASSERT_TRUE(holder.held());
        received.startDelivering();
        loop().runUntilIdle();
        loop().advanceBy(kRetryDelay);
        EXPECT_TRUE(arrived_.empty());
    }
    // The second try comes twice as late as the first.
    loop().advanceBy(kRetryDelay);
    EXPECT_TRUE(arrived_.empty());
    loop().advanceBy(kRetryDelay);
    EXPECT_EQ(arrived_, idsFrom(0, 3));
}

// Tried again after the first delay, then twice as late; once a write has gone through, the
// next failure is tried again after the first delay.
TEST_F(NEBMessagingReceivedMessagesTest, ADeliveryTheStoreCannotRecordNowIsRecordedLater) {
    open(0ms);
    submit(batchOf(0, 3));
    {
        messagingtest::StoreFileHolder reader(path(), Hold::Reader);
        ASSERT_TRUE(reader.held());
        finish({"m0"});
        loop().advanceBy(kRetryDelay);
    }
    loop().advanceBy(2 * kRetryDelay);
    {
        messagingtest::StoreFileHolder reader(path(), Hold::Reader);
        ASSERT_TRUE(reader.held());
        finish({"m1"});
    }
    loop().advanceBy(kRetryDelay);
    EXPECT_EQ(handedOverAfterARestart(), std::vector<std::string>{"m2"});
}

// A kept message lasts through the last second of its time to live.
TEST_F(NEBMessagingReceivedMessagesTest, AKeptMessageLastsThroughItsTimeToLive) {
    open();
    submit(batchOf(0, 1, 60));
    loop().advanceBy(60s);
    EXPECT_EQ(handedOverAfterARestart(), std::vector<std::string>{"m0"});
    loop().advanceBy(1s);
    EXPECT_TRUE(handedOverAfterARestart().empty());
}

// Deliveries the application confirmed are recorded with the store's next write, whatever
// that write is: a read with ids, one without, or one the store cannot take (which leaves them
// to the write after it). Each makes room for the next message, and none comes again after a
// restart. The store's queue is held so that the confirmations wait for that write.
TEST_F(NEBMessagingReceivedMessagesTest, DeliveriesRecordedWithAReadMakeRoomForMoreMessages) {
    openOnOwnQueue();
    submit(batchOf(0, 100));
    ASSERT_EQ(arrived_, idsFrom(0, kWindow));
    {
        auto held = gate();
        received().submit(batchOf(100, 1), nullptr, nullptr);
        for (const auto& id : idsFrom(0, 10)) received().finish(id);
    }
    loop().runUntilIdle();
    EXPECT_EQ(arrived_, idsFrom(0, kWindow + 10));
    close();
    EXPECT_EQ(handedOverAfterARestart().front(), "m10");
}

TEST_F(NEBMessagingReceivedMessagesTest, DeliveriesRecordedWithAReadWithoutIdsAreNotLost) {
    openOnOwnQueue();
    submit(batchOf(0, 2));
    {
        auto first = gate();
        received().submit(batchOf(2, 1), nullptr, nullptr);
        auto second = gate();
        // Behind the read being stored, so through the store as well.
        received().submit(unkeptBatch(), nullptr, nullptr);
        first->open();
        ASSERT_TRUE(second->reached());
        received().finish("m0");
    }
    loop().runUntilIdle();
    close();
    EXPECT_EQ(handedOverAfterARestart(), (std::vector<std::string>{"m1", "m2"}));
}

TEST_F(NEBMessagingReceivedMessagesTest, DeliveriesTakenByAReadThatFailedAreRecordedLater) {
    openOnOwnQueue(0ms);
    submit(batchOf(0, 2));
    {
        auto held = gate();
        received().submit(batchOf(2, 1), nullptr, nullptr);
        received().finish("m0");
        messagingtest::StoreFileHolder reader(path(), Hold::Reader);
        ASSERT_TRUE(reader.held());
        held->open();
        loop().runUntilIdle();
    }
    loop().advanceBy(kRetryDelay);
    close();
    EXPECT_EQ(handedOverAfterARestart(), std::vector<std::string>{"m1"});
}

// A store given up because it cannot be written hands on every message of a read it did not
// take, however many deliveries wait to be recorded, and calls the read's completion once the
// application has them, then the completions behind it that are ready, in read order. Stored
// messages still wait for the window until deliveries are recorded again.
struct GivenUpCase {
    const char* name;
    int refusal;
    int stored;
};
void PrintTo(const GivenUpCase& c, std::ostream* os) {
    *os << c.name;
}

class AGivenUpStoreTest : public NEBMessagingReceivedMessagesTest,
                          public testing::WithParamInterface<GivenUpCase> {};

TEST_P(AGivenUpStoreTest, HandsOnEveryUnstoredMessageWhateverTheWindowHolds) {
    const auto [name, refusal, stored] = GetParam();
    const int handed = std::min(stored, int(kWindow));
    open();
    submit(batchOf(0, stored));
    activity_.refuseChanges(refusal);
    finish(idsFrom(0, handed));
    std::vector<std::string> completed;
    received().submit(batchOf(100, 1), nullptr, [&](Outcome o) {
        if (o == Outcome::Stored) completed.push_back("unstored");
    });
    loop().runUntilIdle();
    received().submit(unkeptBatch(), nullptr, [&](Outcome) { completed.push_back("unkept"); });
    loop().runUntilIdle();
    auto expected = idsFrom(0, handed);
    expected.insert(expected.end(), {"m100", ""});
    EXPECT_EQ(arrived_, expected);
    EXPECT_TRUE(completed.empty());
    finish({"m100"});
    EXPECT_EQ(completed, (std::vector<std::string>{"unstored", "unkept"}));

    activity_.refuseChanges(SQLITE_OK);
    loop().advanceBy(kRetryDelay);
    EXPECT_EQ(arrived_.size(), size_t(stored + 2));
}

INSTANTIATE_TEST_SUITE_P(
    NEBMessagingReceivedMessages, AGivenUpStoreTest,
    testing::Values(GivenUpCase{"AFullDiskWithThreeUnrecorded", SQLITE_FULL, 3},
                    GivenUpCase{"AFullDiskWithTheWindowUnrecorded", SQLITE_FULL, int(kWindow)},
                    GivenUpCase{"InputOutputErrorsWithMoreWaiting", SQLITE_IOERR,
                                int(kWindow) + 2}),
    [](const testing::TestParamInfo<GivenUpCase>& info) { return info.param.name; });

// A store found damaged as a read is written is made anew; what it keeps from then on reaches
// the application in this run, wherever the reader of the earlier file's messages stands (not
// yet started, or a window into them), and is not taken for a message an earlier run kept.
class AStoreMadeAnewTest : public NEBMessagingReceivedMessagesTest,
                           public testing::WithParamInterface<bool> {
protected:
    // Overwrites the first page of the table's tree: the file opens, a write to it fails.
    void damageTable(const std::string& table) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path().c_str(), &db), SQLITE_OK);
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db,
                           "SELECT rootpage, (SELECT page_size FROM pragma_page_size) FROM "
                           "sqlite_master WHERE name = ?",
                           -1, &s, nullptr);
        sqlite3_bind_text(s, 1, table.c_str(), -1, SQLITE_TRANSIENT);
        ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
        const int64_t page = sqlite3_column_int64(s, 0), size = sqlite3_column_int64(s, 1);
        sqlite3_finalize(s);
        sqlite3_close(db);
        std::fstream file(path(), std::ios::in | std::ios::out | std::ios::binary);
        file.seekp((page - 1) * size);
        file << std::string(size_t(size), '\x5a');
    }
};

TEST_P(AStoreMadeAnewTest, HandsOnWhatItKeepsInTheSameRun) {
    const bool readerStarted = GetParam();
    open();
    submit(batchOf(0, 100));
    close();
    damageTable(NEBMessagingRmq2PersistentStore::kTableS2dRmqIds);
    arrived_.clear();
    auto& received = open();
    if (readerStarted) received.startDelivering();
    EXPECT_EQ(submit(batchOf(100, 1)), Outcome::Stored);
    received.startDelivering();
    finish(idsFrom(0, kWindow));
    auto expected = readerStarted ? idsFrom(0, kWindow) : std::vector<std::string>{};
    expected.push_back("m100");
    EXPECT_EQ(arrived_, expected);
    EXPECT_EQ(arrivals_.back(), NEBMessagingArrival::Received);
    EXPECT_EQ(log_->count("is given up for now (it is damaged"), 1u);
}

INSTANTIATE_TEST_SUITE_P(NEBMessagingReceivedMessages, AStoreMadeAnewTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "ReaderPastTheNewRows" : "ReaderNotStarted";
                         });

// A message the server sends again while the application's confirmation of it waits for the
// store's next write (a link that went before its acknowledgement did, then a burst): that
// write recognises it, and the application does not have it twice.
TEST_F(NEBMessagingReceivedMessagesTest,
       AMessageSentAgainAsItsDeliveryIsRecordedIsNotHandedOnAgain) {
    openOnOwnQueue();
    submit(batchOf(0, 2));
    {
        auto held = gate();
        received().submit(batchOf(0, 1), nullptr, nullptr);
        received().finish("m0");
    }
    loop().runUntilIdle();
    EXPECT_EQ(arrived_, (std::vector<std::string>{"m0", "m1"}));
    close();
    EXPECT_EQ(handedOverAfterARestart(), std::vector<std::string>{"m1"});
}

}  // namespace
