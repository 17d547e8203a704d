// Several threads on one database at once; also built and run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bridge/HYBInvokedUrlCommand.h"
#include "platform/ns/Log.h"
#include "plugins/device_storage/SQLitePlugin.h"
#include "tests/plugins/device_storage/support/SQLitePluginFixture.h"
#include "tests/plugins/device_storage/support/SQLiteTestGate.h"

namespace {

using sqlitetest::SentResult;
using sqlitetest::SQLiteTestGate;

class SQLiteConcurrencyTest : public sqlitetest::SQLitePluginFixture {
protected:
    void SetUp() override {
        SQLitePluginFixture::SetUp();
        // Background work runs on the threads the tests make.
        makePlugin(true);
        // Refused opens are expected here by the dozen; their log lines would bury a report.
        ns::Log::setStandardErrorEnabled(false);
    }
    void TearDown() override {
        ns::Log::setStandardErrorEnabled(true);
        SQLitePluginFixture::TearDown();
    }

    // Runs the action on the calling thread under a fresh callback id, which it answers.
    std::string perform(const std::string& action, const ns::Value& argument) {
        const std::string id = "T" + std::to_string(nextId_.fetch_add(1));
        plugin_->performAction(action,
                               HYBInvokedUrlCommand({argument}, id, "SQLitePlugin", action));
        return id;
    }
    std::string performBatch(const std::string& name, const ns::Array& executes) {
        return perform("backgroundExecuteSqlBatch", batchArgs(name, executes));
    }
    // Every statement of the batch succeeded.
    void expectAllSucceeded(const std::string& id) {
        const SentResult result = delegate_->waitFor(id);
        ASSERT_EQ(result.status, 1u);
        for (const ns::Value& entry : *result.message.array()) {
            EXPECT_EQ(entry["type"], ns::Value("success")) << entry.description();
        }
    }

    std::atomic<int> nextId_{0};
};

TEST_F(SQLiteConcurrencyTest, TwoBatchesInTransactionsStaySeparate) {
    SQLiteTestGate gate;  // before the open, so that the connection has the gate
    open("c.db");
    run("c.db", "CREATE TABLE t (batch, n)");
    std::string first, second;
    std::thread a([&] {
        first =
            performBatch("c.db", {statement("BEGIN"), statement("INSERT INTO t VALUES (1, 1)"),
                                  statement("SELECT test_gate()"),
                                  statement("INSERT INTO t VALUES (1, 2)"), statement("COMMIT")});
    });
    gate.waitUntilReached();
    // The first batch is inside its transaction now; the second must wait for its end rather
    // than run its statements inside it.
    std::thread b([&] {
        second = performBatch("c.db", {statement("BEGIN"), statement("INSERT INTO t VALUES (2, 1)"),
                                       statement("ROLLBACK")});
    });
    gate.open();
    a.join();
    b.join();
    expectAllSucceeded(first);
    expectAllSucceeded(second);
    EXPECT_EQ(rows("c.db", "SELECT batch, n FROM t ORDER BY n"),
              (ns::Array{ns::Value::dict({{"batch", 1}, {"n", 1}}),
                         ns::Value::dict({{"batch", 1}, {"n", 2}})}));
}

// Close and delete wait for the batch that uses the database: every statement of it runs, on
// the open connection. (The two answers may reach the page in either order: the batch lets go
// of the database before it answers.)
TEST_F(SQLiteConcurrencyTest, CloseAndDeleteWaitForTheBatchInFlight) {
    for (const char* action : {"close", "delete"}) {
        SCOPED_TRACE(action);
        SQLiteTestGate gate;
        open("w.db");
        run("w.db", "CREATE TABLE IF NOT EXISTS t (n)");
        std::string batchId, endId;
        std::thread a([&] {
            batchId = performBatch(
                "w.db", {statement("INSERT INTO t VALUES (1)"), statement("SELECT test_gate()"),
                         statement("INSERT INTO t VALUES (2)")});
        });
        gate.waitUntilReached();
        std::thread b([&] { endId = perform(action, ns::Value::dict({{"path", "w.db"}})); });
        // The entry leaves the table before the end waits for the connection.
        while (plugin_->isOpen("w.db")) std::this_thread::yield();
        gate.open();
        a.join();
        b.join();
        expectAllSucceeded(batchId);
        EXPECT_EQ(delegate_->waitFor(endId).status, 1u);
        EXPECT_FALSE(plugin_->isOpen("w.db"));
        if (std::string(action) == "close") {
            open("w.db");
            EXPECT_EQ(rows("w.db", "SELECT count(*) AS n FROM t")[0]["n"], ns::Value(2));
            close("w.db");
        }
    }
    EXPECT_FALSE(std::filesystem::exists(documents() + "/w.db"));
}

TEST_F(SQLiteConcurrencyTest, OverlappingOpensOfOneNameOpenItOnce) {
    constexpr int kThreads = 8;
    std::vector<std::string> ids(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            ids[i] = perform("open", ns::Value::dict({{"name", "o.db"}}));
        });
    }
    for (auto& thread : threads) thread.join();
    int opened = 0;
    for (const auto& id : ids) {
        const SentResult result = delegate_->waitFor(id);
        if (result.status == 1u) {
            ++opened;
        } else {
            EXPECT_EQ(result.message, ns::Value("INTERNAL PLUGIN ERROR: database already open"));
        }
    }
    EXPECT_EQ(opened, 1);
}

// Opens, closes, deletes, batches and single statements on one name from several threads:
// every answer is one the page can get, and the file stays sound.
TEST_F(SQLiteConcurrencyTest, MixedWorkFromSeveralThreads) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 30;
    const ns::Value name = ns::Value::dict({{"name", "m.db"}});
    const ns::Value path = ns::Value::dict({{"path", "m.db"}});
    const ns::Array work = {statement("CREATE TABLE IF NOT EXISTS t (n)"), statement("BEGIN"),
                            statement("INSERT INTO t VALUES (?)", {1}),
                            statement("INSERT INTO t VALUES (?)", {2}), statement("COMMIT")};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                switch ((t + round) % 5) {
                    case 0:
                        perform("open", name);
                        break;
                    case 1:
                        performBatch("m.db", work);
                        break;
                    case 2:
                        perform("close", path);
                        break;
                    case 3:
                        perform("delete", path);
                        break;
                    default:
                        perform("executeSql",
                                ns::Value::dict({{"dbargs", ns::Value::dict({{"dbname", "m.db"}})},
                                                 {"ex", statement("SELECT count(*) FROM t")}}));
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (const SentResult& result : delegate_->results()) {
        if (const ns::Array* entries = result.message.array()) {
            for (const ns::Value& entry : *entries) {
                // A batch's transaction is never entered by another batch's statements.
                EXPECT_NE(entry["error"]["message"],
                          ns::Value("cannot start a transaction within a transaction"));
            }
        }
    }
    if (!plugin_->isOpen("m.db")) open("m.db");
    EXPECT_EQ(rows("m.db", "PRAGMA integrity_check")[0]["integrity_check"], ns::Value("ok"));
}

}  // namespace
