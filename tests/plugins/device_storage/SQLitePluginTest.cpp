#include "plugins/device_storage/SQLitePlugin.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "bridge/HYBInvokedUrlCommand.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/StringComponents.h"
#include "platform/testing/InjectedFaults.h"
#include "tests/plugins/device_storage/support/SQLitePluginFixture.h"
#include "tests/plugins/device_storage/support/SQLiteTestGate.h"
#include "tests/support/LogCapture.h"

namespace {

namespace fs = std::filesystem;
using sqlitetest::SentResult;
using testsupport::LogCapture;

constexpr unsigned kOK = 1;
constexpr unsigned kError = 9;

// How many of this process's descriptors are open on the file.
int descriptorsOn(const std::string& path) {
    int count = 0;
    std::error_code error;
    const fs::path target = fs::weakly_canonical(path, error);
    for (const auto& entry : fs::directory_iterator("/proc/self/fd", error)) {
        std::error_code linkError;
        if (fs::read_symlink(entry.path(), linkError) == target) ++count;
    }
    return count;
}

class SQLitePluginTest : public sqlitetest::SQLitePluginFixture {
protected:
    void expectAnswer(const SentResult& result, unsigned status, const char* message) {
        EXPECT_EQ(result.status, status);
        EXPECT_EQ(result.message, ns::Value(message));
    }
    void openTable(const std::string& db = "t.db") {
        expectAnswer(open(db), kOK, "Database opened");
        ASSERT_EQ(run(db, "CREATE TABLE t (a, b)")["type"], ns::Value("success"));
    }
};

// --- Open, close, delete ----------------------------------------------------------------

TEST_F(SQLitePluginTest, OpenTwiceIsRefusedUntilClosedAndTheTableOutlivesAReload) {
    LogCapture log;
    log.expect("INTERNAL PLUGIN ERROR: database already open for db name: ");
    expectAnswer(open("a.db"), kOK, "Database opened");
    EXPECT_TRUE(fs::exists(documents() + "/a.db"));
    plugin_->onReset();  // a page reload leaves the database open
    expectAnswer(open("a.db"), kError, "INTERNAL PLUGIN ERROR: database already open");
    EXPECT_TRUE(log.contains("INTERNAL PLUGIN ERROR: database already open for db name: " +
                             documents() + "/a.db (db file name: a.db)"));
    expectAnswer(close("a.db"), kOK, "DB closed");
    EXPECT_FALSE(plugin_->isOpen("a.db"));
    expectAnswer(close("a.db"), kError, "INTERNAL PLUGIN ERROR: Specified db was not open");
    expectAnswer(call("close", ns::Dictionary()), kError,
                 "INTERNAL PLUGIN ERROR: You must specify database path");
    expectAnswer(open("a.db"), kOK, "Database opened");
}

TEST_F(SQLitePluginTest, LocationsAndSubfolders) {
    expectAnswer(open("d.db"), kOK, "Database opened");
    expectAnswer(open("l.db", "libs"), kOK, "Database opened");
    expectAnswer(open("n.db", "nosync"), kOK, "Database opened");
    expectAnswer(call("open", ns::Value::dict({{"name", "default.db"}})), kOK, "Database opened");
    EXPECT_TRUE(fs::exists(documents() + "/d.db"));
    EXPECT_TRUE(fs::exists(documents() + "/default.db"));
    EXPECT_TRUE(fs::exists(library() + "/l.db"));
    EXPECT_TRUE(fs::exists(library() + "/LocalDatabase/n.db"));
    EXPECT_TRUE(
        ns::FileManager::defaultManager().isExcludedFromBackup(library() + "/LocalDatabase"));

    fs::create_directories(documents() + "/sub/deeper");
    expectAnswer(open("sub/deeper/s.db"), kOK, "Database opened");
    EXPECT_TRUE(fs::exists(documents() + "/sub/deeper/s.db"));
    // SQLite makes no folders: a missing one cannot be opened.
    expectAnswer(open("missing/x.db"), kError, "Unable to open DB");
}

// Names that would reach outside their location, or no file at all, name no database.
TEST_F(SQLitePluginTest, NamesThatLeaveTheirLocationAreRefused) {
    fs::create_directories(documents() + "/sub");
    const std::string outside = library() + "/escape.db";
    const std::vector<std::string> names = {
        "",     "/tmp/abs.db", "../escape.db", "sub/../../escape.db", "..",
        "sub/", ".",           "sub/.",        std::string("a\0b", 3)};
    for (const std::string& name : names) {
        LogCapture log;
        log.expect("INTERNAL PLUGIN ERROR (NOT EXPECTED): open with database name missing");
        log.expect("INTERNAL PLUGIN ERROR (NOT EXPECTED): delete with no valid database path");
        expectAnswer(open(name), kError, "INTERNAL PLUGIN ERROR: open with database name missing");
        EXPECT_TRUE(
            log.contains("INTERNAL PLUGIN ERROR (NOT EXPECTED): open with database name "
                         "missing"));
        expectAnswer(remove(name), kError,
                     "INTERNAL PLUGIN ERROR: delete with no valid database path found");
        EXPECT_TRUE(log.contains(
            "INTERNAL PLUGIN ERROR (NOT EXPECTED): delete with no valid database path found"));
    }
    EXPECT_FALSE(fs::exists(outside));
    EXPECT_TRUE(fs::is_directory(documents()));
    EXPECT_TRUE(fs::is_directory(documents() + "/sub"));
    // Missing names, names that are no strings and unknown locations name nothing either.
    LogCapture log;
    log.expect("INTERNAL PLUGIN ERROR (NOT EXPECTED): open with database name missing");
    for (const ns::Value& argument :
         {ns::Value(ns::Dictionary()), ns::Value::dict({{"name", 5}}),
          ns::Value::dict({{"name", "x.db"}, {"dblocation", "tmp"}}),
          ns::Value::dict({{"name", "x.db"}, {"dblocation", 1}}), ns::Value("x.db")}) {
        expectAnswer(call("open", argument), kError,
                     "INTERNAL PLUGIN ERROR: open with database name missing");
    }
}

TEST_F(SQLitePluginTest, WithoutTheNoSyncFolderOnlyDocsAndLibsOpen) {
    const std::string noSync = library() + "/LocalDatabase";
    struct Case {
        const char* operation;
        std::string log;
    };
    const Case cases[] = {
        {"mkdir",
         "INTERNAL PLUGIN ERROR: could not create no cloud sync directory at path: " + noSync},
        {"setxattr",
         "INTERNAL PLUGIN ERROR: error setting nobackup flag in LocalDatabase "
         "directory: "},
    };
    for (const Case& c : cases) {
        fs::remove_all(noSync);
        LogCapture log;
        log.expect(c.log);
        log.expect("INTERNAL PLUGIN ERROR (NOT EXPECTED): open with database name missing");
        ns::InjectedFaults::add(c.operation, EACCES);
        makePlugin();
        ns::InjectedFaults::clear();
        EXPECT_TRUE(log.contains(c.log)) << c.operation;
        expectAnswer(open("n.db", "nosync"), kError,
                     "INTERNAL PLUGIN ERROR: open with database name missing");
        expectAnswer(open(std::string("d-") + c.operation, "docs"), kOK, "Database opened");
        expectAnswer(open(std::string("l-") + c.operation, "libs"), kOK, "Database opened");
    }
}

TEST_F(SQLitePluginTest, AFileThatIsNoDatabaseIsRefusedAndLeftClosed) {
    const std::string path = documents() + "/junk.db";
    std::ofstream(path) << std::string(4096, 'x');
    expectAnswer(open("junk.db"), kError, "Unable to open DB with key");
    EXPECT_FALSE(plugin_->isOpen("junk.db"));
    EXPECT_EQ(descriptorsOn(path), 0);
}

TEST_F(SQLitePluginTest, PluginGoingAwayClosesItsDatabases) {
    openTable("a.db");
    const std::string path = documents() + "/a.db";
    EXPECT_EQ(descriptorsOn(path), 1);
    plugin_.reset();
    EXPECT_EQ(descriptorsOn(path), 0);
}

TEST_F(SQLitePluginTest, DeleteClosesTheDatabaseAndRemovesItsCompanionFiles) {
    openTable("w.db");
    const std::string path = documents() + "/w.db";
    EXPECT_EQ(rows("w.db", "PRAGMA journal_mode=WAL")[0]["journal_mode"], ns::Value("wal"));
    ASSERT_EQ(run("w.db", "INSERT INTO t VALUES (1, 2)")["type"], ns::Value("success"));
    ASSERT_TRUE(fs::exists(path + "-wal"));
    ASSERT_TRUE(fs::exists(path + "-shm"));
    std::ofstream(path + "-journal") << "stale";

    expectAnswer(remove("w.db"), kOK, "DB deleted");
    EXPECT_FALSE(plugin_->isOpen("w.db"));
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        EXPECT_FALSE(fs::exists(path + suffix)) << suffix;
    }
    EXPECT_EQ(descriptorsOn(path), 0);
    // Opened again, the name is a new, empty database.
    expectAnswer(open("w.db"), kOK, "Database opened");
    EXPECT_EQ(run("w.db", "SELECT * FROM t")["error"]["message"], ns::Value("no such table: t"));
}

