#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ns/Result.h"
#include "platform/ns/Value.h"

// The generic layer between the analytics database and SQLite: one file, proved sound by an
// integrity check at open, tables created and migrated from a CREATE text plus required and
// add-on columns, and insert-or-replace, update, delete, count and select statements built
// from table names, column names and records (column name -> value). Every failure is an
// analytics error: code 1 a bad argument, 2 a wrong state, 3 a failure SQLite reported.
//
// Not thread-safe: one serial queue makes every call.
class NEBASqliteStore {
public:
    using Record = ns::Dictionary;
    using Values = std::vector<ns::Value>;
    // Called with the row index and the record; false ends the read without keeping the row.
    using RecordFilter = std::function<bool(size_t, const Record&)>;
    // Column name -> ALTER text, in the order they are applied.
    using AddOnColumns = std::vector<std::pair<std::string, std::string>>;

    struct StatementFinalizer {
        void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
    };
    using StatementPtr = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

    struct CachedStatement;
    // A prepared statement lent by the store: a cached one is reset and unbound when the lease
    // ends, any other is finalized. A lease ends before its store does; it may outlive the
    // store's connection (closed or reopened meanwhile), and then finalizes its statement.
    class Statement {
    public:
        Statement() = default;
        Statement(Statement&& other) noexcept;
        Statement& operator=(Statement&& other) noexcept;
        ~Statement();
        sqlite3_stmt* get() const { return statement_; }

    private:
        friend class NEBASqliteStore;
        // `cached` is the cache's entry of the statement, or null for one the lease owns.
        Statement(sqlite3_stmt* statement, CachedStatement* cached);
        void release();
        sqlite3_stmt* statement_ = nullptr;
        CachedStatement* cached_ = nullptr;
        // An owned statement lent while the cache held another of the same text: the store
        // and that text, to say so when the lease ends.
        NEBASqliteStore* store_ = nullptr;
        std::string textInCache_;
    };

    // Opens and validates the file; a file SQLite calls damaged (or that fails the integrity
    // check) is logged, set aside with its journal files (setAsideDamagedDatabaseFile) and
    // made anew, once. Null when the path is empty, when the file cannot be opened for another
    // reason (busy, I/O, full, memory: the data is kept for a later attempt), or when the new
    // file fails too.
    static std::unique_ptr<NEBASqliteStore> initWithDatabasePath(const std::string& path);
    // Keeps a damaged database file for diagnosis as "<path>.damaged", in place of an earlier
    // one, with its write-ahead log and rollback journal beside it under that name (so that the
    // copy opens as the damaged file was); the shared-memory index goes. The journal files
    // follow the file: a process that dies in between leaves them to the next open, which sets
    // them aside before it makes a new file (a new file must never meet an old journal).
    // Answers the path of the copy.
    static ns::Result<std::string> setAsideDamagedDatabaseFile(const std::string& path);
    explicit NEBASqliteStore(std::string path);
    ~NEBASqliteStore();
    NEBASqliteStore(const NEBASqliteStore&) = delete;
    NEBASqliteStore& operator=(const NEBASqliteStore&) = delete;

    const std::string& databasePath() const { return databasePath_; }
    sqlite3* sqliteHandle() const { return db_; }

    ns::Status openAndValidateDatabase();
    ns::Status validateDatabase();
    // A statement still lent out stays usable until its lease ends (the connection closes
    // once the last of them is finalized).
    void closeDatabase();
    void finalizeAndClearStatements();
    // Whether the last failed open found the file damaged (rather than busy, full ...).
    bool lastOpenFoundDamage() const { return lastOpenFoundDamage_; }

    ns::Status ensureTableWithName(const std::string& table, const std::string& createSQL,
                                   const std::vector<std::string>& requiredColumnNames,
                                   const AddOnColumns& addOnColumns);
    ns::Result<bool> validateTableWithName(const std::string& table,
                                           const std::vector<std::string>& requiredColumnNames,
                                           const AddOnColumns& addOnColumns);
    ns::Result<bool> tableExists(const std::string& table);
    ns::Result<std::vector<std::string>> columnsForTableWithName(const std::string& table);

