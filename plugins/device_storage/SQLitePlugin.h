#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bridge/HYBPlugin.h"
#include "platform/dispatch/Mutex.h"
#include "platform/ns/Error.h"
#include "platform/ns/JSONText.h"
#include "platform/ns/Value.h"
#include "plugins/device_storage/SQLiteConnection.h"

struct sqlite3;
struct sqlite3_stmt;
class HYBPluginResult;

// The page's SQLite databases: open files by name in one of the application's folders, run
// batches of statements with bound parameters, answer rows as JSON objects, close and delete.
//
// Every action takes one dictionary argument and answers once. open, close and delete work on
// the global background queue; backgroundExecuteSqlBatch and executeSql on their database's
// queue, in the order the page asked, so a long statement never holds up the main thread;
// echoStringValue answers at once on the calling thread. The table of open databases outlives
// page reloads; a database stays open until close, delete, or the plug-in goes.
//
// All work on one database is serialised: a batch holds its database from first statement to
// last, close and delete wait for the current user, and open, close and delete run one at a
// time, so an "already open" test and the entry it guards are one step.
class SQLitePlugin : public HYBPlugin {
public:
    // Location keys of "dblocation" and the folder "nosync" uses under the library folder.
    static constexpr const char* kDocsLocation = "docs";
    static constexpr const char* kLibsLocation = "libs";
    static constexpr const char* kNoSyncLocation = "nosync";
    static constexpr const char* kNoSyncFolderName = "LocalDatabase";

    // Page error codes, as the page's SQL error interface numbers them.
    static constexpr int kUnknownErrorCode = 0;
    static constexpr int kQuotaErrorCode = 4;
    static constexpr int kSyntaxErrorCode = 5;
    static constexpr int kConstraintErrorCode = 6;

    SQLitePlugin();
    ~SQLitePlugin() override;

    // Fills the location table: "docs", "libs" and, when its folder can be made and excluded
    // from backups, "nosync".
    void pluginInitialize() override;

    // --- Page actions ------------------------------------------------------------------------
    void open(const HYBInvokedUrlCommand& command);
    void close(const HYBInvokedUrlCommand& command);
    // The page action "delete".
    void deleteDatabase(const HYBInvokedUrlCommand& command);
    void backgroundExecuteSqlBatch(const HYBInvokedUrlCommand& command);
    void executeSql(const HYBInvokedUrlCommand& command);
    void echoStringValue(const HYBInvokedUrlCommand& command);

    // --- The work behind the actions (any thread) --------------------------------------------
    void openNow(const HYBInvokedUrlCommand& command);
    void closeNow(const HYBInvokedUrlCommand& command);
    void deleteNow(const HYBInvokedUrlCommand& command);
    void executeSqlBatchNow(const HYBInvokedUrlCommand& command);
    void executeSqlNow(const HYBInvokedUrlCommand& command);

    // The file of a database: the location's folder with the name appended. Nothing when the
    // location is unknown, or the name is empty, absolute, climbs with "..", ends in a folder
    // rather than a file, or holds a zero byte: a name only ever reaches a file at or below
    // its location.
    std::optional<std::string> getDBPath(std::string_view name, std::string_view location) const;
    // Rows handed on in runs while their statement still steps: each run is the JSON text of
    // an array, cut once it holds `fewest` bytes and the receiver awaits one (asked once in a
    // while), or once it holds `most`, and handed on only once the receiver has room for it;
    // `sent` counts the runs handed on. When the receiver will take no more (`waitForRoom`
    // says false), the statement stops where it is.
    struct RowPieces {
        RowPieces(std::function<void(size_t index, std::string run)> send,
                  std::function<bool()> awaited, std::function<bool()> waitForRoom, size_t fewest,
                  size_t most)
            : send(std::move(send)),
              awaited(std::move(awaited)),
              waitForRoom(std::move(waitForRoom)),
              fewest(fewest),
              most(most),
              nextLook(fewest) {}
        // Whether a run of `bytes` is to be handed on now.
        bool due(size_t bytes);
        // Hands on the run, the receiver's index its own, once the receiver has room for it;
        // false, with nothing handed on, when the receiver takes no more.
        bool hand(std::string run);

        std::function<void(size_t index, std::string run)> send;
        std::function<bool()> awaited;
        std::function<bool()> waitForRoom;
        // Where in the answer the runs go: the path of its array, keys joined by ".".
        std::string member;
        // Set when the runs sent join nothing (their statement failed in a batch that goes on):
        // the answer goes whole.
        bool voided = false;
        size_t fewest;
        size_t most;
        size_t sent = 0;

