#include "sdk/messaging/NEBMessagingRmqManager.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "sdk/messaging/NEBMessagingUtilities.h"
#include "tests/sdk/messaging/MessagingTestSupport.h"

namespace {

namespace fs = std::filesystem;
using Store = NEBMessagingRmq2PersistentStore;

std::vector<std::string> tables(const std::string& path) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    std::vector<std::string> names;
    sqlite3_exec(
        db, "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name",
        [](void* out, int, char** values, char**) {
            static_cast<std::vector<std::string>*>(out)->push_back(values[0]);
            return 0;
        },
        &names, nullptr);
    sqlite3_close(db);
    return names;
}

void exec(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    sqlite3_close(db);
}

mcs::McsDataMessageStanza stanza(int32_t ttl = 60) {
    mcs::McsDataMessageStanza s;
    s.set_from("");
    s.set_category("app");
    s.set_ttl(ttl);
    return s;
}

class NEBMessagingRmqManagerTest : public messagingtest::MessagingTest {
protected:
    std::string supportPath() { return Store::pathForDatabase("rmq2", Store::kApplicationSupport); }
    std::string documentsPath() { return Store::pathForDatabase("rmq2", Store::kDocuments); }
    std::unique_ptr<NEBMessagingRmqManager> open() {
        auto manager = std::make_unique<NEBMessagingRmqManager>("rmq2");
        manager->loadRmqId();
        return manager;
    }
    std::vector<int64_t> storedIds(NEBMessagingRmqManager& manager) {
        std::vector<int64_t> ids;
        manager.scanWithRmqMessageHandler(
            [&](int64_t id, int8_t, const std::string&) { ids.push_back(id); }, nullptr);
        return ids;
    }
};

TEST_F(NEBMessagingRmqManagerTest, FirstLaunchCreatesTheTablesAndHandsOutTwo) {
    auto manager = open();
    EXPECT_TRUE(fs::exists(supportPath()));
    EXPECT_EQ(tables(supportPath()),
              (std::vector<std::string>{"incomingSyncMessages", "lastrmqid", "outgoingRmqMessages",
                                        "s2dRmqIds_1", "undeliveredS2dMessages"}));
    EXPECT_EQ(manager->queryHighestRmqId(), 0);
    EXPECT_EQ(manager->querylastRmqId(), 0);
    EXPECT_EQ(manager->rmqId(), 1);
    EXPECT_EQ(manager->nextRmqId(), 2);
}

TEST_F(NEBMessagingRmqManagerTest, FileIsMovedOutOfDocumentsOrTheDocumentsCopyDropped) {
    fs::remove_all(fs::path(supportPath()).parent_path());
    open();
    ASSERT_TRUE(fs::exists(documentsPath()));  // no subfolder: the file stays in Documents
    fs::create_directories(fs::path(supportPath()).parent_path());
    {
        auto manager = open();
        EXPECT_EQ(manager->store().currentDirectory(), Store::kApplicationSupport);
    }
    EXPECT_FALSE(fs::exists(documentsPath()));
    EXPECT_TRUE(fs::exists(supportPath()));

    fs::copy_file(supportPath(), documentsPath());
    open();
    EXPECT_FALSE(fs::exists(documentsPath()));
    EXPECT_EQ(log_->count("File rmq2.sqlite exists both in Documents and ApplicationSupport."), 1u);
}

TEST_F(NEBMessagingRmqManagerTest, ReopeningReplacesTheIntegerIdTable) {
    open();
    exec(supportPath(), "CREATE TABLE s2dRmqIds (_id INTEGER PRIMARY KEY, rmq_id INTEGER)");
    exec(supportPath(), "DROP TABLE s2dRmqIds_1");
    exec(supportPath(), "INSERT INTO lastrmqid (_id, rmq_id) VALUES (1, 12)");
    auto manager = open();
    EXPECT_EQ(tables(supportPath()),
              (std::vector<std::string>{"incomingSyncMessages", "lastrmqid", "outgoingRmqMessages",
                                        "s2dRmqIds_1", "undeliveredS2dMessages"}));
    EXPECT_EQ(manager->rmqId(), 13);
}