    // Null without error when the query's value is SQL NULL.
    ns::Result<ns::Value> rowCountForTableWithName(const std::string& table,
                                                   const std::string& columnName = {},
                                                   const std::string& columnValue = {});
    ns::Result<ns::Value> numberForQuery(const std::string& sql, const Values& values = {});
    ns::Result<std::vector<Record>> recordsForQuery(const std::string& sql,
                                                    const Values& values = {});
    ns::Result<std::vector<Record>> recordsForQuery(const std::string& sql, const Values& values,
                                                    const RecordFilter& filter);

    ns::Status upsertRecord(const Record& record, const std::string& table);
    ns::Status updateRecord(const Record& record, const std::string& table,
                            const std::string& columnName, const std::string& columnValue);
    ns::Status deleteRecordFromTableWithName(const std::string& table,
                                             const std::string& columnName,
                                             const std::string& columnValue);
    // The number of rows deleted.
    ns::Result<int64_t> deleteRecordsFromTableWithName(const std::string& table,
                                                       const std::string& condition,
                                                       const Values& values = {});
    ns::Status deleteAllRecordsFromTableWithName(const std::string& table);

    // Runs the block in one exclusive transaction: committed when it answers true, rolled back
    // when it answers false or throws (the exception then goes on to the caller).
    bool performTransaction(const std::function<bool()>& block);
    bool beginTransaction();
    bool endTransaction();
    bool rollbackTransaction();

    ns::Result<Statement> statementForQuery(const std::string& sql, const Values& values = {});
    ns::Result<StatementPtr> prepareSQL(const std::string& sql);
    ns::Status bindValues(const Values& values, sqlite3_stmt* statement);
    // Binds the record's values in its column order, without copying them.
    ns::Status bindRecord(const Record& record, sqlite3_stmt* statement);
    ns::Status executeSQL(const std::string& sql);
    ns::Status executeSQLStatement(StatementPtr statement);
    // None for an empty blob (a NULL blob pointer) or an unknown column type.
    static std::optional<ns::Value> valueAtColumn(int column, sqlite3_stmt* statement);

    std::optional<std::string> lastErrorMessage() const;
    std::optional<std::string> errorDescriptionForDatabaseOperation(
        std::string_view operation) const;
    std::string monitorContextForDatabaseOperation(std::string_view operation) const;
    // The code-3 error of a failed SQLite call.
    ns::Error databaseError(std::string_view operation) const;

    // The most statements kept prepared; the least recently used one goes first.
    static constexpr size_t kStatementCacheCapacity = 64;
    size_t cachedStatementCount() const { return statementCache_.size(); }

    // An entry of the statement cache (public only so that a lease can name it).
    struct CachedStatement {
        StatementPtr statement;
        uint64_t lastUse = 0;
        bool inUse = false;
        // The store let go of its statements while this one was lent: the lease finalizes it,
        // and the entry, then empty, goes at the next look-up.
        bool retired = false;
    };

private:
    // `bindsLater`: the caller binds the placeholders itself.
    ns::Result<Statement> statementForQuery(const std::string& sql, const Values& values,
                                            bool bindsLater);
    static bool bindValue(const ns::Value& value, int index, sqlite3_stmt* statement);
    CachedStatement& cacheStatement(const std::string& sql, StatementPtr statement);
    // A new statement for the text, kept in the cache when it can be reused and the text is not
    // there already (still lent out), else owned by its lease.
    ns::Result<Statement> prepareLease(const std::string& sql, const Values& values,
                                       bool bindsLater, bool textInCache);
    // The end of an owned statement lent while the cache held its text.
    void endStatementBesideCache(sqlite3_stmt* statement, const std::string& sql);
    ns::Result<Statement> upsertStatementForRecord(const Record& record, const std::string& table);
    ns::Result<Statement> updateStatementForRecord(const Record& record, const std::string& table,
                                                   const std::string& columnName,
                                                   const std::string& columnValue);
    ns::Status openOnce();
    // A write-ahead log with normal syncs where the file system allows one.
    void useWriteAheadLog();

    std::string databasePath_;
    sqlite3* db_ = nullptr;
    std::map<std::string, CachedStatement, std::less<>> statementCache_;
    uint64_t useCounter_ = 0;
    bool lastOpenFoundDamage_ = false;
};