// A writer killed with the database open leaves the file and its write-ahead log, whose
// committed pages would come back into the next database of that name.
TEST_F(SQLitePluginTest, DeleteTakesTheWriteAheadLogThatAKilledWriterLeft) {
    const std::string live = documents() + "/live.db";
    const std::string path = documents() + "/w.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(live.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                           "CREATE TABLE t (a); INSERT INTO t VALUES (1);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    fs::copy_file(live, path);
    fs::copy_file(live + "-wal", path + "-wal");
    sqlite3_close(db);

    expectAnswer(remove("w.db"), kOK, "DB deleted");
    EXPECT_FALSE(fs::exists(path + "-wal"));
    expectAnswer(open("w.db"), kOK, "Database opened");
    EXPECT_EQ(run("w.db", "SELECT * FROM t")["error"]["message"], ns::Value("no such table: t"));
}

TEST_F(SQLitePluginTest, DeleteRefusals) {
    expectAnswer(remove("none.db"), kError, "The database does not exist on that path");
    expectAnswer(call("delete", ns::Dictionary()), kError,
                 "INTERNAL PLUGIN ERROR: You must specify database path");
    // A folder is no database: it and what it holds stay.
    fs::create_directories(documents() + "/folder");
    std::ofstream(documents() + "/folder/keep.db") << "";
    expectAnswer(remove("folder"), kError, "The database does not exist on that path");
    EXPECT_TRUE(fs::exists(documents() + "/folder/keep.db"));
}

TEST_F(SQLitePluginTest, DeleteInAnotherLocationLeavesTheOpenDatabaseAlone) {
    openTable("same.db");
    std::ofstream(library() + "/same.db") << "";
    expectAnswer(remove("same.db", "libs"), kOK, "DB deleted");
    EXPECT_FALSE(fs::exists(library() + "/same.db"));
    EXPECT_TRUE(plugin_->isOpen("same.db"));
    EXPECT_EQ(run("same.db", "INSERT INTO t VALUES (1, 1)")["type"], ns::Value("success"));
}

// --- Statements ---------------------------------------------------------------------------

TEST_F(SQLitePluginTest, ParametersBindByTheirKind) {
    openTable();
    const ns::Array params = {true,
                              false,
                              3,
                              3.5,
                              "text",
                              nullptr,
                              ns::Value(std::numeric_limits<uint64_t>::max()),
                              ns::Value::array({1, "x"}),
                              ns::Value::dict({{"k", 1}})};
    std::string marks;
    for (size_t i = 0; i < params.size(); ++i) marks += i ? ", (?)" : "(?)";
    ASSERT_EQ(run("t.db", "INSERT INTO t (a) VALUES " + marks, params)["type"],
              ns::Value("success"));
    const ns::Array stored = rows("t.db", "SELECT typeof(a) AS type, a FROM t ORDER BY rowid");
    ASSERT_EQ(stored.size(), params.size());
    const std::vector<std::pair<const char*, ns::Value>> expected = {
        {"real", 1.0},
        {"real", 0.0},
        {"integer", 3},
        {"real", 3.5},
        {"text", "text"},
        {"null", nullptr},
        {"real", static_cast<double>(std::numeric_limits<uint64_t>::max())},
        {"text", ns::Value::array({1, "x"}).description()},
        {"text", ns::Value::dict({{"k", 1}}).description()}};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(stored[i]["type"], ns::Value(expected[i].first)) << i;
        // The page reads the answer as JSON, where a real 1.0 and an integer 1 are one text:
        // the storage class above tells them apart.
        if (auto number = expected[i].second.number()) {
            EXPECT_EQ(stored[i]["a"].number(), number) << i;
        } else {
            EXPECT_EQ(stored[i]["a"], expected[i].second) << i;
        }
    }
}

TEST_F(SQLitePluginTest, ColumnsComeBackByStorageClass) {
    expectAnswer(open("c.db"), kOK, "Database opened");
    const ns::Array row =
        rows("c.db",
             "SELECT 42 AS i, -9223372036854775808 AS min, 2.5 AS r, 'héllo' AS t,"
             " x'68656c6c6f' AS blob, x'' AS empty, NULL AS n,"
             " x'ff00' AS badBlob, CAST(x'c328' AS TEXT) AS badText,"
             " 1e999 AS inf, 'a' || char(0) || 'b' AS nul");
    ASSERT_EQ(row.size(), 1u);
    const ns::Value expected = ns::Value::dict({{"i", 42},
                                                {"min", std::numeric_limits<int64_t>::min()},
                                                {"r", 2.5},
                                                {"t", "héllo"},
                                                {"blob", "hello"},
                                                {"empty", ""},
                                                {"n", nullptr},
                                                {"nul", std::string("a\0b", 3)}});
    EXPECT_EQ(row[0], expected);
}

TEST_F(SQLitePluginTest, ALaterColumnOfTheSameNameWins) {
    expectAnswer(open("c.db"), kOK, "Database opened");
    EXPECT_EQ(rows("c.db", "SELECT 1 AS a, 2 AS a"), ns::Array{ns::Value::dict({{"a", 2}})});
    // An unreadable later column leaves the earlier value.
    EXPECT_EQ(rows("c.db", "SELECT 1 AS a, x'ff' AS a"), ns::Array{ns::Value::dict({{"a", 1}})});
}