TEST_F(NEBMessagingRmqManagerTest, CounterStartsAboveEveryIdEverHandedOut) {
    {
        auto manager = open();
        for (int64_t id : {5, 9}) manager->saveMessage(stanza(), id, 8);
    }
    auto manager = open();
    EXPECT_EQ(manager->rmqId(), 10);
    EXPECT_EQ(manager->nextRmqId(), 11);
    // Acknowledging the newest leaves 5 waiting and a floor of 12 in "lastrmqid": the
    // counter must not fall back to 6 on the next launch.
    EXPECT_EQ(manager->removeRmqMessagesWithRmqIds({"9", "11"}), 1);
    EXPECT_EQ(manager->querylastRmqId(), 12);
    EXPECT_EQ(open()->rmqId(), 13);
}

TEST_F(NEBMessagingRmqManagerTest, OnlyOwnNumericIdsMoveTheFloor) {
    auto manager = open();
    for (int i = 0; i < 10; ++i) manager->nextRmqId();  // rmqId 11
    manager->saveMessage(stanza(), 3, 8);
    EXPECT_EQ(manager->removeRmqMessagesWithRmqIds({"3"}), 1);
    EXPECT_EQ(manager->querylastRmqId(), 0);
    for (const auto& bad : std::vector<std::vector<std::string>>{{"x"},
                                                                 {"11x"},
                                                                 {" 11"},
                                                                 {"-5"},
                                                                 {"12"},
                                                                 {"9223372036854775807"},
                                                                 {"99999999999999999999"}}) {
        EXPECT_EQ(manager->removeRmqMessagesWithRmqIds(bad), 0);
        EXPECT_EQ(manager->querylastRmqId(), 0) << bad[0];
    }
    // The floor follows the largest id acknowledged, wherever it stands in the list, from the
    // one before the newest handed out (11) on.
    const std::pair<std::vector<std::string>, int64_t> rises[] = {{{"10"}, 11}, {{"11", "9"}, 12}};
    for (const auto& [ids, floor] : rises) {
        EXPECT_EQ(manager->removeRmqMessagesWithRmqIds(ids), 0);
        EXPECT_EQ(manager->querylastRmqId(), floor) << ids[0];
    }
}

// The counter is read on the store's queue when asked to; an id asked for before that starts
// above the stored floor all the same, whichever way it is asked for.
TEST_F(NEBMessagingRmqManagerTest, AnIdAskedBeforeTheCounterIsReadStartsAboveTheFloor) {
    using Ask = std::function<int64_t(NEBMessagingRmqManager&)>;
    const Ask next = [](auto& manager) { return manager.nextRmqId(); };
    const Ask save = [](auto& manager) {
        auto message = stanza();
        manager.saveRmqMessage(message);
        return std::stoll(message.persistent_id());
    };
    const Ask saveInBackground = [](auto& manager) {
        std::optional<mcs::McsDataMessageStanza> saved;
        manager.saveDataMessage(stanza(), [&](auto message) { saved = std::move(message); });
        loop().runUntilIdle();
        return saved ? std::stoll(saved->persistent_id()) : 0;
    };
    struct Case {
        const char* floor;
        Ask ask;
        int64_t expected;
    } cases[] = {
        {"", next, 2},
        {"INSERT INTO lastrmqid (_id, rmq_id) VALUES (1, 12)", save, 14},
        {"INSERT INTO outgoingRmqMessages (rmq_id, type, data) VALUES (9, 8, x'')",
         saveInBackground, 11},
    };
    for (const auto& c : cases) {
        Store::removeDatabase("rmq2");
        open();
        if (*c.floor) exec(supportPath(), c.floor);
        NEBMessagingRmqManager manager("rmq2");
        EXPECT_EQ(c.ask(manager), c.expected) << c.floor;
    }
}

