// The database file: exact table texts, migration of older files, and recovery from damage.
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "platform/ns/FileManager.h"
#include "tests/sdk/analytics/AnalyticsFixture.h"

namespace {

namespace fs = std::filesystem;
using analyticstest::AnalyticsTest;

// A second connection to the file, as an older build or a test would open it.
class RawConnection {
public:
    explicit RawConnection(const std::string& path) { sqlite3_open(path.c_str(), &db_); }
    ~RawConnection() { sqlite3_close(db_); }
    int exec(const std::string& sql) {
        return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
    }
    int64_t integer(const std::string& sql) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr);
        int64_t value =
            sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : -1;
        sqlite3_finalize(statement);
        return value;
    }
    std::vector<std::string> columns(const std::string& table) {
        std::vector<std::string> names;
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db_, ("PRAGMA table_info(" + table + ")").c_str(), -1, &statement,
                           nullptr);
        while (sqlite3_step(statement) == SQLITE_ROW) {
            names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, 1)));
        }
        sqlite3_finalize(statement);
        return names;
    }
    sqlite3* get() const { return db_; }

private:
    sqlite3* db_ = nullptr;
};

const std::map<std::string, std::string> kCreateTexts = {
    {"app_metadata",
     "CREATE TABLE IF NOT EXISTS app_metadata ( last_bundle_index INTEGER NOT NULL, "
     "last_bundle_end_timestamp "
     "REAL NOT NULL);"},
    {"raw_events_metadata",
     "CREATE TABLE IF NOT EXISTS raw_events_metadata ( metadata_fingerprint INTEGER NOT NULL "
     "PRIMARY KEY, "
     "metadata BLOB NOT NULL);"},
    {"raw_events",
     "CREATE TABLE IF NOT EXISTS raw_events ( name TEXT NOT NULL, timestamp INTEGER NOT NULL, "
     "metadata_fingerprint INTEGER NOT NULL, data BLOB NOT NULL);"},
    {"events",
     "CREATE TABLE IF NOT EXISTS events ( name TEXT NOT NULL PRIMARY KEY, lifetime_count INTEGER "
     "NOT NULL, "
     "current_bundle_count INTEGER NOT NULL, last_fire_timestamp REAL NOT NULL);"},
    {"user_attributes",
     "CREATE TABLE IF NOT EXISTS user_attributes ( name TEXT NOT NULL PRIMARY KEY, set_timestamp "
     "REAL NOT NULL, "
     "value BLOB NOT NULL);"},
    {"queue",
     "CREATE TABLE IF NOT EXISTS queue ( data BLOB NOT NULL, bundle_end_timestamp REAL NOT NULL);"},
    {"event_filters",
     "CREATE TABLE IF NOT EXISTS event_filters ( audience_id INTEGER NOT NULL, filter_id INTEGER "
     "NOT NULL, "
     "event_name TEXT NOT NULL, data BLOB NOT NULL, PRIMARY KEY (audience_id, filter_id));"},
    {"property_filters",
     "CREATE TABLE IF NOT EXISTS property_filters ( audience_id INTEGER NOT NULL, filter_id "
     "INTEGER NOT NULL, "
     "property_name TEXT NOT NULL, data BLOB NOT NULL, PRIMARY KEY (audience_id, filter_id));"},
    {"audience_filter_values",
     "CREATE TABLE IF NOT EXISTS audience_filter_values ( audience_id INTEGER NOT NULL PRIMARY "
     "KEY, "
     "current_results BLOB, previous_results BLOB);"},
};

using NEBADatabaseSchemaTest = AnalyticsTest;

TEST_F(NEBADatabaseSchemaTest, FreshInstallHasEveryTableWithItsExactTextAndOneMetadataRow) {
    std::vector<std::string> executed;
    for (const auto& [table, columns] : NEBADatabase::elementaryTableDefinitions()) {
        auto text = NEBADatabase::constructCreateStatementForTableWithName(table, columns);
        ASSERT_TRUE(text);
        EXPECT_EQ(*text, kCreateTexts.at(table));
    }
    EXPECT_EQ(NEBADatabase::elementaryTableDefinitions().size(), 9u);
    EXPECT_EQ(
        *NEBADatabase::constructAlterStatementForTableWithName("queue", {"is_realtime", "INTEGER"}),
        "ALTER TABLE queue ADD COLUMN is_realtime INTEGER");

    auto database = openDatabase();
    ASSERT_TRUE(database);
    EXPECT_TRUE(fs::exists(databasePath()));
    EXPECT_NE(databasePath().find("/Nebula/Measurement/nebula-app-measurement.sql"),
              std::string::npos);
    RawConnection raw(databasePath());
    size_t added = 0;
    for (const auto& [table, columns] : NEBADatabase::addOnTableDefinitions()) {
        auto present = raw.columns(table);
        for (const auto& column : columns) {
            EXPECT_NE(std::find(present.begin(), present.end(), column.first), present.end())
                << column.first;
            ++added;
        }
    }
    EXPECT_EQ(added, 11u);
    EXPECT_EQ(raw.integer("SELECT count(*) FROM sqlite_master WHERE type='table'"), 9);
    EXPECT_EQ(raw.integer("SELECT count(*) FROM app_metadata"), 1);
    EXPECT_EQ(raw.integer("SELECT rowid FROM app_metadata"), 1);
    EXPECT_EQ(raw.integer("SELECT last_bundle_index FROM app_metadata"), 0);
    EXPECT_TRUE(ns::FileManager::defaultManager().isExcludedFromBackup(databasePath()));
}