TEST_F(SQLitePluginTest, RowsAffectedAndInsertId) {
    openTable();
    const ns::Value insert = run("t.db", "INSERT INTO t VALUES (?, ?)", {1, 2});
    EXPECT_EQ(insert, ns::Value::dict({{"type", "success"},
                                       {"result", ns::Value::dict({{"rows", ns::Array()},
                                                                   {"rowsAffected", 1},
                                                                   {"insertId", 1}})}}));
    run("t.db", "INSERT INTO t VALUES (3, 4)");
    const ns::Value select = run("t.db", "SELECT a FROM t ORDER BY a")["result"];
    EXPECT_EQ(select["rowsAffected"], ns::Value(0));
    EXPECT_EQ(select.find("insertId"), nullptr);
    EXPECT_EQ(select["rows"].count(), 2u);
    // An update answers the connection's last inserted row id.
    const ns::Value update = run("t.db", "UPDATE t SET b = 0")["result"];
    EXPECT_EQ(update["rowsAffected"], ns::Value(2));
    EXPECT_EQ(update["insertId"], ns::Value(2));
    const ns::Value none = run("t.db", "DELETE FROM t WHERE a = 99")["result"];
    EXPECT_EQ(none["rowsAffected"], ns::Value(0));
    EXPECT_EQ(none.find("insertId"), nullptr);
}

// The same text run again starts from nothing: no parameters, rows or errors of an earlier
// run, and the schema as it is now.
TEST_F(SQLitePluginTest, ATextRunAgainStartsAfresh) {
    openTable();
    const std::string select = "SELECT ? AS p, * FROM t";
    EXPECT_EQ(rows("t.db", select, {5}), ns::Array());
    run("t.db", "INSERT INTO t VALUES (1, 2)");
    EXPECT_EQ(rows("t.db", select),
              (ns::Array{ns::Value::dict({{"p", nullptr}, {"a", 1}, {"b", 2}})}));
    run("t.db", "ALTER TABLE t ADD COLUMN c");
    EXPECT_EQ(rows("t.db", select, {"x"}),
              (ns::Array{ns::Value::dict({{"p", "x"}, {"a", 1}, {"b", 2}, {"c", nullptr}})}));
    const std::string insert = "INSERT INTO t (a) VALUES (?)";
    ASSERT_EQ(run("t.db", "CREATE UNIQUE INDEX ta ON t (a)")["type"], ns::Value("success"));
    EXPECT_EQ(run("t.db", insert, {1})["error"]["code"], ns::Value(6));
    EXPECT_EQ(run("t.db", insert, {3})["result"]["insertId"], ns::Value(2));
}

// Compiled statements are reused across a batch: a run that fails, other texts in between
// and more texts than are kept must never make one text run another's statement.
TEST_F(SQLitePluginTest, ReusedStatementsStayWithTheirTexts) {
    openTable();
    const std::string insert = "INSERT INTO t VALUES (?, ?)";
    ns::Array executes{statement(insert, {1, 1}), statement(insert, {2, 2, 2}),
                       statement(insert, {3, 3}), statement("SELECT count(*) AS n FROM t"),
                       statement(insert, {4, 4})};
    for (int i = 0; i < 20; ++i)
        executes.push_back(statement("SELECT " + std::to_string(i) + " AS n"));
    executes.push_back(statement(insert, {5, 5}));
    executes.push_back(statement("SELECT count(*) AS n FROM t"));
    executes.push_back(statement("SELECT 7 AS n"));
    const ns::Array replies = batch("t.db", executes);
    ASSERT_EQ(replies.size(), executes.size());
    EXPECT_EQ(replies[1]["error"]["code"], ns::Value(0));
    EXPECT_EQ(replies[2]["result"]["insertId"], ns::Value(2));
    EXPECT_EQ(replies[3]["result"]["rows"], ns::Value(ns::Array{ns::Value::dict({{"n", 2}})}));
    EXPECT_EQ(replies[4]["result"]["insertId"], ns::Value(3));
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(replies[5 + i]["result"]["rows"],
                  ns::Value(ns::Array{ns::Value::dict({{"n", i}})}));
    }
    EXPECT_EQ(replies[25]["result"]["insertId"], ns::Value(4));
    EXPECT_EQ(replies[26]["result"]["rows"], ns::Value(ns::Array{ns::Value::dict({{"n", 4}})}));
    EXPECT_EQ(replies[27]["result"]["rows"], ns::Value(ns::Array{ns::Value::dict({{"n", 7}})}));
    EXPECT_EQ(rows("t.db", "SELECT a, b FROM t WHERE a = 2"), ns::Array());
}

// SQLite's failures carry the page's error code and SQLite's own text.
TEST_F(SQLitePluginTest, ErrorCodesAndMessages) {
    openTable();
    ASSERT_EQ(run("t.db", "CREATE UNIQUE INDEX ta ON t (a)")["type"], ns::Value("success"));
    run("t.db", "INSERT INTO t VALUES (1, 1)");
    struct Case {
        const char* sql;
        ns::Array params;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {"SELEC 1", {}, 5, "near \"SELEC\": syntax error"},
        {"SELECT * FROM nowhere", {}, 5, "no such table: nowhere"},
        {"INSERT INTO t VALUES (1, 2)", {}, 6, "UNIQUE constraint failed: t.a"},
        {"SELECT ?", {1, 2}, 0, "column index out of range"},
        {"   -- nothing to run", {}, 0, "not an error"},
    };
    for (const Case& c : cases) {
        const ns::Value entry = run("t.db", c.sql, c.params);
        const ns::Value error = ns::Value::dict({{"code", c.code}, {"message", c.message}});
        EXPECT_EQ(entry, ns::Value::dict({{"type", "error"}, {"error", error}, {"result", error}}))
            << c.sql;
    }
    // A full database: the page's quota error.
    run("t.db", "PRAGMA max_page_count = 3");
    const ns::Value full = run("t.db", "INSERT INTO t VALUES (2, zeroblob(100000))");
    EXPECT_EQ(full["error"],
              ns::Value::dict({{"code", 4}, {"message", "database or disk is full"}}));

    EXPECT_EQ(SQLitePlugin::mapSQLiteErrorCode(SQLITE_ERROR), 5);
    EXPECT_EQ(SQLitePlugin::mapSQLiteErrorCode(SQLITE_FULL), 4);
    EXPECT_EQ(SQLitePlugin::mapSQLiteErrorCode(SQLITE_CONSTRAINT), 6);
    EXPECT_EQ(SQLitePlugin::mapSQLiteErrorCode(SQLITE_BUSY), 0);
    EXPECT_EQ(SQLitePlugin::mapSQLiteErrorCode(SQLITE_CORRUPT), 0);
}

TEST_F(SQLitePluginTest, ABatchGoesOnPastAFailingStatement) {
    openTable();
    const ns::Array replies =
        batch("t.db", {statement("INSERT INTO t VALUES (1, 1)"),
                       statement("INSERT INTO nowhere VALUES (1)"), statement("SELECT a FROM t")});
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0]["type"], ns::Value("success"));
    EXPECT_EQ(replies[1]["type"], ns::Value("error"));
    EXPECT_EQ(replies[1]["error"]["code"], ns::Value(5));
    EXPECT_EQ(replies[2]["result"]["rows"], ns::Value(ns::Array{ns::Value::dict({{"a", 1}})}));
}