    private:
        size_t nextLook;
    };
    // Runs one statement {"sql", "params"} on the database that "dbargs" names. With `pieces`
    // the rows already handed on there are not in the answer's "rows".
    std::shared_ptr<HYBPluginResult> executeSqlWithDict(const ns::Value& statement,
                                                        const ns::Value& dbargs,
                                                        RowPieces* pieces = nullptr);

    // Binds one page value at the 1-based index; SQLite's result code. A string is bound in
    // place, without a copy: the value must stay until the statement is reset or finalized.
    static int bindStatement(sqlite3_stmt* statement, const ns::Value& value, int index);
    // {"code": page code, "message": SQLite's text of the connection's last error}.
    static ns::Value captureSQLiteErrorFromDb(sqlite3* db);
    static int mapSQLiteErrorCode(int sqliteCode);

    // Whether a database of that name is open now.
    bool isOpen(std::string_view name) const;
    // The database whose work queue a command joins: "dbargs"."dbname" of its first argument.
    // From the arguments' text when the command has it, and from its head when it begins as
    // the page's script writes it ('[{"dbargs":{"dbname":...}'), without reading the rest (a
    // batch's statements can be megabytes); the work itself takes the last "dbargs" of the
    // request, so one that names another later runs there, in this queue's turn.
    static std::optional<std::string> databaseNameOf(const HYBInvokedUrlCommand& command);

private:
    // The answer to one statement: OK with what it changed and its rows, or an error with a
    // message string or a SQLite error object.
    struct Outcome {
        static Outcome failed(ns::Value message) {
            Outcome outcome;
            outcome.ok = false;
            outcome.error = std::move(message);
            return outcome;
        }

        bool ok = true;
        ns::Value error;
        std::optional<int64_t> insertId;
        int32_t rowsAffected = 0;
        // The rows as a JSON array.
        std::string rows = "[]";
    };
    // A member of a row object: the column SQLite names, and the member's key as JSON text
    // with its colon, written once for all rows.
    struct RowKey {
        std::string name;
        int column;
        std::string member;
    };
    // The members of a row object: each column SQLite names, by name in ascending byte order
    // and, under one name, from the last column to the first.
    using RowKeys = std::vector<RowKey>;

    std::shared_ptr<SQLiteConnection> connectionNamed(std::string_view name) const;
    std::shared_ptr<SQLiteConnection> takeConnectionNamed(std::string_view name);
    // Looks up the database of "dbargs"; an error outcome when there is none.
    std::shared_ptr<SQLiteConnection> connectionForArgs(const ns::Value& dbargs,
                                                        std::optional<Outcome>& failure) const;
    // Switches on defensive mode and reads the schema; false when the file is no database.
    static bool probe(SQLiteConnection& connection);
    // The database file and the journal, WAL and shared-memory files beside it.
    static void removeDatabaseFiles(const std::string& path);
    // Binds a statement's parameters; SQLite's result code of the first bind that fails.
    using Binder = std::function<int(sqlite3_stmt*)>;
    static Outcome runStatement(SQLiteConnection::Use& use, const ns::Value& statement,
                                RowPieces* pieces = nullptr);
    // Compiles the text (or takes it kept) into `compiled`; what answers the statement when it
    // cannot run: it does not compile, holds no statement, or holds more than one.
    static std::optional<Outcome> compile(SQLiteConnection::Use& use, const std::string& sql,
                                          SQLiteStatement& compiled);
    // Compiles the text (or takes it kept), binds and steps it.
    static Outcome runSql(SQLiteConnection::Use& use, const std::string& sql, const Binder& bind,
                          RowPieces* pieces = nullptr);
    static int bindValues(sqlite3_stmt* statement, const ns::Value& params);
    // The batch read from the arguments' text as it runs: each statement is read, bound from
    // the text and run before the next is read. False, with nothing done, when the text
    // cannot be read that way; the values of the arguments are then the batch.
    struct BatchReplies;
    bool executeSqlBatchFromText(const ns::JSONSlice& text, BatchReplies& replies);
    // The batch read from the values of the arguments.
    void executeSqlBatchFromValues(const HYBInvokedUrlCommand& command, BatchReplies& replies);

