// A process killed while it logs events and while it sweeps leaves a database that opens
// sound, with every queued bundle readable and every raw event's metadata present.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "platform/testing/InjectedFaults.h"
#include "sdk/analytics/NSData+MD5.h"
#include "tests/sdk/analytics/AnalyticsFixture.h"
#include "tests/support/ChildProcess.h"
#include "toolbox/Foundation/NSData+TBXZLibAdditions.h"

namespace {

using analyticstest::AnalyticsTest;
using Bundle = NEB_MEASUREMENT::ACPMeasurementBundle;

class SilentLogger : public NEBALogging {
public:
    void logMessage(const std::string&, int64_t) override {}
};

Bundle metadataFor(int i) {
    Bundle bundle;
    bundle.set_app_version("1." + std::to_string(i % 3));
    bundle.set_app_id("app");
    return bundle;
}

// Logs, bundles and sweeps for ever, telling the parent through the pipe before each step: in
// the sandbox args[0], at the parent's wall time args[1], which stands still.
[[noreturn]] void workUntilKilled(int signalFd, const std::vector<std::string>& args) {
    if (!ns::Sandbox::configure(args.at(0)).ok()) ::_exit(3);
    dispatch::Clock::setCurrent(std::make_shared<dispatch::ManualClock>(std::stod(args.at(1))));
    NEBAMonitor::setShared(std::make_shared<NEBAMonitor>(6, std::make_shared<SilentLogger>(), 0));
    auto database = NEBADatabase::initWithDatabaseName(NEBADatabase::kDatabaseName, nullptr);
    if (!database) ::_exit(3);
    database->setLimits({40, 604800, 3600});
    double now = dispatch::Clock::current().wallTime();
    for (int i = 0;; ++i) {
        char go = 'x';
        if (::write(signalFd, &go, 1) != 1) ::_exit(2);
        auto metadata = metadataFor(i);
        int64_t fingerprint = neba_64LSBMD5(metadata.SerializeAsString());
        double age = i % 4 == 0 ? 40 * 86400.0 : 0;
        auto event = NEBAEvent::initWithOrigin(
            "app", false, "e" + std::to_string(i % 7), now - age, 0,
            {{"payload", ns::Value(std::string(static_cast<size_t>(i % 200), 'p'))}});
        database->performTransaction([&] {
            return database->insertIfNotExistsRawEventMetadata(metadata) &&
                   database->deleteRawEventsOverAbsoluteLimit() &&
                   database->insertRawEvent(*event, fingerprint, i % 2 == 0);
        });
        if (i % 5 == 0) {
            database->performTransaction([&] {
                auto next = database->nextMetadataFingerprintToProcess();
                if (!next || !*next) return bool(next);
                auto events = database->rawEventsWithMetadataFingerprint(
                    **next, [](size_t, const NEBASqliteStore::Record&) { return true; });
                if (!events || events->empty()) return false;
                Bundle bundle = *database->queryRawEventsMetadataWithFingerprint(**next).value();
                for (const auto& raw : *events) *bundle.add_events() = raw.rawEvent().protoEvent();
                bundle.set_end_timestamp_millis(static_cast<int64_t>((now - age) * 1000) + 1);
                return database->insertBundle(bundle, false) &&
                       database->deleteRawEventsWithMaxRowID(events->back().rowID()) &&
                       database->deleteUnusedRawEventsMetadata();
            });
        }
        if (i % 7 == 0) {
            // Without a persisted configuration every call sweeps.
            database->performTransaction([&] { return bool(database->maybeDeleteStaleData()); });
        }
    }
}

const testsupport::ChildRegistration kWorker("NEBADatabaseKillTest.workUntilKilled",
                                             &workUntilKilled);

using NEBADatabaseKillTest = AnalyticsTest;

TEST_F(NEBADatabaseKillTest, KilledWhileLoggingAndSweepingLeavesASoundDatabase) {
    monitor_->flush();
    constexpr int kRounds = 10;
    for (int round = 0; round < kRounds; ++round) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        pid_t child = testsupport::startChild(
            "NEBADatabaseKillTest.workUntilKilled", fds[1],
            {ns::Sandbox::root(), std::to_string(dispatch::Clock::current().wallTime())});
        ASSERT_GT(child, 0);
        ::close(fds[1]);
        for (int started = 0; started < 2 + round * 4; ++started) {
            char go;
            ASSERT_EQ(::read(fds[0], &go, 1), 1) << "round " << round;
        }
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status)) << "round " << round << " status " << status;
        ::close(fds[0]);
    }

    auto database = openDatabase();
    ASSERT_TRUE(database);
    auto& store = database->sqliteStore();
    auto integrity = store.recordsForQuery("PRAGMA integrity_check");
    EXPECT_FALSE(integrity);  // not a select: checked through a raw statement below
    sqlite3_stmt* check = nullptr;
    ASSERT_EQ(
        sqlite3_prepare_v2(store.sqliteHandle(), "PRAGMA integrity_check", -1, &check, nullptr),
        SQLITE_OK);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
    EXPECT_EQ(store.rowCountForTableWithName("app_metadata")->integerValue(), 1);

    auto queue = store.recordsForQuery("SELECT data FROM queue");
    ASSERT_TRUE(queue);
    for (const auto& record : *queue) {
        auto inflated = tbx_dataByInflatingData(*record.at("data").data());
        ASSERT_TRUE(inflated);
        Bundle bundle;
        EXPECT_TRUE(bundle.ParseFromArray(inflated->bytes(), static_cast<int>(inflated->length())));
    }
    auto orphans = store.numberForQuery(
        "SELECT count(*) FROM raw_events WHERE metadata_fingerprint NOT IN "
        "(SELECT metadata_fingerprint FROM raw_events_metadata)");
    ASSERT_TRUE(orphans);
    EXPECT_EQ(orphans->integerValue(), 0);
    EXPECT_GT(store.rowCountForTableWithName("raw_events")->integerValue() +
                  static_cast<int64_t>(queue->size()),
              0);
}

}  // namespace