// The answer is written as text while the statements run; the page reads exactly this.
TEST_F(SQLitePluginTest, ABatchAnswerIsTheTextThePageReads) {
    openTable();
    const SentResult sent = call(
        "backgroundExecuteSqlBatch",
        batchArgs("t.db", {statement("INSERT INTO t VALUES (?, ?) RETURNING b AS z, a", {1, "x"}),
                           statement("INSERT INTO nowhere VALUES (1)"),
                           statement("SELECT 1 AS n, 0.5 AS n, 'it''s \"q\"\n' AS s")}));
    EXPECT_EQ(sent.status, kOK);
    const std::string noTable = R"({"code":5,"message":"no such table: nowhere"})";
    EXPECT_EQ(sent.json,
              // Rows and the changes of one statement together, members in byte order.
              R"([{"result":{"insertId":1,"rows":[{"a":1,"z":"x"}],"rowsAffected":1},)"
              R"("type":"success"},)"
              R"({"error":)" +
                  noTable + R"(,"result":)" + noTable +
                  R"(,"type":"error"},)"
                  R"({"result":{"rows":[{"n":0.5,"s":"it's \"q\"\n"}],"rowsAffected":0},)"
                  R"("type":"success"}])");
    // The same answer read back as a value.
    EXPECT_EQ(sent.message.at(size_t{0})["result"]["rows"].at(size_t{0})["z"], ns::Value("x"));
    // Statements without rows, the most common entries of a long batch.
    const SentResult plain =
        call("backgroundExecuteSqlBatch",
             batchArgs("t.db", {statement("BEGIN"), statement("INSERT INTO t VALUES (2, 2)"),
                                statement("UPDATE t SET b = 3"), statement("COMMIT")}));
    EXPECT_EQ(plain.json,
              R"([{"result":{"rows":[],"rowsAffected":0},"type":"success"},)"
              R"({"result":{"insertId":2,"rows":[],"rowsAffected":1},"type":"success"},)"
              R"({"result":{"insertId":2,"rows":[],"rowsAffected":2},"type":"success"},)"
              R"({"result":{"rows":[],"rowsAffected":0},"type":"success"}])");
}

// Rows are written straight into the answer's text: each must read exactly as the general JSON
// writer writes the same row as a value, separators included where a column has nothing to
// carry, in an answer to one statement and in a batch.
TEST_F(SQLitePluginTest, RowTextIsWhatTheWriterWritesForTheSameValues) {
    expectAnswer(open("w.db"), kOK, "Database opened");
    const std::string select =
        "SELECT 9007199254740992 AS i53, 9007199254740993 AS i53p, -9223372036854775808 AS imin,"
        " 9007199254740993.0 AS d53, 0.1 AS d, 1e300 AS big, 4.9e-324 AS tiny,"
        " 100000000000000000.0 AS e17, 2.0 AS two, -3.0 AS minus3, -0.0 AS negz,"
        " 9007199254740992.0 AS d53w, -9007199254740992.0 AS d53n, 1e16 AS e16, 1.5 AS half,"
        " 'a' || char(0) || 'b\\' || char(1) || char(31) || '\"' AS ctl,"
        " char(8232) || char(8233) || char(127) || 'é😀' AS wide,"
        " x'c3a9' AS blob, NULL AS n, 1 AS \"k\"\"ey\", 2 AS \""
        "\xE2\x80\xA8"
        "\","
        " x'ff' AS skipped";
    const ns::Value row = ns::Value::dict({{"i53", int64_t{9007199254740992}},
                                           {"i53p", int64_t{9007199254740993}},
                                           {"imin", std::numeric_limits<int64_t>::min()},
                                           {"d53", 9007199254740993.0},
                                           {"d", 0.1},
                                           {"big", 1e300},
                                           {"tiny", 4.9e-324},
                                           {"e17", 1e17},
                                           {"two", 2.0},
                                           {"minus3", -3.0},
                                           {"negz", -0.0},
                                           {"d53w", 9007199254740992.0},
                                           {"d53n", -9007199254740992.0},
                                           {"e16", 1e16},
                                           {"half", 1.5},
                                           {"ctl", std::string("a\0b\\\x01\x1f\"", 7)},
                                           {"wide",
                                            "\xE2\x80\xA8\xE2\x80\xA9\x7F"
                                            "é😀"},
                                           {"blob", "é"},
                                           {"n", nullptr},
                                           {"k\"ey", 1},
                                           {"\xE2\x80\xA8", 2}});
    const auto written = [](const ns::Array& rows) {
        auto text = ns::JSONSerialization::write(ns::Value(rows));
        return text ? *text : std::string("unwritable");
    };
    const ns::Value dbargs = ns::Value::dict({{"dbname", "w.db"}});
    const SentResult one =
        call("executeSql", ns::Value::dict({{"dbargs", dbargs}, {"ex", statement(select)}}));
    EXPECT_EQ(one.json, R"({"rows":)" + written({row}) + R"(,"rowsAffected":0})");

    // Several rows; a first column that has nothing to carry, and a row with nothing at all.
    const std::string several =
        "SELECT x'ff' AS a, 1 AS b UNION ALL SELECT 'x', 2 UNION ALL SELECT 1e999, x'fe'";
    const SentResult batched = call(
        "backgroundExecuteSqlBatch",
        batchArgs("w.db", {statement(select), statement(several), statement("SELECT 1 WHERE 0")}));
    const ns::Array severalRows{ns::Value::dict({{"b", 1}}),
                                ns::Value::dict({{"a", "x"}, {"b", 2}}), ns::Value::dict({})};
    EXPECT_EQ(batched.json, R"([{"result":{"rows":)" + written({row}) +
                                R"(,"rowsAffected":0},"type":"success"},)"
                                R"({"result":{"rows":)" +
                                written(severalRows) +
                                R"(,"rowsAffected":0},"type":"success"},)"
                                R"({"result":{"rows":[],"rowsAffected":0},"type":"success"}])");
    ASSERT_EQ(batched.message.count(), 3u);
    // Read back by the page's rules (an integral double reads as an integer there).
    EXPECT_EQ(batched.message.at(size_t{0})["result"]["rows"].at(size_t{0})["ctl"], row["ctl"]);

    // An insert that returns rows answers its id in front of them.
    ASSERT_EQ(run("w.db", "CREATE TABLE t (a)")["type"], ns::Value("success"));
    const SentResult returning = call(
        "executeSql",
        ns::Value::dict({{"dbargs", dbargs},
                         {"ex", statement("INSERT INTO t VALUES (?) RETURNING a", {"q\"uote"})}}));
    EXPECT_EQ(returning.json, R"({"insertId":1,"rows":[{"a":"q\"uote"}],"rowsAffected":1})");
}