// A store made anew (its file was found damaged) keeps the floor one above the highest id it
// saw handed out, this run or an earlier one: the next launch hands none of them out again.
TEST_F(NEBMessagingRmqManagerTest, AStoreMadeAnewKeepsTheFloorAboveEveryIdHandedOut) {
    struct Case {
        const char* earlier;  // what an earlier run left in the file
        int saved;            // messages saved this run
        int64_t floor;
    } cases[] = {
        {"", 3, 5},
        {"INSERT INTO outgoingRmqMessages (rmq_id, type, data) VALUES (9, 8, x'')", 0, 10},
        {"INSERT INTO lastrmqid (_id, rmq_id) VALUES (1, 12)", 0, 12},
    };
    for (const auto& c : cases) {
        Store::removeDatabase("rmq2");
        open();
        if (*c.earlier) exec(supportPath(), c.earlier);
        {
            auto manager = open();
            for (int i = 0; i < c.saved; ++i) {
                auto message = stanza();
                manager->saveRmqMessage(message);
            }
            manager->inBackground([](Store& store) { EXPECT_TRUE(store.makeAnew()); });
            EXPECT_EQ(manager->querylastRmqId(), c.floor) << c.earlier;
        }
        EXPECT_EQ(open()->nextRmqId(), c.floor + 2) << c.earlier;
    }
}

TEST_F(NEBMessagingRmqManagerTest, SavingGivesIdsOnlyToMessagesWithout) {
    auto manager = open();
    auto fresh = stanza();
    ASSERT_TRUE(manager->saveRmqMessage(fresh));
    EXPECT_EQ(fresh.persistent_id(), "2");
    auto named = stanza();
    named.set_persistent_id("42");
    ASSERT_TRUE(manager->saveRmqMessage(named));
    EXPECT_EQ(manager->rmqId(), 2);
    manager->saveMessage(mcs::McsHeartbeatPing(), 7, 0);
    manager->saveMessage(stanza(), 0, 8);  // id 0 is never read back
    EXPECT_EQ(storedIds(*manager), (std::vector<int64_t>{2, 7, 42}));
    std::vector<int64_t> data;
    manager->scanWithRmqMessageHandler(
        nullptr, [&](int64_t id, const mcs::McsDataMessageStanza&) { data.push_back(id); });
    EXPECT_EQ(data, (std::vector<int64_t>{2, 42}));
}

TEST_F(NEBMessagingRmqManagerTest, BatchedDeleteCountsEveryBatch) {
    open();
    std::vector<std::string> ids;
    std::string rows = "BEGIN;";
    for (int i = 1; i <= 250; ++i) {
        rows += "INSERT INTO outgoingRmqMessages (rmq_id, type, data) VALUES (" +
                std::to_string(i) + ", 8, x'');";
        ids.push_back(std::to_string(i));
    }
    exec(supportPath(), rows + "COMMIT;");
    auto manager = open();
    for (int i = 0; i < 260; ++i) manager->nextRmqId();
    EXPECT_EQ(manager->removeRmqMessagesWithRmqIds(ids), 250);
    EXPECT_EQ(manager->removeRmqMessagesWithRmqIds(ids), 0);
    EXPECT_EQ(manager->store().deleteMessagesFromTable(Store::kTableS2dRmqIds, {}), 0);

    manager->saveS2dMessageWithRmqId("b");
    manager->saveS2dMessageWithRmqId("a");
    EXPECT_EQ(manager->unackedS2dRmqIds(), (std::vector<std::string>{"a", "b"}));
    manager->removeS2dIds({"a"});
    EXPECT_EQ(manager->unackedS2dRmqIds(), std::vector<std::string>{"b"});
}

// A message received twice (through the push service and the socket, or sent again) is
// reported once in the next login; a file that already holds an id twice reads it once.
TEST_F(NEBMessagingRmqManagerTest, ReceivedIdsAreKeptOnce) {
    auto manager = open();
    for (const char* id : {"a", "b", "a", "a"}) EXPECT_TRUE(manager->saveS2dMessageWithRmqId(id));
    EXPECT_EQ(manager->unackedS2dRmqIds(), (std::vector<std::string>{"a", "b"}));
    exec(supportPath(), "INSERT INTO s2dRmqIds_1 (rmq_id) VALUES ('b')");
    EXPECT_EQ(manager->unackedS2dRmqIds(), (std::vector<std::string>{"a", "b"}));
    manager->removeS2dIds({"b"});
    EXPECT_EQ(manager->unackedS2dRmqIds(), std::vector<std::string>{"a"});
}