TEST_F(NEBADatabaseSchemaTest, SecondStartChangesNoSchemaAndKeepsTheMetadataRow) {
    {
        auto database = openDatabase();
        ASSERT_TRUE(database);
        auto metadata = NEBAAppMetadata::initWithLastBundleIndex(7, 1.5, 2.5);
        ASSERT_TRUE(database->updateAppMetadata(*metadata));
    }
    int64_t schemaVersion = RawConnection(databasePath()).integer("PRAGMA schema_version");
    auto database = openDatabase();
    ASSERT_TRUE(database);
    EXPECT_EQ(RawConnection(databasePath()).integer("PRAGMA schema_version"), schemaVersion);
    auto metadata = database->queryAppMetadata();
    ASSERT_TRUE(metadata && *metadata);
    EXPECT_EQ((*metadata)->lastBundleIndex(), 7);
    EXPECT_EQ((*metadata)->lastBundleStartTimestamp(), 1.5);
}

TEST_F(NEBADatabaseSchemaTest, OlderFileGetsOnlyTheMissingColumnsAndKeepsItsRows) {
    fs::create_directories(fs::path(databasePath()).parent_path());
    {
        RawConnection raw(databasePath());
        ASSERT_EQ(raw.exec(kCreateTexts.at("queue")), SQLITE_OK);
        ASSERT_EQ(raw.exec(kCreateTexts.at("app_metadata")), SQLITE_OK);
        ASSERT_EQ(raw.exec("ALTER TABLE app_metadata ADD COLUMN day INTEGER"), SQLITE_OK);
        ASSERT_EQ(raw.exec("INSERT INTO app_metadata (rowid, last_bundle_index, "
                           "last_bundle_end_timestamp, day) "
                           "VALUES (1, 4, 9.0, 17)"),
                  SQLITE_OK);
        ASSERT_EQ(raw.exec("INSERT INTO queue (data, bundle_end_timestamp) VALUES (x'01', 5.0)"),
                  SQLITE_OK);
    }
    auto database = openDatabase();
    ASSERT_TRUE(database);
    RawConnection raw(databasePath());
    auto queueColumns = raw.columns("queue");
    EXPECT_EQ(queueColumns,
              (std::vector<std::string>{"data", "bundle_end_timestamp", "is_realtime"}));
    EXPECT_EQ(raw.columns("app_metadata").size(), 11u);
    EXPECT_EQ(raw.integer("SELECT count(*) FROM queue"), 1);
    EXPECT_EQ(raw.integer("SELECT last_bundle_index FROM app_metadata"), 4);
    auto counts = database->dailyCounts();
    ASSERT_TRUE(counts && *counts);
    EXPECT_EQ((*counts)->day(), 17);
}

TEST_F(NEBADatabaseSchemaTest, FileFailingTableValidationIsSetAsideAndTheNextStartIsClean) {
    fs::create_directories(fs::path(databasePath()).parent_path());
    {
        RawConnection raw(databasePath());
        ASSERT_EQ(raw.exec("CREATE TABLE events ( name TEXT NOT NULL PRIMARY KEY, lifetime_count "
                           "INTEGER NOT NULL, "
                           "last_fire_timestamp REAL NOT NULL)"),
                  SQLITE_OK);
    }
    EXPECT_FALSE(openDatabase());
    EXPECT_FALSE(fs::exists(databasePath()));
    EXPECT_TRUE(logs().contains("Failed to create or validate required database tables"));
    EXPECT_TRUE(logs().contains("Database file set aside after failed validation. Copy"));
    EXPECT_EQ(RawConnection(databasePath() + ".damaged").columns("events").size(), 3u);
    EXPECT_TRUE(openDatabase());
}