// A batch read from the text of the page's call, statement by statement as it runs, answers
// exactly what the same batch read as values answers: every kind of parameter, repeated keys
// (the last counts), halves of characters the page cut, requests that fail.
TEST_F(SQLitePluginTest, ABatchReadFromItsTextAnswersAsFromItsValues) {
    openTable("text.db");
    openTable("values.db");
    const std::string requests[] = {
        R"j([{"dbargs":{"dbname":"%DB%"},"executes":[)j"
        R"j({"sql":"INSERT INTO t VALUES (?, ?)","params":[1,"a"]},)j"
        R"j({"sql":"INSERT INTO t VALUES (?, ?)","params":[null,true]},)j"
        R"j({"params":[2.5,false],"sql":"INSERT INTO t VALUES (?, ?)"},)j"
        R"j({"sql":"INSERT INTO t VALUES (?, ?)","params":[9223372036854775807,18446744073709551615]},)j"
        R"j({"sql":"INSERT INTO t VALUES (?, ?)","params":[123456789012345678901234,1e300]},)j"
        R"j({"sql":"INSERT INTO t VALUES (?, ?)","params":[[1,{"k":"v"}],{"b":[],"a":null}]},)j"
        R"j({"sql":"INSERT INTO t VALUES (?, ?)","params":["q\"\\\n\u00e9\ud83d\ude00","cut \ud83d"]},)j"
        R"j({"sql":"INSERT INTO t VALUES (?, ?)","params":["\ud800","\udc00 cut"]},)j"
        R"j({"sql":"SELECT * FROM t ORDER BY rowid"}]}])j",
        // Repeated keys: the last of each counts, in the request, its database and a statement.
        R"j([{"executes":[{"sql":"SELECT 1 AS one"}],)j"
        R"j("dbargs":{"dbname":"nowhere.db","dbname":"%DB%"},)j"
        R"j("executes":[{"sql":"SELECT 2 AS two","params":[5],"sql":"SELECT ? AS p","params":[7]}]}])j",
        R"j([{"executes":[{"sql":"SELECT 1"}],"dbargs":{"dbname":"%DB%"},"executes":7}])j",
        // Named again after the statements: the last name counts, whatever the first one.
        R"j([{"dbargs":{"dbname":"nowhere.db"},"executes":[{"sql":"SELECT 1 AS one"}],)j"
        R"j("dbargs":{"dbname":"%DB%"}}])j",
        // Written with white space, more members in "dbargs", or a second argument.
        " [ {\n \"dbargs\" : { \"dblocation\" : \"docs\" , \"dbname\" : \"%DB%\" } ,\t"
        "\"executes\" : [ {\"sql\":\"SELECT 2 AS two\"} ] } ] ",
        R"j([{"dbargs":{"dbname":"%DB%","flags":1},"executes":[{"sql":"SELECT 3 AS n"}]}])j",
        R"j([{"dbargs":{"dbname":"%DB%"},"executes":[{"sql":"SELECT 4 AS n"}]},{"x":1}])j",
        R"j([{"dbargs":{"dbname":"%DB%"},"executes":[{"sql":"SELECT 5 AS n"}],"other":[]}])j",
        // One text again and again: each time bound afresh, parameters it does not give
        // null; a text that cannot run fails each time.
        R"j([{"dbargs":{"dbname":"%DB%"},"executes":[)j"
        R"j({"sql":"SELECT ? AS a, ? AS b","params":[1,"x"]},)j"
        R"j({"sql":"SELECT ? AS a, ? AS b","params":[2]},)j"
        R"j({"sql":"SELECT ? AS a, ? AS b"},)j"
        R"j({"sql":"SELECT ? AS a, ? AS b","params":["\ud800",3.25]},)j"
        R"j({"sql":"SELECT ? AS a, ? AS b","params":[4,5,6]},)j"
        R"j({"sql":"SELECT ? AS a, ? AS b","params":[7,8]},)j"
        R"j({"sql":"SELECT \u0031 AS one"},{"sql":"SELECT \u0031 AS one"},)j"
        R"j({"sql":"SELEC"},{"sql":"SELEC"},{"sql":"SELECT 1; SELECT 2"},)j"
        R"j({"sql":"SELECT 1; SELECT 2"},{"sql":"SELECT ? AS a, ? AS b","params":[9]}]}])j",
        // A statement read as it comes and then found written otherwise (a key again, its
        // text after its parameters, a key with an escape) answers by the last of each key,
        // with nothing left bound from the first reading; a key of a member's own object is
        // not one of the statement's.
        R"j([{"dbargs":{"dbname":"%DB%"},"executes":[)j"
        R"j({"sql":"SELECT ? AS a, ? AS b","params":[1,2],"params":[3]},)j"
        R"j({"sql":"SELECT ? AS a","params":[4],"sql":"SELECT ? AS b, ? AS c"},)j"
        R"j({"sql":"SELECT ? AS a, ? AS b","params":[5,6]},)j"
        R"j({"sql":"SELECT ? AS a, ? AS b","params":[7]},)j"
        R"j({"params":[8],"sql":"SELECT ? AS p"},)j"
        R"j({"s\u0071l":"SELECT 9 AS nine"},{"params":[10],"s\u0071l":"SELECT ? AS ten"},)j"
        R"j({"sql":"SELECT ? AS x","other":{"sql":"SELECT 0","params":[0]},"params":[11]},)j"
        R"j({"sql":"SELECT ? AS y","params":"x","params":[12]},)j"
        R"j({"sql":"SELEC","params":[13]},{"sql":"SELECT 1; SELECT 2","params":[]},)j"
        R"j({"sql":7,"sql":"SELECT 14 AS n"},{"sql":"SELECT ? AS z","params":[15,16,17],"x":[0]},)j"
        R"j({"sql":"SELECT ? AS z","params":[18,19],"sql":"SELECT 20 AS twenty"}]}])j",
        // Failures: no database, one that is not open, statements without text or not objects,
        // two statements in one text, a statement that fails among others, parameters past
        // the statement's own.
        R"j([{"executes":[{"sql":"SELECT 1"},{"sql":"SELECT 2"}]}])j",
        R"j([{"dbargs":{"dbname":"closed.db"},"executes":[{"sql":"SELECT 1"}]}])j",
        R"j([{"dbargs":{"dbname":"%DB%"},"executes":[{},{"sql":1},7,"x",null,)j"
        R"j({"sql":"SELECT 1; SELECT 2"},{"sql":"SELECT * FROM nowhere"},)j"
        R"j({"sql":"SELECT ?","params":[1,2]},{"sql":"SELECT 3 AS n"}]}])j",
        R"j([{"dbargs":{"dbname":"%DB%"},"executes":[]}])j",
        R"j([{"dbargs":{"dbname":"%DB%"}}])j",
        R"j(["not a request"])j",
        "[]",
    };
    auto forDatabase = [](std::string text, const std::string& name) {
        for (size_t at; (at = text.find("%DB%")) != std::string::npos;) text.replace(at, 4, name);
        return text;
    };
    for (const std::string& request : requests) {
        const auto values = ns::JSONSerialization::read(forDatabase(request, "values.db"),
                                                        {.loneSurrogatesReplaced = true});
        ASSERT_TRUE(values.ok()) << request;
        const SentResult fromText =
            callWithText("backgroundExecuteSqlBatch", forDatabase(request, "text.db"));
        const std::string id = "SQLitePlugin" + std::to_string(++nextCallback_);
        HYBInvokedUrlCommand command(*values->array(), id, "SQLitePlugin",
                                     "backgroundExecuteSqlBatch");
        ASSERT_TRUE(plugin_->performAction("backgroundExecuteSqlBatch", command));
        loop().runUntilIdle();
        const auto fromValues = delegate_->resultFor(id);
        ASSERT_TRUE(fromValues) << request;
        EXPECT_EQ(fromText.status, fromValues->status) << request;
        EXPECT_EQ(fromText.json, fromValues->json) << request;
    }
}

TEST_F(SQLitePluginTest, BatchRequestFailuresBecomeErrorEntries) {
    openTable();
    auto entry = [](const char* message) {
        return ns::Value::dict({{"type", "error"}, {"error", message}, {"result", message}});
    };
    const ns::Array two = {statement("SELECT 1"), statement("SELECT 2")};
    const ns::Array noPath = {entry("INTERNAL PLUGIN ERROR: You must specify database path"),
                              entry("INTERNAL PLUGIN ERROR: You must specify database path")};
    EXPECT_EQ(call("backgroundExecuteSqlBatch", ns::Value::dict({{"executes", two}})).message,
              ns::Value(noPath));
    const ns::Value notOpen =
        entry("INTERNAL PLUGIN ERROR: No such database, you must open it first");
    EXPECT_EQ(batch("other.db", two), (ns::Array{notOpen, notOpen}));
    const ns::Value noSql = entry("INTERNAL PLUGIN ERROR: You must specify a sql query to execute");
    EXPECT_EQ(batch("t.db", {ns::Dictionary(), ns::Value::dict({{"sql", 1}}), ns::Value(7)}),
              (ns::Array{noSql, noSql, noSql}));
    // No statements, or no list of them: an empty answer.
    EXPECT_EQ(batch("t.db", {}), ns::Array());
    const SentResult missing =
        call("backgroundExecuteSqlBatch",
             ns::Value::dict({{"dbargs", ns::Value::dict({{"dbname", "t.db"}})}}));
    EXPECT_EQ(missing.status, kOK);
    EXPECT_EQ(missing.message, ns::Value(ns::Array()));
    // Parameters that are no list bind nothing.
    EXPECT_EQ(
        batch("t.db",
              {ns::Value::dict({{"sql", "SELECT ? AS p"}, {"params", "x"}})})[0]["result"]["rows"],
        ns::Value(ns::Array{ns::Value::dict({{"p", nullptr}})}));
}