// A received message is kept with its id until delivered; its id is never stored without it.
TEST_F(NEBMessagingRmqManagerTest, ReceivedMessagesAreKeptWithTheirIdsUntilDelivered) {
    using Save = Store::ReceivedMessageSave;
    using Kept = std::vector<std::pair<std::string, std::string>>;
    auto manager = open();
    EXPECT_EQ(manager->saveReceivedS2dMessageWithRmqId("a", std::string("A\0", 2)), Save::Saved);
    EXPECT_EQ(manager->saveReceivedS2dMessageWithRmqId("b", "B"), Save::Saved);
    // The server sending a message again while it waits changes nothing.
    EXPECT_EQ(manager->saveReceivedS2dMessageWithRmqId("a", "A again"), Save::AlreadyKept);
    EXPECT_EQ(manager->undeliveredS2dMessages(), (Kept{{"a", std::string("A\0", 2)}, {"b", "B"}}));
    EXPECT_EQ(manager->unackedS2dRmqIds(), (std::vector<std::string>{"a", "b"}));

    // Delivered: no longer kept, still owed an acknowledgement.
    manager->removeUndeliveredS2dMessage("a");
    EXPECT_EQ(open()->undeliveredS2dMessages(), (Kept{{"b", "B"}}));
    EXPECT_EQ(manager->unackedS2dRmqIds(), (std::vector<std::string>{"a", "b"}));

    exec(supportPath(),
         "CREATE TRIGGER refuse BEFORE INSERT ON undeliveredS2dMessages BEGIN SELECT "
         "RAISE(ABORT, 'refused'); END");
    EXPECT_EQ(manager->saveReceivedS2dMessageWithRmqId("c", "C"), Save::Failed);
    EXPECT_EQ(manager->unackedS2dRmqIds(), (std::vector<std::string>{"a", "b"}));
}

// Readers page through kept messages by row: a message kept after the newest ones went takes
// a row past theirs, not one a reader has passed already.
TEST_F(NEBMessagingRmqManagerTest, AKeptMessageTakesARowPastEveryRowGivenBefore) {
    auto manager = open();
    const auto rowOf = [&](const std::string& id) {
        sqlite3* db = nullptr;
        sqlite3_open(supportPath().c_str(), &db);
        int64_t row = 0;
        sqlite3_exec(
            db, ("SELECT _id FROM undeliveredS2dMessages WHERE rmq_id = '" + id + "'").c_str(),
            [](void* out, int, char** values, char**) {
                *static_cast<int64_t*>(out) = std::stoll(values[0]);
                return 0;
            },
            &row, nullptr);
        sqlite3_close(db);
        return row;
    };
    for (const char* id : {"a", "b", "c"}) manager->saveReceivedS2dMessageWithRmqId(id, id);
    const int64_t last = rowOf("c");
    manager->removeUndeliveredS2dMessage("c");
    manager->removeUndeliveredS2dMessage("b");
    manager->saveReceivedS2dMessageWithRmqId("d", "d");
    EXPECT_GT(rowOf("d"), last);
}