std::string contentsOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Whatever the damage, the file is kept aside as it was found, the log says so, and a new one
// takes its place.
TEST_F(NEBADatabaseSchemaTest, ADamagedFileIsLoggedAndKeptAsideAsItWas) {
    const struct {
        const char* name;
        void (*damage)(const std::string& path);
    } cases[] = {
        {"truncated",
         [](const std::string& path) { fs::resize_file(path, fs::file_size(path) / 3); }},
        {"overwritten",
         [](const std::string& path) {
             std::fstream(path, std::ios::in | std::ios::out | std::ios::binary)
                 << std::string(4096, 'x');
         }},
        {"scrambled",
         [](const std::string& path) {
             std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
             file.seekp(3 * 4096);
             file << std::string(3 * 4096, '\x5a');
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(fs::path(databasePath()).parent_path());
        {
            auto database = openDatabase();
            ASSERT_TRUE(database);
            RawConnection raw(databasePath());
            for (int i = 0; i < 200; ++i)
                ASSERT_EQ(raw.exec("INSERT INTO raw_events (name, timestamp, "
                                   "metadata_fingerprint, data) VALUES ('unsent', 1, 1, "
                                   "randomblob(400))"),
                          SQLITE_OK);
        }
        ASSERT_FALSE(fs::exists(databasePath() + "-wal"));
        c.damage(databasePath());
        const std::string damaged = contentsOf(databasePath());

        auto database = openDatabase();
        ASSERT_TRUE(database);
        EXPECT_EQ(database->sqliteStore().rowCountForTableWithName("raw_events")->integerValue(),
                  0);
        EXPECT_EQ(contentsOf(databasePath() + ".damaged"), damaged);
        EXPECT_TRUE(logs().contains(
            "Database file is damaged; set aside for diagnosis and started anew. Copy, error"));
    }
}

TEST_F(NEBADatabaseSchemaTest, UnknownColumnsPassOnlyWhenNullable) {
    {
        auto database = openDatabase();
        ASSERT_TRUE(database);
    }
    ASSERT_EQ(RawConnection(databasePath()).exec("ALTER TABLE events ADD COLUMN future_note TEXT"),
              SQLITE_OK);
    EXPECT_TRUE(openDatabase());
    ASSERT_EQ(RawConnection(databasePath())
                  .exec("ALTER TABLE queue ADD COLUMN future_flag INTEGER NOT NULL DEFAULT 0"),
              SQLITE_OK);
    EXPECT_FALSE(openDatabase());
}

TEST_F(NEBADatabaseSchemaTest, CorruptFileIsRebuiltAndAStaleJournalDoesNotReachTheNewFile) {
    {
        auto database = openDatabase();
        ASSERT_TRUE(database);
    }
    // Garbage over the header makes SQLite call the file no database; a journal left beside it
    // (from a crash of the old file) must not be rolled back into the new one.
    {
        std::fstream file(databasePath(), std::ios::in | std::ios::out | std::ios::binary);
        file.write("this is not a database file at all", 35);
    }
    fs::copy_file(databasePath(), databasePath() + "-journal");
    auto database = openDatabase();
    ASSERT_TRUE(database);
    EXPECT_FALSE(fs::exists(databasePath() + "-journal"));
    RawConnection raw(databasePath());
    EXPECT_EQ(raw.integer("SELECT count(*) FROM app_metadata"), 1);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(raw.get(), "PRAGMA integrity_check", -1, &statement, nullptr);
    ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)), "ok");
    sqlite3_finalize(statement);
}

TEST_F(NEBADatabaseSchemaTest, BusyFileIsKeptNotDeleted) {
    {
        auto database = openDatabase();
        ASSERT_TRUE(database);
        ASSERT_TRUE(database->updateUserAttribute(
            *NEBAUserAttribute::initWithName("kept", NEBAValue("yes"), 1.0)));
    }
    {
        // With a write-ahead log a writer does not keep readers out; a connection in exclusive
        // locking mode does (until it closes), as a rollback journal's exclusive transaction
        // would.
        RawConnection holder(databasePath());
        ASSERT_EQ(holder.exec("PRAGMA locking_mode=EXCLUSIVE"), SQLITE_OK);
        ASSERT_EQ(holder.exec("BEGIN EXCLUSIVE TRANSACTION"), SQLITE_OK);
        ASSERT_EQ(holder.integer("SELECT count(*) FROM user_attributes"), 1);
        EXPECT_FALSE(NEBASqliteStore::initWithDatabasePath(databasePath()));
        ASSERT_EQ(holder.exec("ROLLBACK"), SQLITE_OK);
    }
    auto database = openDatabase();
    ASSERT_TRUE(database);
    auto kept = database->userAttributeWithName("kept");
    ASSERT_TRUE(kept && *kept);
}

}  // namespace