namespace {

// Writes far more than the page cache holds inside one transaction, so that the journal is on
// disk and the file half changed, then waits to be killed. The database is the file args[0].
[[noreturn]] void leaveAHotJournal(int signalFd, const std::vector<std::string>& args) {
    sqlite3* db = nullptr;
    if (sqlite3_open(args.at(0).c_str(), &db) != SQLITE_OK) ::_exit(3);
    sqlite3_exec(db, "PRAGMA cache_size=1", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "BEGIN EXCLUSIVE TRANSACTION", nullptr, nullptr, nullptr);
    for (int i = 0; i < 2000; ++i) {
        std::string sql = "INSERT INTO user_attributes (name, set_timestamp, value) VALUES ('hot" +
                          std::to_string(i) + "', 1.0, randomblob(300))";
        sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    }
    char go = 'x';
    if (::write(signalFd, &go, 1) != 1) ::_exit(2);
    for (;;) ::pause();
}

const testsupport::ChildRegistration kJournalLeaver("NEBADatabaseJournalTest.leaveAHotJournal",
                                                    &leaveAHotJournal);

using NEBADatabaseJournalTest = AnalyticsTest;

TEST_F(NEBADatabaseJournalTest, ADeletedFileLeavesNoJournalToRollIntoItsSuccessor) {
    {
        auto database = openDatabase();
        ASSERT_TRUE(database);
        ASSERT_TRUE(database->updateUserAttribute(
            *NEBAUserAttribute::initWithName("old", NEBAValue(1), 1.0)));
    }
    monitor_->flush();
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t child = testsupport::startChild("NEBADatabaseJournalTest.leaveAHotJournal", fds[1],
                                          {databasePath()});
    ASSERT_GT(child, 0);
    ::close(fds[1]);
    char go;
    ASSERT_EQ(::read(fds[0], &go, 1), 1);
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::close(fds[0]);
    // The store keeps a write-ahead log where the file system allows one, a rollback journal
    // otherwise: the killed writer left one of them behind.
    ASSERT_TRUE(std::filesystem::exists(databasePath() + "-journal") ||
                std::filesystem::exists(databasePath() + "-wal"));

    ASSERT_TRUE(NEBADatabase::deleteDatabaseFileWithName(NEBADatabase::kDatabaseName));
    EXPECT_FALSE(std::filesystem::exists(databasePath() + "-journal"));
    EXPECT_FALSE(std::filesystem::exists(databasePath() + "-wal"));
    auto database = openDatabase();
    ASSERT_TRUE(database);
    EXPECT_EQ(database->sqliteStore().rowCountForTableWithName("user_attributes")->integerValue(),
              0);
    EXPECT_EQ(database->sqliteStore().rowCountForTableWithName("app_metadata")->integerValue(), 1);
}

TEST_F(NEBADatabaseJournalTest, AJournalThatCannotBeRemovedKeepsItsFileAndFailsTheDeletion) {
    ASSERT_TRUE(openDatabase());
    std::ofstream(databasePath() + "-journal", std::ios::binary) << "old pages";
    ns::InjectedFaults faults;
    faults.add("unlink", EBUSY);
    EXPECT_FALSE(NEBADatabase::deleteDatabaseFileWithName(NEBADatabase::kDatabaseName));
    EXPECT_TRUE(std::filesystem::exists(databasePath()));
    EXPECT_TRUE(std::filesystem::exists(databasePath() + "-journal"));
    ASSERT_TRUE(NEBADatabase::deleteDatabaseFileWithName(NEBADatabase::kDatabaseName));
    EXPECT_FALSE(std::filesystem::exists(databasePath() + "-journal"));
    EXPECT_FALSE(std::filesystem::exists(databasePath()));
}

}  // namespace

