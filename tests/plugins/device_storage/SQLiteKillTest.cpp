// A process killed in the middle of a batch, inside its transaction, leaves a database that
// opens sound with every earlier commit and nothing of the transaction in flight.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "bridge/HYBInvokedUrlCommand.h"
#include "platform/ns/Sandbox.h"
#include "plugins/device_storage/SQLitePlugin.h"
#include "tests/plugins/device_storage/support/SQLitePluginFixture.h"
#include "tests/plugins/device_storage/support/SQLiteTestDelegate.h"
#include "tests/plugins/device_storage/support/SQLiteTestGate.h"
#include "tests/support/ChildProcess.h"

namespace {

using sqlitetest::SQLitePluginFixture;

constexpr char kReached = 'R';
constexpr char kFailed = 'F';

// The child's work: a committed batch, then a batch that fills a transaction past the page
// cache (so that pages reach the file and a hot journal) and stops at the gate, which tells
// the parent through the pipe and never opens. It works in the sandbox args[0].
[[noreturn]] void childWork(int pipeOut, const std::vector<std::string>& args) {
    if (!ns::Sandbox::configure(args.at(0)).ok()) _exit(1);
    auto signal = [pipeOut](char c) { (void)!::write(pipeOut, &c, 1); };
    sqlitetest::SQLiteTestGate gate([&] { signal(kReached); });
    auto delegate = std::make_shared<sqlitetest::SQLiteTestDelegate>(true);
    auto plugin = std::make_shared<SQLitePlugin>();
    plugin->setCommandDelegate(delegate);
    plugin->pluginInitialize();
    plugin->performAction("open", HYBInvokedUrlCommand({ns::Value::dict({{"name", "k.db"}})}, "o",
                                                       "SQLitePlugin", "open"));
    const ns::Array committed = {
        SQLitePluginFixture::statement("PRAGMA cache_size = 8"),
        SQLitePluginFixture::statement("CREATE TABLE t (n INTEGER, payload BLOB)"),
        SQLitePluginFixture::statement("BEGIN"),
        SQLitePluginFixture::statement("WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 "
                                       "FROM c WHERE n < 100) INSERT INTO t SELECT n, "
                                       "randomblob(500) FROM c"),
        SQLitePluginFixture::statement("COMMIT")};
    plugin->performAction("backgroundExecuteSqlBatch",
                          HYBInvokedUrlCommand({SQLitePluginFixture::batchArgs("k.db", committed)},
                                               "b1", "SQLitePlugin", "backgroundExecuteSqlBatch"));
    const sqlitetest::SentResult first = delegate->waitFor("b1");
    for (const ns::Value& entry : *first.message.array()) {
        if (entry["type"] != ns::Value("success")) {
            signal(kFailed);
            _exit(1);
        }
    }
    const ns::Array inFlight = {
        SQLitePluginFixture::statement("BEGIN"),
        SQLitePluginFixture::statement("UPDATE t SET payload = randomblob(600)"),
        SQLitePluginFixture::statement("WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 "
                                       "FROM c WHERE n < 2000) INSERT INTO t SELECT n + 100, "
                                       "randomblob(500) FROM c"),
        SQLitePluginFixture::statement("SELECT test_gate()"),
        SQLitePluginFixture::statement("COMMIT")};
    plugin->performAction("backgroundExecuteSqlBatch",
                          HYBInvokedUrlCommand({SQLitePluginFixture::batchArgs("k.db", inFlight)},
                                               "b2", "SQLitePlugin", "backgroundExecuteSqlBatch"));
    // Only when a statement before the gate failed does the batch end.
    signal(kFailed);
    _exit(1);
}

const testsupport::ChildRegistration kChildWork("SQLiteKillTest.childWork", &childWork);

class SQLiteKillTest : public SQLitePluginFixture {};

TEST_F(SQLiteKillTest, AKillDuringABatchLeavesASoundDatabase) {
    plugin_.reset();  // no connection of this process crosses the fork
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child =
        testsupport::startChild("SQLiteKillTest.childWork", fds[1], {ns::Sandbox::root()});
    ASSERT_GT(child, 0);
    ::close(fds[1]);
    char signal = 0;
    const ssize_t got = ::read(fds[0], &signal, 1);
    ::close(fds[0]);
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(got, 1);
    ASSERT_EQ(signal, kReached);
    ASSERT_TRUE(WIFSIGNALED(status));

    const std::string path = documents() + "/k.db";
    EXPECT_TRUE(std::filesystem::exists(path + "-journal"));  // killed mid-transaction

    makePlugin();  // the restart
    ASSERT_EQ(open("k.db").message, ns::Value("Database opened"));
    EXPECT_EQ(rows("k.db", "PRAGMA integrity_check")[0]["integrity_check"], ns::Value("ok"));
    EXPECT_EQ(rows("k.db", "SELECT count(*) AS n, max(length(payload)) AS size FROM t")[0],
              ns::Value::dict({{"n", 100}, {"size", 500}}));
}

}  // namespace