TEST_F(SQLitePluginTest, ExecuteSqlAnswersOneStatement) {
    openTable();
    auto execute = [&](const ns::Value& args) { return call("executeSql", args); };
    const ns::Value dbargs = ns::Value::dict({{"dbname", "t.db"}});
    const SentResult inserted = execute(ns::Value::dict(
        {{"dbargs", dbargs}, {"ex", statement("INSERT INTO t VALUES (?, ?)", {7, "x"})}}));
    EXPECT_EQ(inserted.status, kOK);
    EXPECT_EQ(inserted.message,
              ns::Value::dict({{"rows", ns::Array()}, {"rowsAffected", 1}, {"insertId", 1}}));
    const SentResult failed =
        execute(ns::Value::dict({{"dbargs", dbargs}, {"ex", statement("SELEC")}}));
    EXPECT_EQ(failed.status, kError);
    EXPECT_EQ(failed.message["code"], ns::Value(5));
    expectAnswer(execute(ns::Value::dict({{"ex", statement("SELECT 1")}})), kError,
                 "INTERNAL PLUGIN ERROR: You must specify database path");
    expectAnswer(execute(ns::Value::dict({{"dbargs", ns::Value::dict({{"dbname", "no.db"}})},
                                          {"ex", statement("SELECT 1")}})),
                 kError, "INTERNAL PLUGIN ERROR: No such database, you must open it first");
    expectAnswer(execute(ns::Value::dict({{"dbargs", dbargs}})), kError,
                 "INTERNAL PLUGIN ERROR: You must specify a sql query to execute");

    // Text after the first statement is refused before anything runs, unless it is only
    // white space, comments and semicolons.
    for (const char* sql : {"INSERT INTO t VALUES (8, 'a'); INSERT INTO t VALUES (9, 'b')",
                            "INSERT INTO t VALUES (8, 'a');; -- x\n SELECT 1",
                            "INSERT INTO t VALUES (8, 'a'); garbage"}) {
        const SentResult refused =
            execute(ns::Value::dict({{"dbargs", dbargs}, {"ex", statement(sql)}}));
        EXPECT_EQ(refused.status, kError) << sql;
        EXPECT_EQ(refused.message["code"], ns::Value(5)) << sql;
        EXPECT_EQ(run("t.db", sql)["type"], ns::Value("error")) << sql;
    }
    EXPECT_EQ(rows("t.db", "SELECT count(*) AS n FROM t")[0]["n"], ns::Value(1));
    for (const char* sql : {"SELECT 1;", "SELECT 1 ; ;\n-- done\n/* really */;"}) {
        EXPECT_EQ(execute(ns::Value::dict({{"dbargs", dbargs}, {"ex", statement(sql)}})).status,
                  kOK)
            << sql;
    }
}

// A statement that takes long (here: held at a gate inside a batch) holds up neither the
// main thread nor the order of the page's later statements on the database.
TEST_F(SQLitePluginTest, ExecuteSqlWaitsOffTheMainThreadAndKeepsItsOrder) {
    sqlitetest::SQLiteTestGate gate;
    openTable();
    const std::string held = "held";
    plugin_->performAction(
        "backgroundExecuteSqlBatch",
        HYBInvokedUrlCommand({batchArgs("t.db", {statement("INSERT INTO t VALUES (1, 1)"),
                                                 statement("SELECT test_gate()")})},
                             held, "SQLitePlugin", "backgroundExecuteSqlBatch"));
    gate.waitUntilReached();
    const ns::Value dbargs = ns::Value::dict({{"dbname", "t.db"}});
    std::vector<std::string> ids;
    for (const char* sql : {"INSERT INTO t VALUES (2, 2)", "SELECT count(*) AS n FROM t"}) {
        ids.push_back("ex" + std::to_string(++nextCallback_));
        HYBInvokedUrlCommand command(
            {ns::Value::dict({{"dbargs", dbargs}, {"ex", statement(sql)}})}, ids.back(),
            "SQLitePlugin", "executeSql");
        plugin_->performAction("executeSql", command);
    }
    EXPECT_FALSE(delegate_->resultFor(ids[0]));
    gate.open();
    loop().runUntilIdle();
    EXPECT_EQ(delegate_->waitFor(held).status, kOK);
    EXPECT_EQ(delegate_->waitFor(ids[0]).status, kOK);
    EXPECT_EQ(
        delegate_->waitFor(ids[1]).message,
        ns::Value::dict({{"rows", ns::Array{ns::Value::dict({{"n", 2}})}}, {"rowsAffected", 0}}));
}

// The page's SQL cannot make or write files outside the application's container.
TEST_F(SQLitePluginTest, StatementsAttachOnlyFilesInsideTheContainer) {
    openTable();
    const std::string outside = dir_.str() + "/outside.db";
    const std::pair<std::string, ns::Array> refused[] = {
        {"ATTACH '" + outside + "' AS o", {}},
        {"ATTACH ? AS o", {outside}},
        {"VACUUM INTO '" + outside + "'", {}},
        {"ATTACH 'file:" + outside + "' AS o", {}},
        {"ATTACH 'relative.db' AS o", {}},
        {"ATTACH '" + documents() + "/../../../outside.db' AS o", {}},
    };
    for (const auto& [sql, params] : refused) {
        const ns::Value entry = run("t.db", sql, params);
        EXPECT_EQ(entry["type"], ns::Value("error")) << sql;
        EXPECT_EQ(entry["error"]["code"], ns::Value(0)) << sql;
    }
    EXPECT_FALSE(fs::exists(outside));
    EXPECT_FALSE(fs::exists("relative.db"));
    for (const std::string& sql :
         {"ATTACH '" + documents() + "/other.db' AS other",
          std::string("ATTACH ':memory:' AS scratch"), std::string("VACUUM"),
          "VACUUM INTO '" + documents() + "/copy.db'"}) {
        EXPECT_EQ(run("t.db", sql)["type"], ns::Value("success")) << sql;
    }
    EXPECT_TRUE(fs::exists(documents() + "/other.db"));
    EXPECT_TRUE(fs::exists(documents() + "/copy.db"));
}

// The page's SQL cannot rewrite the schema behind SQLite's back, which would leave a
// database that no longer opens.
TEST_F(SQLitePluginTest, TheSchemaCannotBeWrittenDirectly) {
    openTable();
    run("t.db", "PRAGMA writable_schema = ON");
    const ns::Value rewrite =
        run("t.db", "UPDATE sqlite_master SET sql = 'CREATE TABLE t (' WHERE name = 't'");
    EXPECT_EQ(rewrite["type"], ns::Value("error"));
    EXPECT_EQ(rewrite["error"]["message"], ns::Value("table sqlite_master may not be modified"));
    expectAnswer(close("t.db"), kOK, "DB closed");
    expectAnswer(open("t.db"), kOK, "Database opened");
    EXPECT_EQ(run("t.db", "SELECT a, b FROM t")["type"], ns::Value("success"));
}

// --- Large answers in pieces -------------------------------------------------------------