    // The statement of a batch's latest text, kept compiled from one statement to the next
    // rather than given back to the connection and taken again: a batch repeats one text (an
    // insert per row) thousands of times.
    struct RepeatedStatement {
        std::string sql;
        // Empty unless `sql` compiled to one statement that can run.
        SQLiteStatement statement;
        // Whether its parameters may still hold what the last run bound: between two runs it
        // is only reset, clearing them costing as much as binding them again.
        bool stale = false;
        // Hands the statement back to the connection's kept ones, reset and cleared.
        void giveBack(SQLiteConnection::Use& use);
        // Before a run that bound the first `bound` parameters: the others made null.
        void clearPast(size_t bound);
        // After a run whose strings not standing in the call's text were in `kept`.
        void ranWith(const std::deque<std::string>& kept);
    };
    // A statement of a batch's text read in one pass, as the page writes it: its text first
    // and no key twice. Compiled at its text (or taken from `current`, when the text is the
    // same), bound as its parameters are read and run at its end; nothing, with nothing run,
    // when it is written otherwise (to be read again from its start) or its text cannot be read
    // (`unreadable`). Strings are bound in place: they stay in the call's text, or in `kept`,
    // until the statement has run. With `pieces`, its rows go ahead in runs.
    template <class Members>
    static std::optional<Outcome> runInOnePass(SQLiteConnection::Use& use, Members& members,
                                               RepeatedStatement& current,
                                               std::deque<std::string>& kept, bool& unreadable,
                                               RowPieces* pieces);
    static Outcome stepStatement(sqlite3* db, sqlite3_stmt* statement, RowPieces* pieces);
    static RowKeys rowKeys(sqlite3_stmt* statement);
    // Appends one row as an object; a name repeated among the columns takes its last column
    // that has a value.
    static void writeRow(std::string& out, sqlite3_stmt* statement, const RowKeys& keys);
    static Outcome sqliteFailure(sqlite3* db);
    // A statement stopped before its end, as SQLite answers one interrupted.
    static Outcome interrupted();
    // {"insertId" (when the statement changed rows and set one), "rows", "rowsAffected"}, built
    // around the rows: they move once, to make room for the head.
    static std::string resultText(Outcome&& outcome);
    // The answer to a batch, one entry per statement, written as the statements run (a batch
    // can hold many thousands of them): the text of an array, or why it could not be written.
    // With `pieces`, the rows of the first statement whose answer is long go ahead in runs.
    struct BatchReplies {
        std::string text = "[";
        std::optional<ns::Error> error;
        RowPieces* pieces = nullptr;
        // Entries written, and the one whose rows went ahead.
        size_t entries = 0;
        std::optional<size_t> piecedEntry;
        // The pieces for the next statement's rows, aimed at its entry; none once a statement's
        // rows went ahead.
        RowPieces* nextEntryPieces();
    };
    // Appends {"result": ..., "type": "success"} or {"error": e, "result": e, "type": "error"}.
    static void writeBatchEntry(BatchReplies& out, const Outcome& outcome);
    static void appendBatchEntry(BatchReplies& out, const Outcome& outcome);
    // The answer to the page: the array closed, or a log line and no message when an entry
    // could not be written (nothing the plug-in writes should fail).
    static std::shared_ptr<HYBPluginResult> batchResult(BatchReplies&& replies);
    void send(std::shared_ptr<HYBPluginResult> result, const HYBInvokedUrlCommand& command);
    // Sends the result of `answer`, which hands on runs of its answer's `member` array (with
    // no member, of the answer itself) ahead of it when the command delegate takes answers in
    // pieces, and is given none otherwise.
    void answerInPieces(const HYBInvokedUrlCommand& command, std::string_view member,
                        const std::function<std::shared_ptr<HYBPluginResult>(RowPieces*)>& answer);
    // Runs the member after the work already asked of the database that "dbargs" names, on
    // the command delegate's background queue (for a database that is not open: at once there).
    void onDatabaseQueue(void (SQLitePlugin::*work)(const HYBInvokedUrlCommand&),
                         const HYBInvokedUrlCommand& command);
    // Runs the member on the command delegate's background queue, keeping the plug-in alive.
    void inBackground(void (SQLitePlugin::*work)(const HYBInvokedUrlCommand&),
                      const HYBInvokedUrlCommand& command);

    std::map<std::string, std::string, std::less<>> appDBPaths_;
    // Held across each open, close and delete.
    dispatch::Mutex lifecycleMutex_;
    // Held for single look-ups and changes of the table.
    mutable dispatch::Mutex tableMutex_;
    std::map<std::string, std::shared_ptr<SQLiteConnection>, std::less<>> openDBs_
        GUARDED_BY(tableMutex_);
};