TEST_F(NEBMessagingRmqManagerTest, SyncMessagesAreFoundByExactIdAndSwept) {
    auto manager = open();
    int64_t now = NEBMessagingTimestampSeconds();
    const std::string quoted = "it's' OR '1'='1";
    ASSERT_TRUE(manager->saveSyncMessageWithRmqID(quoted, now + 100, true, false));
    ASSERT_TRUE(manager->saveSyncMessageWithRmqID("old", now - 1, false, true));
    ASSERT_TRUE(manager->saveSyncMessageWithRmqID("both", now + 100, false, false));
    EXPECT_FALSE(manager->querySyncMessageWithRmqID("it"));
    EXPECT_FALSE(manager->querySyncMessageWithRmqID("x' OR '1'='1"));
    auto found = manager->querySyncMessageWithRmqID(quoted);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->rmqID, quoted);
    EXPECT_TRUE(found->apnsReceived);
    EXPECT_FALSE(found->mcsReceived);

    ASSERT_TRUE(manager->updateSyncMessageViaAPNSWithRmqID("both"));
    ASSERT_TRUE(manager->updateSyncMessageViaMCSWithRmqID("both"));
    EXPECT_EQ(manager->deleteExpiredOrFinishedSyncMessages(), 2);
    EXPECT_TRUE(manager->querySyncMessageWithRmqID(quoted));
    EXPECT_TRUE(manager->deleteSyncMessageWithRmqID(quoted));
    EXPECT_FALSE(manager->deleteSyncMessageWithRmqID(quoted));

    // A record describes itself with its expiry as a date (and, as it always has, no closing
    // parenthesis).
    ASSERT_TRUE(manager->saveSyncMessageWithRmqID("m1", 978307261, false, true));
    EXPECT_EQ(manager->querySyncMessageWithRmqID("m1")->description(),
              "NEBMessagingPersistentSyncMessage: (rmqID: m1, apns: 0, mcs: 1, expiry: "
              "2001-01-01 00:01:01 +0000");
}

TEST_F(NEBMessagingRmqManagerTest, SyncOperationsThatCannotBePreparedFillTheirErrors) {
    open();
    // A view in the table's place survives the store's CREATE IF NOT EXISTS but refuses every
    // write at prepare time.
    exec(supportPath(),
         "DROP TABLE incomingSyncMessages; CREATE VIEW incomingSyncMessages AS SELECT 'x' AS "
         "rmq_id, 0 AS expiration_ts, 0 AS apns_recv, 0 AS mcs_recv");
    auto manager = open();
    using Operation = std::function<bool(std::optional<ns::Error>*)>;
    const std::vector<std::pair<Operation, std::string>> cases = {
        {[&](auto* e) { return manager->saveSyncMessageWithRmqID("m", 1, false, true, e); },
         "Failed to save sync message to store."},
        {[&](auto* e) { return manager->updateSyncMessageViaAPNSWithRmqID("x", e); },
         "Failed to update sync message"},
        {[&](auto* e) { return manager->updateSyncMessageViaMCSWithRmqID("x", e); },
         "Failed to update sync message"},
        {[&](auto* e) { return manager->deleteExpiredOrFinishedSyncMessages(e) != 0; },
         "Failed to save delete expired sync messages from store."},
    };
    for (const auto& [operation, text] : cases) {
        std::optional<ns::Error> error;
        EXPECT_FALSE(operation(&error)) << text;
        ASSERT_TRUE(error) << text;
        EXPECT_EQ(error->domain(), kNEBMessagingDomain);
        EXPECT_EQ(error->code(), SQLITE_ERROR) << text;
        EXPECT_EQ(error->userInfo(), (ns::Dictionary{{"error", text}}));
        EXPECT_FALSE(operation(nullptr)) << "without an error to fill: " << text;
    }
}

TEST_F(NEBMessagingRmqManagerTest, DamagedFileStartsAgainButABusyOneIsKept) {
    fs::create_directories(fs::path(supportPath()).parent_path());
    {
        std::ofstream garbage(supportPath(), std::ios::binary);
        garbage << std::string(8192, 'x');
    }
    {
        auto manager = open();
        ASSERT_TRUE(
            manager->saveRmqMessage(*std::make_unique<mcs::McsDataMessageStanza>(stanza())));
    }
    // Another connection holds the file: the store cannot create its tables now, and must not
    // take that for damage.
    sqlite3* holder = nullptr;
    sqlite3_open(supportPath().c_str(), &holder);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    {
        auto blocked = std::make_unique<NEBMessagingRmqManager>("rmq2");
        EXPECT_FALSE(
            blocked->saveRmqMessage(*std::make_unique<mcs::McsDataMessageStanza>(stanza())));
    }
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    EXPECT_EQ(storedIds(*open()), std::vector<int64_t>{2});
}

}  // namespace