class SQLitePiecesTest : public SQLitePluginTest {
protected:
    // About 10 MB of rows: every kind of column, text that needs escaping and text beyond
    // ASCII, each row made long by a run of letters.
    void fillBig() {
        openTable();
        ASSERT_EQ(
            run("t.db", "CREATE TABLE big (n INTEGER, label TEXT, x REAL, b BLOB, z)")["type"],
            ns::Value("success"));
        ASSERT_EQ(run("t.db",
                      "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c LIMIT 20000) "
                      "INSERT INTO big SELECT i, 'é \"q\" \\ ' || char(8232, 9, 128512) || ' ' || "
                      "replace(hex(zeroblob(240)), '0', 'x'), i * 0.5, "
                      "CASE WHEN i % 3 = 0 THEN x'00ff41' END, "
                      "CASE i % 4 WHEN 0 THEN NULL WHEN 1 THEN -i WHEN 2 THEN i / 3.0 ELSE 'z' END "
                      "FROM c")["type"],
                  ns::Value("success"));
    }
    SentResult execute(const std::string& sql) {
        return call("executeSql",
                    ns::Value::dict({{"dbargs", ns::Value::dict({{"dbname", "t.db"}})},
                                     {"ex", statement(sql)}}));
    }
    // The answer with the rows of its pieces in front of its own (at the path of keys and
    // indexes that the answer names), as the page joins them.
    static ns::Value joined(const SentResult& answer,
                            const std::vector<sqlitetest::SentPiece>& pieces) {
        ns::Array rows;
        for (const auto& piece : pieces) {
            const ns::Value run = ns::JSONSerialization::read(piece.json).valueOr(ns::Value());
            EXPECT_TRUE(run.isArray()) << piece.json.substr(0, 80);
            if (run.isArray()) rows.insert(rows.end(), run.array()->begin(), run.array()->end());
        }
        ns::Value message = answer.message;
        ns::Value* own = &message;
        for (const std::string_view key : ns::componentsSeparatedByCharacter(answer.member, '.')) {
            if (ns::Array* array = own->array()) {
                const size_t index = std::stoul(std::string(key));
                EXPECT_LT(index, array->size());
                if (index >= array->size()) return ns::Value();
                own = &(*array)[index];
            } else if (ns::Dictionary* members = own->dictionary()) {
                own = &(*members)[key];
            }
        }
        EXPECT_TRUE(own->isArray()) << answer.member;
        if (const ns::Array* last = own->array())
            rows.insert(rows.end(), last->begin(), last->end());
        *own = ns::Value(std::move(rows));
        return message;
    }
};

// An answer that passes the piece size sends its rows ahead in runs, numbered in order, that
// together with the answer's own rows are exactly the answer sent whole; smaller answers and
// answers without rows send no pieces.
TEST_F(SQLitePiecesTest, RunsOfRowsJoinIntoTheWholeAnswer) {
    fillBig();
    const std::string select = "SELECT * FROM big ORDER BY n";
    const SentResult whole = execute(select);
    ASSERT_EQ(whole.status, kOK);
    ASSERT_EQ(whole.message["rows"].count(), 20000u);
    ASSERT_GT(whole.json.size(), size_t{8} << 20);

    delegate_->setTakesPieces(true);
    const SentResult pieced = execute(select);
    const auto pieces = delegate_->pieces();
    ASSERT_GE(pieces.size(), 2u);
    for (size_t i = 0; i < pieces.size(); ++i) {
        EXPECT_EQ(pieces[i].callbackId, pieced.callbackId);
        EXPECT_EQ(pieces[i].index, i);
        EXPECT_GE(pieces[i].json.size(), size_t{4} << 20);
    }
    EXPECT_EQ(pieced.status, kOK);
    EXPECT_EQ(pieced.member, "rows");
    EXPECT_EQ(pieced.pieces, pieces.size());
    EXPECT_LT(pieced.message["rows"].count(), 20000u);
    EXPECT_EQ(joined(pieced, pieces), whole.message);

    // Under the piece size or without rows: the answer goes whole. (Batches: see below.)
    EXPECT_EQ(execute("SELECT * FROM big LIMIT 100").pieces, 0u);
    const SentResult inserted = execute("INSERT INTO t VALUES (1, 2)");
    EXPECT_EQ(inserted.message,
              ns::Value::dict({{"rows", ns::Array()}, {"rowsAffected", 1}, {"insertId", 1}}));
    EXPECT_EQ(execute("SELECT 1 WHERE 0").message,
              ns::Value::dict({{"rows", ns::Array()}, {"rowsAffected", 0}}));
    EXPECT_EQ(delegate_->pieces().size(), pieces.size());
}

// While the page awaits a piece, a run goes as soon as it passes the shortest piece; while the
// page is busy, the run grows to the longest. Either way the runs join into the whole answer.
TEST_F(SQLitePiecesTest, RunsAreShortWhileThePageWaitsAndGrowWhileItIsBusy) {
    fillBig();
    const std::string select = "SELECT * FROM big ORDER BY n";
    const SentResult whole = execute(select);
    delegate_->setTakesPieces(true);
    delegate_->setPieceAwaited([](size_t sent) { return sent < 2; });
    const SentResult pieced = execute(select);
    const auto pieces = delegate_->pieces();
    ASSERT_GE(pieces.size(), 3u);
    // Cut at the first row past 64 KiB; rows here are well under 1 KiB.
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_GE(pieces[i].json.size(), size_t{64} << 10);
        EXPECT_LT(pieces[i].json.size(), (size_t{64} << 10) + 1024);
    }
    for (size_t i = 2; i < pieces.size(); ++i) {
        EXPECT_GE(pieces[i].json.size(), size_t{4} << 20);
        EXPECT_LT(pieces[i].json.size(), (size_t{4} << 20) + 1024);
    }
    EXPECT_EQ(pieced.pieces, pieces.size());
    EXPECT_EQ(joined(pieced, pieces), whole.message);
}

// A page that starts waiting while a run grows gets that run cut at the next look, not at
// the longest: it never waits behind a long piece.
TEST_F(SQLitePiecesTest, ARunIsCutShortOnceThePageWaitsForIt) {
    fillBig();
    const std::string select = "SELECT * FROM big ORDER BY n";
    const SentResult whole = execute(select);
    delegate_->setTakesPieces(true);
    // The page awaits the first piece, then is busy with it for five looks at the second,
    // then waits again; from the third piece on it stays busy.
    size_t busyLooks = 0;
    delegate_->setPieceAwaited([&busyLooks](size_t sent) {
        if (sent == 0) return true;
        return sent == 1 && ++busyLooks > 5;
    });
    const SentResult pieced = execute(select);
    const auto pieces = delegate_->pieces();
    ASSERT_GE(pieces.size(), 3u);
    // Five looks 16 KiB apart past the shortest run, a row (under 1 KiB) past each.
    constexpr size_t kLook = 16 << 10;
    EXPECT_GE(pieces[1].json.size(), (size_t{64} << 10) + 5 * kLook);
    EXPECT_LT(pieces[1].json.size(), (size_t{64} << 10) + 6 * (kLook + 1024));
    EXPECT_GE(pieces[2].json.size(), size_t{4} << 20);
    EXPECT_EQ(joined(pieced, pieces), whole.message);
}