namespace {

namespace fs = std::filesystem;

std::string contentsOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A damaged store as a killed writer can leave it: the file, pages of it scrambled, and a
// write-ahead log holding what was written since the last checkpoint; beside them the copy of
// an earlier damaged file. Answers the damaged file's bytes and its log's.
std::pair<std::string, std::string> makeDamagedStore(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db,
                 "PRAGMA journal_mode=WAL; CREATE TABLE kept (v BLOB);"
                 " WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 40)"
                 " INSERT INTO kept SELECT randomblob(2000) FROM n;"
                 " PRAGMA wal_checkpoint(TRUNCATE); PRAGMA wal_autocheckpoint=0;"
                 " CREATE TABLE lost (v BLOB);"
                 " INSERT INTO lost VALUES (randomblob(3000)), (randomblob(3000));",
                 nullptr, nullptr, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_close(db);
    {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(4 * 4096);
        file << std::string(8 * 4096, '\x5a');
    }
    std::ofstream(path + ".damaged") << "an earlier copy";
    std::ofstream(path + ".damaged-wal") << "an earlier copy's log";
    return {contentsOf(path), contentsOf(path + "-wal")};
}

// Opens the damaged store at args[0], which sets it aside, and dies just before its file
// operation number args[1] (renames and removals counted together, from 1); ends with status 1
// when it got through.
[[noreturn]] void setAsideUntilKilled(int, const std::vector<std::string>& args) {
    NEBAMonitor::setShared(std::make_shared<NEBAMonitor>(6, std::make_shared<SilentLogger>(), 0));
    const int stopAt = std::stoi(args.at(1));
    auto count = std::make_shared<int>(0);
    for (const char* operation : {"rename", "unlink"}) {
        for (int i = 0; i < 16; ++i) {
            ns::InjectedFaults::at(operation, [count, stopAt] {
                if (++*count == stopAt) ::_exit(0);
            });
        }
    }
    auto store = NEBASqliteStore::initWithDatabasePath(args.at(0));
    ::_exit(store ? 1 : 2);
}

const testsupport::ChildRegistration kSetAside("NEBADatabaseSetAsideTest.setAsideUntilKilled",
                                               &setAsideUntilKilled);

using NEBADatabaseSetAsideTest = AnalyticsTest;

// Killed at any step of setting a damaged file aside, the next start keeps the damaged file
// and its log together as they were, and starts a sound file that none of the old log reaches.
TEST_F(NEBADatabaseSetAsideTest, KilledWhileSettingAsideLosesNoDamagedDataAndLeaksNone) {
    const std::string path = databasePath();
    int stopAt = 1;
    for (;; ++stopAt) {
        SCOPED_TRACE("killed before file operation " + std::to_string(stopAt));
        fs::remove_all(fs::path(path).parent_path());
        const auto [file, log] = makeDamagedStore(path);
        ASSERT_FALSE(log.empty());
        pid_t child = testsupport::startChild("NEBADatabaseSetAsideTest.setAsideUntilKilled", -1,
                                              {path, std::to_string(stopAt)});
        ASSERT_GT(child, 0);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        const bool gotThrough = WEXITSTATUS(status) == 1;
        ASSERT_TRUE(gotThrough || WEXITSTATUS(status) == 0) << WEXITSTATUS(status);

        auto store = NEBASqliteStore::initWithDatabasePath(path);
        ASSERT_TRUE(store);
        EXPECT_FALSE(store->tableExists("lost").value());
        sqlite3_stmt* check = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(store->sqliteHandle(), "PRAGMA integrity_check", -1, &check,
                                     nullptr),
                  SQLITE_OK);
        ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
        EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
        sqlite3_finalize(check);
        // Compared as they are: their bytes would only fill the report.
        EXPECT_TRUE(contentsOf(path + ".damaged") == file);
        EXPECT_TRUE(contentsOf(path + ".damaged-wal") == log);
        if (gotThrough) break;
        ASSERT_LT(stopAt, 10);
    }
    EXPECT_GE(stopAt, 4);
}

}  // namespace