// The statement hands on a run only when the page has room for it: however many runs an
// answer has, the page never holds more than its window of them at once, and they still join
// into the whole answer.
TEST_F(SQLitePiecesTest, RunsWaitForThePageWhateverTheAnswersSize) {
    fillBig();
    delegate_->setTakesPieces(true);
    // Short runs (the page always awaits one), many of them.
    delegate_->setPieceAwaited([](size_t) { return true; });
    delegate_->setPageWindow(2);
    size_t piecesBefore = 0;
    for (const char* limit : {"2000", "20000"}) {
        SCOPED_TRACE(limit);
        const std::string select = std::string("SELECT * FROM big ORDER BY n LIMIT ") + limit;
        const SentResult pieced = execute(select);
        auto pieces = delegate_->pieces();
        pieces.erase(pieces.begin(), pieces.begin() + static_cast<long>(piecesBefore));
        piecesBefore += pieces.size();
        EXPECT_GT(pieces.size(), 10u);
        EXPECT_EQ(delegate_->mostPiecesHeld(), 2u);
        EXPECT_EQ(joined(pieced, pieces)["rows"].count(), std::stoul(limit));
    }
}

// In a batch, the rows of the first statement with a long answer go ahead in runs aimed at its
// entry, which join into exactly the batch's answer sent whole, read from its values, from its
// text or from its text as the page writes it (each statement's text first, read and run in one
// pass); a later long statement comes whole, and a later statement that fails leaves the runs
// joined. When the statement whose rows went ahead fails, the batch's answer comes whole.
TEST_F(SQLitePiecesTest, ABatchSendsTheRowsOfItsFirstLongStatementAhead) {
    fillBig();
    const ns::Value args =
        batchArgs("t.db", {statement("SELECT 1 AS one"), statement("SELECT * FROM big ORDER BY n"),
                           statement("SELECT * FROM big ORDER BY n DESC"),
                           statement("SELECT 2 AS two"), statement("SELECT * FROM nowhere")});
    const std::string text = *ns::JSONSerialization::write(ns::Value(ns::Array{args}));
    const std::string written =
        R"([{"dbargs":{"dbname":"t.db"},"executes":[{"sql":"SELECT 1 AS one","params":[]},)"
        R"({"sql":"SELECT * FROM big ORDER BY n","params":[]},)"
        R"({"sql":"SELECT * FROM big ORDER BY n DESC","params":[]},)"
        R"({"sql":"SELECT 2 AS two","params":[]},{"sql":"SELECT * FROM nowhere","params":[]}]}])";
    const SentResult whole = call("backgroundExecuteSqlBatch", args);
    ASSERT_EQ(whole.status, kOK);
    ASSERT_EQ(whole.message.at(4)["type"], ns::Value("error"));
    delegate_->setTakesPieces(true);
    const std::pair<const char*, std::optional<std::string>> roads[] = {
        {"values", std::nullopt}, {"text", text}, {"text as the page writes it", written}};
    for (const auto& [road, arguments] : roads) {
        SCOPED_TRACE(road);
        const size_t before = delegate_->pieces().size();
        const SentResult pieced = arguments ? callWithText("backgroundExecuteSqlBatch", *arguments)
                                            : call("backgroundExecuteSqlBatch", args);
        auto pieces = delegate_->pieces();
        pieces.erase(pieces.begin(), pieces.begin() + static_cast<long>(before));
        ASSERT_GE(pieces.size(), 2u);
        EXPECT_EQ(pieced.member, "1.result.rows");
        EXPECT_EQ(pieced.pieces, pieces.size());
        EXPECT_EQ(pieced.message.at(2)["result"]["rows"].count(), 20000u);
        EXPECT_EQ(joined(pieced, pieces), whole.message);
    }
    const ns::Value failing =
        batchArgs("t.db", {statement("SELECT *, CASE WHEN n < 19000 THEN 0 ELSE "
                                     "abs(n * 0 - 9223372036854775807 - 1) END AS f FROM big"),
                           statement("SELECT 3 AS three")});
    const size_t before = delegate_->pieces().size();
    const SentResult failed = call("backgroundExecuteSqlBatch", failing);
    EXPECT_GT(delegate_->pieces().size(), before);
    EXPECT_EQ(failed.pieces, 0u);
    EXPECT_EQ(failed.message.at(0)["type"], ns::Value("error"));
    EXPECT_EQ(failed.message.at(1)["result"]["rows"],
              ns::Value(ns::Array{ns::Value::dict({{"three", 3}})}));
}

// A row that fills a piece by itself leaves the answer no rows of its own.
TEST_F(SQLitePiecesTest, EveryRowAheadLeavesTheAnswerAnEmptyArray) {
    openTable();
    const std::string sql = "SELECT replace(hex(zeroblob(2200000)), '0', 'x') AS t";
    const SentResult whole = execute(sql);
    delegate_->setTakesPieces(true);
    const SentResult pieced = execute(sql);
    const auto pieces = delegate_->pieces();
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieced.pieces, 1u);
    EXPECT_EQ(pieced.json, R"({"rows":[],"rowsAffected":0})");
    EXPECT_EQ(joined(pieced, pieces), whole.message);
}

// A statement that fails after rows went ahead answers its error exactly as when sent whole,
// as an ordinary result (which makes the page drop the pieces).
TEST_F(SQLitePiecesTest, AFailureAfterPiecesIsAnsweredAsWhenSentWhole) {
    fillBig();
    const std::string sql =
        "SELECT *, CASE WHEN n < 19000 THEN 0 ELSE abs(n * 0 - 9223372036854775807 - 1) END AS f "
        "FROM big";
    const SentResult whole = execute(sql);
    ASSERT_EQ(whole.status, kError);
    delegate_->setTakesPieces(true);
    const SentResult pieced = execute(sql);
    EXPECT_GE(delegate_->pieces().size(), 1u);
    EXPECT_EQ(pieced.status, kError);
    EXPECT_EQ(pieced.pieces, 0u);
    EXPECT_EQ(pieced.message, whole.message);
    EXPECT_EQ(pieced.message["message"], ns::Value("integer overflow"));
}

// When the page takes no more of an answer (it went, or stopped taking pieces in), its statement
// stops at the next run: nothing more goes, the statement answers as one interrupted, and its
// database serves the next statement, of the same batch or another call.
TEST_F(SQLitePiecesTest, AStatementStopsWhenThePageTakesNoMore) {
    fillBig();
    delegate_->setTakesPieces(true);
    delegate_->setPieceAwaited([](size_t) { return true; });
    delegate_->setPageGoneAfter(2);
    const ns::Value interrupted = ns::Value::dict({{"code", 0}, {"message", "interrupted"}});
    const SentResult alone = execute("SELECT * FROM big ORDER BY n");
    EXPECT_EQ(delegate_->pieces().size(), 2u);
    EXPECT_EQ(alone.status, kError);
    EXPECT_EQ(alone.pieces, 0u);
    EXPECT_EQ(alone.message, interrupted);
    const SentResult batch =
        call("backgroundExecuteSqlBatch",
             batchArgs("t.db", {statement("SELECT * FROM big"), statement("SELECT 3 AS three")}));
    EXPECT_EQ(delegate_->pieces().size(), 2u);
    EXPECT_EQ(batch.message.at(0)["error"], interrupted);
    EXPECT_EQ(batch.message.at(1)["result"]["rows"],
              ns::Value(ns::Array{ns::Value::dict({{"three", 3}})}));
    EXPECT_EQ(execute("SELECT count(*) AS n FROM big").message["rows"],
              ns::Value(ns::Array{ns::Value::dict({{"n", 20000}})}));
}

TEST_F(SQLitePluginTest, EchoStringValue) {
    expectAnswer(call("echoStringValue", ns::Value::dict({{"value", "ping"}})), kOK, "ping");
    expectAnswer(call("echoStringValue", ns::Value::dict({{"value", 12}})), kOK, "12");
}

}  // namespace
