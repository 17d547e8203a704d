#include "sdk/analytics/NEBASqliteStore.h"

#include <cmath>
#include <filesystem>
#include <set>

#include "platform/ns/FileManager.h"
#include "platform/ns/Format.h"
#include "platform/ns/StringComponents.h"
#include "sdk/analytics/NEBAMonitor.h"
#include "sdk/analytics/NSError+NEBAAdditions.h"

namespace {

// The kinds a record may hold: data, numbers, text and null.
bool isBindable(const ns::Value& value) {
    return value.isData() || value.isBool() || value.type() == ns::Value::Type::Integer ||
           value.isDouble() || value.isString() || value.isNull();
}

bool isDamage(int code) {
    code &= 0xff;
    return code == SQLITE_CORRUPT || code == SQLITE_NOTADB;
}

constexpr const char* kJournalSuffixes[] = {"-journal", "-wal", "-shm"};
// The journal files that hold data of their database file; the shared-memory index is derived.
constexpr const char* kDataJournalSuffixes[] = {"-journal", "-wal"};
constexpr const char* kDamagedSuffix = ".damaged";

// Puts `source` at `target`, replacing what is there.
ns::Status moveReplacing(const std::string& source, const std::string& target) {
    auto& files = ns::FileManager::defaultManager();
    if (files.fileExists(target)) {
        if (auto removed = files.removeItem(target); !removed) return removed;
    }
    return files.moveItem(source, target);
}

// The journal files of the database file at `path`, which is gone (set aside, or never
// finished), beside its copy.
ns::Status setAsideJournalFiles(const std::string& path) {
    auto& files = ns::FileManager::defaultManager();
    const std::string aside = path + kDamagedSuffix;
    for (const char* suffix : kDataJournalSuffixes) {
        if (!files.fileExists(path + suffix)) continue;
        if (auto moved = moveReplacing(path + suffix, aside + suffix); !moved) return moved;
    }
    if (files.fileExists(path + "-shm")) return files.removeItem(path + "-shm");
    return {};
}

}  // namespace

// --- Statement lease ---------------------------------------------------------------------

NEBASqliteStore::Statement::Statement(sqlite3_stmt* statement, CachedStatement* cached)
    : statement_(statement), cached_(cached) {}

NEBASqliteStore::Statement::Statement(Statement&& other) noexcept
    : statement_(std::exchange(other.statement_, nullptr)),
      cached_(std::exchange(other.cached_, nullptr)),
      store_(std::exchange(other.store_, nullptr)),
      textInCache_(std::move(other.textInCache_)) {}

NEBASqliteStore::Statement& NEBASqliteStore::Statement::operator=(Statement&& other) noexcept {
    if (this != &other) {
        release();
        statement_ = std::exchange(other.statement_, nullptr);
        cached_ = std::exchange(other.cached_, nullptr);
        store_ = std::exchange(other.store_, nullptr);
        textInCache_ = std::move(other.textInCache_);
    }
    return *this;
}

NEBASqliteStore::Statement::~Statement() {
    release();
}

void NEBASqliteStore::Statement::release() {
    if (!statement_) return;
    if (cached_ && !cached_->retired) {
        // Kept for the next use of the same text.
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
        cached_->inUse = false;
    } else if (cached_) {
        cached_->statement.reset();
        cached_->inUse = false;
    } else if (store_) {
        store_->endStatementBesideCache(statement_, textInCache_);
    } else {
        sqlite3_finalize(statement_);
    }
    statement_ = nullptr;
    cached_ = nullptr;
    store_ = nullptr;
    textInCache_.clear();
}

// --- Life cycle ------------------------------------------------------------------------

NEBASqliteStore::NEBASqliteStore(std::string path) : databasePath_(std::move(path)) {}

NEBASqliteStore::~NEBASqliteStore() {
    closeDatabase();
}

std::unique_ptr<NEBASqliteStore> NEBASqliteStore::initWithDatabasePath(const std::string& path) {
    if (path.empty()) {
        NEBAMonitor::warning("Received empty database path on init");
        return nullptr;
    }
    auto store = std::make_unique<NEBASqliteStore>(path);
    auto opened = store->openAndValidateDatabase();
    if (opened) return store;
    // Only a damaged file is thrown away: a busy, full or failing disk keeps its data for a
    // later attempt.
    if (!store->lastOpenFoundDamage()) {
        NEBAMonitor::error("Failed to open database. Error", {opened.error()});
        return nullptr;
    }
    store->closeDatabase();
    auto aside = setAsideDamagedDatabaseFile(path);
    if (!aside) {
        NEBAMonitor::error("Failed to set the damaged database file aside. Error", {aside.error()});
        return nullptr;
    }
    // Its unsent events go with it: the line says where they are.
    NEBAMonitor::error(
        "Database file is damaged; set aside for diagnosis and started anew. Copy, "
        "error",
        {ns::Value(*aside), opened.error()});
    auto reopened = store->openAndValidateDatabase();
    if (!reopened) {
        NEBAMonitor::error("Failed to recreate database file. Error", {reopened.error()});
        return nullptr;
    }
    return store;
}

ns::Result<std::string> NEBASqliteStore::setAsideDamagedDatabaseFile(const std::string& path) {
    auto& files = ns::FileManager::defaultManager();
    const std::string aside = path + kDamagedSuffix;
    // The journal files of the copy being replaced must not be taken for the new copy's.
    for (const char* suffix : kJournalSuffixes) {
        if (!files.fileExists(aside + suffix)) continue;
        if (auto removed = files.removeItem(aside + suffix); !removed) return removed.error();
    }
    if (files.fileExists(path)) {
        if (auto moved = moveReplacing(path, aside); !moved) return moved.error();
    }
    if (auto moved = setAsideJournalFiles(path); !moved) return moved.error();
    return aside;
}

ns::Status NEBASqliteStore::openOnce() {
    auto& files = ns::FileManager::defaultManager();
    if (!files.fileExists(databasePath_)) {
        // Journal files without their database file belong to a copy set aside by a process
        // that died before it had moved them too.
        if (auto moved = setAsideJournalFiles(databasePath_); !moved) return moved.error();
        auto parent = std::filesystem::path(databasePath_).parent_path().string();
        if (!parent.empty()) {
            auto made = files.createDirectory(parent, true);
            if (!made) return made.error();
        }
    }
    int rc = sqlite3_open_v2(databasePath_.c_str(), &db_,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        lastOpenFoundDamage_ = isDamage(rc);
        ns::Error error = db_ ? databaseError("initialize sqlite handle")
                              : neba_errorWithCode(NEBADomainCode::Database,
                                                   "Database operation \"initialize sqlite "
                                                   "handle\" failed");
        closeDatabase();
        return error;
    }
    // Temporary tables and indices of sorts stay in memory: nothing of them must reach disk.
    sqlite3_exec(db_, "PRAGMA temp_store=MEMORY", nullptr, nullptr, nullptr);
    auto excluded = files.setExcludedFromBackup(databasePath_, true);
    if (!excluded)
        NEBAMonitor::warning("Failed to exclude database file from backup", {excluded.error()});
    auto valid = validateDatabase();
    if (!valid) {
        // A damaged file is left as it was found: closing would otherwise copy its write-ahead
        // log into it, writing into pages that cannot be trusted.
        if (lastOpenFoundDamage_) {
            sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        }
        closeDatabase();
        return valid.error();
    }
    useWriteAheadLog();
    return {};
}

void NEBASqliteStore::useWriteAheadLog() {
    // Every bundle, upload and logged event is its own transaction. With a write-ahead log a
    // commit appends to one file and syncs nothing; the log reaches the database at its
    // checkpoints, which do sync. A killed process loses no committed transaction (the log
    // holds it); a power cut may take back the last few commits, whole, never part of one.
    // A file system that cannot share the log's index between connections keeps the rollback
    // journal with full syncs, which is as safe and only slower.
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_, "PRAGMA journal_mode=WAL", -1, &raw, nullptr) != SQLITE_OK) return;
    StatementPtr statement(raw);
    if (sqlite3_step(statement.get()) != SQLITE_ROW) return;
    const auto* mode = sqlite3_column_text(statement.get(), 0);
    if (!mode || std::string_view(reinterpret_cast<const char*>(mode)) != "wal") return;
    sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
}

ns::Status NEBASqliteStore::openAndValidateDatabase() {
    lastOpenFoundDamage_ = false;
    return openOnce();
}

ns::Status NEBASqliteStore::validateDatabase() {
    if (!db_) return neba_stateError("Validate database failed. Database not open.");
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(db_, "PRAGMA integrity_check", -1, &raw, nullptr);
    StatementPtr statement(raw);
    if (rc != SQLITE_OK) {
        lastOpenFoundDamage_ = isDamage(rc);
        return databaseError("validate database");
    }
    rc = sqlite3_step(statement.get());
    if (rc == SQLITE_ROW && sqlite3_column_count(statement.get()) == 1) {
        const auto* text = sqlite3_column_text(statement.get(), 0);
        if (text && std::string_view(reinterpret_cast<const char*>(text)) == "ok") return {};
        // The check ran and found the file damaged.
        lastOpenFoundDamage_ = true;
    } else {
        lastOpenFoundDamage_ = isDamage(rc);
    }
    return databaseError("validate database");
}

void NEBASqliteStore::closeDatabase() {
    if (!db_) return;
    finalizeAndClearStatements();
    // A statement still lent out keeps the connection until its lease finalizes it.
    int rc = sqlite3_close_v2(db_);
    if (rc != SQLITE_OK)
        NEBAMonitor::warning("Failed to close database. Got error code", {ns::Value(rc)});
    db_ = nullptr;
}

void NEBASqliteStore::finalizeAndClearStatements() {
    for (auto it = statementCache_.begin(); it != statementCache_.end();) {
        if (it->second.inUse) {
            // Its lease is still reading it: the lease finalizes it when it ends.
            it->second.retired = true;
            ++it;
        } else {
            it = statementCache_.erase(it);
        }
    }
}

// --- Tables ----------------------------------------------------------------------------

ns::Status NEBASqliteStore::ensureTableWithName(const std::string& table,
                                                const std::string& createSQL,
                                                const std::vector<std::string>& requiredColumnNames,
                                                const AddOnColumns& addOnColumns) {
    if (table.empty()) return neba_argumentError("Received empty table name for ensure table");
    if (requiredColumnNames.empty())
        return neba_argumentError("Received no table columns for ensure table");
    if (createSQL.empty())
        return neba_argumentError("Received empty create statement for ensure table");
    if (!db_) return neba_stateError("Ensure table failed. Database not open.");
    auto exists = tableExists(table);
    if (!exists) return exists.error();
    if (!*exists) {
        auto created = executeSQL(createSQL);
        if (!created) return created;
    }
    auto valid = validateTableWithName(table, requiredColumnNames, addOnColumns);
    if (!valid) return valid.error();
    if (!*valid) return neba_stateError("Table is missing required columns");
    return {};
}

ns::Result<bool> NEBASqliteStore::validateTableWithName(
    const std::string& table, const std::vector<std::string>& requiredColumnNames,
    const AddOnColumns& addOnColumns) {
    if (table.empty()) return neba_argumentError("Received empty table name for validate table");
    if (requiredColumnNames.empty())
        return neba_argumentError("Received no table columns for validate table");
    if (!db_) return neba_stateError("Validate table failed. Database not open.");
    auto columns = columnsForTableWithName(table);
    if (!columns) return columns.error();
    if (columns->empty()) return neba_stateError("Table has no columns");
    std::set<std::string> existing(columns->begin(), columns->end());
    for (const auto& name : requiredColumnNames) {
        if (!existing.count(name)) return neba_stateError("Table is missing required columns");
    }
    std::set<std::string> extra = existing;
    for (const auto& name : requiredColumnNames) extra.erase(name);
    for (const auto& [name, alter] : addOnColumns) {
        if (extra.erase(name)) continue;
        if (alter.empty())
            return neba_argumentError("Received empty alter statement for add-on column");
        auto altered = executeSQL(alter);
        if (!altered) return altered.error();
    }
    if (extra.empty()) return true;
    // Columns of a later version are accepted as long as rows can be written without them.
    auto statement = prepareSQL(ns::format("PRAGMA table_info(%@)", table));
    if (!statement) return statement.error();
    int rc;
    while ((rc = sqlite3_step(statement->get())) == SQLITE_ROW) {
        const auto* name = sqlite3_column_text(statement->get(), 1);
        if (!name) continue;
        if (extra.count(reinterpret_cast<const char*>(name)) &&
            sqlite3_column_int(statement->get(), 3) != 0) {
            return neba_stateError("Table contains unknown non-optional columns");
        }
    }
    if (rc != SQLITE_DONE) return databaseError("validate table");
    return true;
}

ns::Result<bool> NEBASqliteStore::tableExists(const std::string& table) {
    if (table.empty()) return neba_argumentError("Received empty table name for table exists");
    if (!db_) return neba_stateError("Table exists failed. Database not open.");
    auto statement = statementForQuery(
        "SELECT name FROM sqlite_master WHERE type='table' AND name=?", {ns::Value(table)});
    if (!statement) return statement.error();
    int rc = sqlite3_step(statement->get());
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    return databaseError("table exists");
}

ns::Result<std::vector<std::string>> NEBASqliteStore::columnsForTableWithName(
    const std::string& table) {
    if (table.empty()) return neba_argumentError("Received empty table name for column info");
    if (!db_) return neba_stateError("Get table columns failed. Database not open.");
    auto statement = statementForQuery(ns::format("PRAGMA table_info(%@)", table));
    if (!statement) return statement.error();
    std::vector<std::string> names;
    int rc;
    while ((rc = sqlite3_step(statement->get())) == SQLITE_ROW) {
        const auto* name = sqlite3_column_text(statement->get(), 1);
        if (name) names.emplace_back(reinterpret_cast<const char*>(name));
    }
    if (rc != SQLITE_DONE) return databaseError("column info");
    return names;
}

// --- Counting and reading --------------------------------------------------------------

ns::Result<ns::Value> NEBASqliteStore::rowCountForTableWithName(const std::string& table,
                                                                const std::string& columnName,
                                                                const std::string& columnValue) {
    if (table.empty()) return neba_argumentError("Received empty table name for row count");
    if (!db_) return neba_stateError("Row count failed. Database not open.");
    auto sql = ns::format("SELECT count(1) FROM %@", table);
    Values values;
    if (!columnName.empty() && !columnValue.empty()) {
        sql += ns::format(" WHERE %@=?", columnName);
        values.emplace_back(columnValue);
    }
    return numberForQuery(sql, values);
}

ns::Result<ns::Value> NEBASqliteStore::numberForQuery(const std::string& sql,
                                                      const Values& values) {
    if (sql.empty()) return neba_argumentError("Received empty query to get numeric result");
    if (!db_) return neba_stateError("Query numeric result failed. Database not open.");
    auto statement = statementForQuery(sql, values);
    if (!statement) return statement.error();
    if (sqlite3_step(statement->get()) != SQLITE_ROW) return databaseError("query numeric result");
    auto value = valueAtColumn(0, statement->get());
    if (!value || value->isNull()) return ns::Value();
    if (!value->isNumber()) return neba_argumentError("Found result that was not numeric");
    return *value;
}

ns::Result<std::vector<NEBASqliteStore::Record>> NEBASqliteStore::recordsForQuery(
    const std::string& sql, const Values& values) {
    return recordsForQuery(sql, values, [](size_t, const Record&) { return true; });
}

ns::Result<std::vector<NEBASqliteStore::Record>> NEBASqliteStore::recordsForQuery(
    const std::string& sql, const Values& values, const RecordFilter& filter) {
    if (sql.empty()) return neba_argumentError("Received empty query for records for query");
    if (!filter) return neba_argumentError("Received empty filter for selecting records");
    if (!db_) return neba_stateError("Query records failed. Database not open.");
    if (ns::asciiLowercased(sql.substr(0, 6)) != "select")
        return neba_argumentError("Received invalid select query");
    auto statement = statementForQuery(sql, values);
    if (!statement) return statement.error();
    auto* stmt = statement->get();
    std::vector<Record> records;
    size_t rows = 0;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        Record record;
        int columns = sqlite3_column_count(stmt);
        record.reserve(static_cast<size_t>(columns));
        for (int i = 0; i < columns; ++i) {
            const char* name = sqlite3_column_name(stmt, i);
            if (!name) {
                NEBAMonitor::warning("Failed to get column name");
                continue;
            }
            auto value = valueAtColumn(i, stmt);
            if (!value) {
                NEBAMonitor::warning("Value is nil for column", {ns::Value(name)});
                continue;
            }
            record.appendUnsorted(name, std::move(*value));
        }
        record.finishAppending();
        if (!filter(rows++, record)) {
            rc = SQLITE_DONE;
            break;
        }
        records.push_back(std::move(record));
    }
    // A read cut short by an error is not a shorter answer.
    if (rc != SQLITE_DONE) return databaseError("query records");
    if (rows > 0 && records.empty()) {
        NEBAMonitor::warning("Database contains records that were all filtered out");
    }
    return records;
}

// --- Writing ---------------------------------------------------------------------------

ns::Result<NEBASqliteStore::Statement> NEBASqliteStore::upsertStatementForRecord(
    const Record& record, const std::string& table) {
    if (table.empty()) return neba_argumentError("Received empty table name for upsert");
    if (record.empty()) return neba_argumentError("Received empty record for upsert");
    std::string sql = "INSERT OR REPLACE INTO " + table + " (";
    for (const auto& [name, value] : record) {
        if (!isBindable(value)) {
            NEBAMonitor::warning("Record has value of unexpected type");
            return neba_argumentError("Record has value of unexpected type");
        }
        sql += name;
        sql += ", ";
    }
    sql.replace(sql.size() - 2, 2, ") VALUES (");
    for (size_t i = 0; i < record.size(); ++i) sql += i + 1 < record.size() ? "?, " : "?);";
    // A record's columns come out in name order, so one set of columns always makes the same
    // text: the statement is kept and reused like any other with placeholders.
    auto statement = statementForQuery(sql, {}, true);
    if (!statement) return statement.error();
    auto bound = bindRecord(record, statement->get());
    if (!bound) return bound.error();
    return statement;
}

ns::Result<NEBASqliteStore::Statement> NEBASqliteStore::updateStatementForRecord(
    const Record& record, const std::string& table, const std::string& columnName,
    const std::string& columnValue) {
    if (record.empty()) return neba_argumentError("Empty record for update");
    if (table.empty()) return neba_argumentError("Empty table name for update");
    if (columnName.empty()) return neba_argumentError("Empty column name for update");
    if (columnValue.empty()) return neba_argumentError("Empty column value for update");
    std::string set;
    Values values;
    for (const auto& [name, value] : record) {
        if (!isBindable(value)) {
            NEBAMonitor::warning("Record has value of unexpected type (update)");
            return neba_argumentError(
                "Failed to bind parameter of unexpected type to update statement");
        }
        set += name + "=?,";
        values.push_back(value);
    }
    set.pop_back();
    values.emplace_back(columnValue);
    return statementForQuery(ns::format("UPDATE %@ SET %@ WHERE %@=?", table, set, columnName),
                             values);
}

ns::Status NEBASqliteStore::upsertRecord(const Record& record, const std::string& table) {
    if (!db_) return neba_stateError("Upsert record failed. Database not open.");
    auto statement = upsertStatementForRecord(record, table);
    if (!statement) return statement.error();
    if (sqlite3_step(statement->get()) != SQLITE_DONE) return databaseError("execute statement");
    return {};
}

ns::Status NEBASqliteStore::updateRecord(const Record& record, const std::string& table,
                                         const std::string& columnName,
                                         const std::string& columnValue) {
    if (!db_) return neba_stateError("Update record failed. Database not open.");
    auto statement = updateStatementForRecord(record, table, columnName, columnValue);
    if (!statement) return statement.error();
    if (sqlite3_step(statement->get()) != SQLITE_DONE) return databaseError("execute statement");
    return {};
}

ns::Status NEBASqliteStore::deleteRecordFromTableWithName(const std::string& table,
                                                          const std::string& columnName,
                                                          const std::string& columnValue) {
    if (table.empty()) return neba_argumentError("Received empty table name for delete record");
    if (columnName.empty()) return neba_argumentError("Received empty column for delete record");
    if (columnValue.empty()) return neba_argumentError("Received empty value for delete record");
    if (!db_) return neba_stateError("Delete record failed. Database not open.");
    auto statement = prepareSQL(ns::format("DELETE FROM %@ WHERE %@=?", table, columnName));
    if (!statement) return statement.error();
    auto bound = bindValues({ns::Value(columnValue)}, statement->get());
    if (!bound) return bound;
    if (sqlite3_step(statement->get()) != SQLITE_DONE) return databaseError("delete record");
    return {};
}

ns::Result<int64_t> NEBASqliteStore::deleteRecordsFromTableWithName(const std::string& table,
                                                                    const std::string& condition,
                                                                    const Values& values) {
    if (table.empty()) return neba_argumentError("Received empty table name for delete record");
    if (condition.empty()) return neba_argumentError("Received empty condition for delete record");
    if (!db_) return neba_stateError("Delete records with condition failed. Database not open.");
    auto statement =
        statementForQuery(ns::format("DELETE FROM %@ WHERE %@", table, condition), values);
    if (!statement) return statement.error();
    if (sqlite3_step(statement->get()) != SQLITE_DONE) {
        return databaseError("delete records with condition");
    }
    return static_cast<int64_t>(sqlite3_changes(db_));
}

ns::Status NEBASqliteStore::deleteAllRecordsFromTableWithName(const std::string& table) {
    if (table.empty())
        return neba_argumentError("Received empty table name for delete all records");
    if (!db_) return neba_stateError("Delete all records failed. Database not open.");
    auto statement = statementForQuery(ns::format("DELETE FROM %@", table));
    if (!statement) return statement.error();
    if (sqlite3_step(statement->get()) != SQLITE_DONE) return databaseError("delete all records");
    return {};
}

// --- Transactions ----------------------------------------------------------------------

bool NEBASqliteStore::beginTransaction() {
    if (!db_) {
        NEBAMonitor::error("Begin transaction failed. Database not open");
        return false;
    }
    return sqlite3_exec(db_, "BEGIN EXCLUSIVE TRANSACTION", nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool NEBASqliteStore::endTransaction() {
    if (!db_) {
        NEBAMonitor::error("End transaction failed. Database not open");
        return false;
    }
    return sqlite3_exec(db_, "END TRANSACTION", nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool NEBASqliteStore::rollbackTransaction() {
    if (!db_) {
        NEBAMonitor::error("Rollback transaction failed. Database not open");
        return false;
    }
    return sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool NEBASqliteStore::performTransaction(const std::function<bool()>& block) {
    if (!block) {
        NEBAMonitor::error("Received nil transaction block");
        return false;
    }
    if (!db_) {
        NEBAMonitor::error("Perform transaction failed. Database not open");
        return false;
    }
    if (!beginTransaction()) {
        NEBAMonitor::error("Failed to begin transaction");
        return false;
    }
    bool committed;
    try {
        committed = block();
    } catch (...) {
        if (!rollbackTransaction())
            NEBAMonitor::error("Failed to rollback transaction after exception");
        throw;
    }
    if (committed) {
        if (endTransaction()) return true;
        NEBAMonitor::error("Failed to end transaction");
        // A commit that fails (a full disk) leaves the transaction open; close it so that the
        // next one can begin.
        if (!sqlite3_get_autocommit(db_)) rollbackTransaction();
        return false;
    }
    NEBAMonitor::log(NEBALogLevel::ErrorNotSampled, "Transaction failed");
    if (!rollbackTransaction()) NEBAMonitor::error("Failed to rollback transaction");
    return false;
}

// --- Statements ------------------------------------------------------------------------

ns::Result<NEBASqliteStore::Statement> NEBASqliteStore::statementForQuery(const std::string& sql,
                                                                          const Values& values) {
    return statementForQuery(sql, values, false);
}

ns::Result<NEBASqliteStore::Statement> NEBASqliteStore::statementForQuery(const std::string& sql,
                                                                          const Values& values,
                                                                          bool bindsLater) {
    auto cached = statementCache_.find(sql);
    if (cached != statementCache_.end() && cached->second.retired && !cached->second.inUse) {
        // What the lease of a closed connection's statement left behind.
        statementCache_.erase(cached);
        cached = statementCache_.end();
    }
    Statement lease;
    if (cached != statementCache_.end() && !cached->second.inUse) {
        cached->second.inUse = true;
        cached->second.lastUse = ++useCounter_;
        lease = Statement(cached->second.statement.get(), &cached->second);
    } else {
        auto prepared = prepareLease(sql, values, bindsLater, cached != statementCache_.end());
        if (!prepared) return prepared.error();
        lease = std::move(*prepared);
    }
    if (!values.empty()) {
        auto bound = bindValues(values, lease.get());
        if (!bound) return bound.error();
    }
    return lease;
}

ns::Result<NEBASqliteStore::Statement> NEBASqliteStore::prepareLease(const std::string& sql,
                                                                     const Values& values,
                                                                     bool bindsLater,
                                                                     bool textInCache) {
    if (!db_) return neba_stateError("Statement for query failed. Database not open.");
    bool cache;
    if (sql.find('?') != std::string::npos) {
        if (values.empty() && !bindsLater) return neba_argumentError("Received empty parameters");
        cache = true;
    } else {
        cache = ns::asciiLowercased(sql).find("where") == std::string::npos;
    }
    auto prepared = prepareSQL(sql);
    if (!prepared) return prepared.error();
    if (textInCache) {
        // A statement of the same text that is still being read is not shared.
        Statement lease(prepared->release(), nullptr);
        lease.store_ = this;
        lease.textInCache_ = sql;
        return lease;
    }
    if (!cache) return Statement(prepared->release(), nullptr);
    CachedStatement& entry = cacheStatement(sql, std::move(*prepared));
    return Statement(entry.statement.get(), &entry);
}

void NEBASqliteStore::endStatementBesideCache(sqlite3_stmt* statement, const std::string& sql) {
    auto cached = statementCache_.find(sql);
    if (cached != statementCache_.end() && cached->second.statement &&
        cached->second.statement.get() != statement) {
        NEBAMonitor::warning("Statement is not the same one in the cache");
    }
    sqlite3_finalize(statement);
}

NEBASqliteStore::CachedStatement& NEBASqliteStore::cacheStatement(const std::string& sql,
                                                                  StatementPtr statement) {
    if (statementCache_.size() >= kStatementCacheCapacity) {
        auto oldest = statementCache_.end();
        for (auto it = statementCache_.begin(); it != statementCache_.end(); ++it) {
            if (it->second.inUse) continue;
            if (oldest == statementCache_.end() || it->second.lastUse < oldest->second.lastUse) {
                oldest = it;
            }
        }
        if (oldest != statementCache_.end()) statementCache_.erase(oldest);
    }
    auto& entry = statementCache_[sql];
    entry = CachedStatement{std::move(statement), ++useCounter_, true};
    return entry;
}

ns::Result<NEBASqliteStore::StatementPtr> NEBASqliteStore::prepareSQL(const std::string& sql) {
    if (sql.empty()) return neba_argumentError("Received empty SQL string to prepare");
    if (!db_) return neba_stateError("Prepare SQL failed. Database not open.");
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &raw, &tail);
    StatementPtr statement(raw);
    if (rc != SQLITE_OK) return databaseError("prepare statement");
    if (tail && *tail) {
        // Trailing blanks are no second statement.
        std::string_view rest(tail);
        if (rest.find_first_not_of(" \t\r\n") != std::string_view::npos) {
            return neba_argumentError("Query contained more than one SQL statement.");
        }
    }
    if (!statement) return neba_argumentError("Received empty SQL string to prepare");
    return statement;
}

ns::Status NEBASqliteStore::bindValues(const Values& values, sqlite3_stmt* statement) {
    if (!statement) return neba_argumentError("Failed to bind to NULL statement");
    sqlite3_clear_bindings(statement);
    bool ok = true;
    for (size_t i = 0; i < values.size(); ++i) {
        ok = bindValue(values[i], static_cast<int>(i + 1), statement) && ok;
    }
    if (!ok) return databaseError("bind values");
    return {};
}

ns::Status NEBASqliteStore::bindRecord(const Record& record, sqlite3_stmt* statement) {
    if (!statement) return neba_argumentError("Failed to bind to NULL statement");
    bool ok = true;
    int index = 0;
    for (const auto& [name, value] : record) ok = bindValue(value, ++index, statement) && ok;
    if (!ok) return databaseError("bind values");
    return {};
}

bool NEBASqliteStore::bindValue(const ns::Value& value, int index, sqlite3_stmt* statement) {
    static const uint8_t kNoBytes = 0;
    int rc = SQLITE_MISUSE;
    if (const auto* data = value.data()) {
        // SQLite copies the bytes: the record may go before the statement runs. An empty
        // blob is bound as an empty blob, never as NULL.
        rc = sqlite3_bind_blob64(statement, index, data->empty() ? &kNoBytes : data->bytes(),
                                 data->length(), SQLITE_TRANSIENT);
    } else if (value.isBool()) {
        rc = sqlite3_bind_int64(statement, index, value.boolValue() ? 1 : 0);
    } else if (value.type() == ns::Value::Type::Integer) {
        rc = sqlite3_bind_int64(statement, index, *value.int64());
    } else if (value.isDouble()) {
        rc = sqlite3_bind_double(statement, index, value.doubleValue());
    } else if (const auto* text = value.string()) {
        rc = sqlite3_bind_text64(statement, index, text->data(), text->size(), SQLITE_TRANSIENT,
                                 SQLITE_UTF8);
    } else if (value.isNull()) {
        rc = sqlite3_bind_null(statement, index);
    }
    return rc == SQLITE_OK;
}

ns::Status NEBASqliteStore::executeSQL(const std::string& sql) {
    if (sql.empty()) return neba_argumentError("Received empty SQL string to execute");
    if (!db_) return neba_stateError("Execute SQL failed. Database not open.");
    auto statement = prepareSQL(sql);
    if (!statement) return statement.error();
    return executeSQLStatement(std::move(*statement));
}

ns::Status NEBASqliteStore::executeSQLStatement(StatementPtr statement) {
    if (!statement) return neba_argumentError("Execute SQL statement failed. Statement is NULL.");
    if (!db_) return neba_stateError("Execute SQL statement failed. Database not open.");
    if (sqlite3_step(statement.get()) != SQLITE_DONE) return databaseError("execute statement");
    return {};
}

std::optional<ns::Value> NEBASqliteStore::valueAtColumn(int column, sqlite3_stmt* statement) {
    if (!statement) return std::nullopt;
    switch (sqlite3_column_type(statement, column)) {
        case SQLITE_INTEGER:
            return ns::Value(static_cast<long long>(sqlite3_column_int64(statement, column)));
        case SQLITE_FLOAT:
            return ns::Value(sqlite3_column_double(statement, column));
        case SQLITE_TEXT: {
            const auto* text = sqlite3_column_text(statement, column);
            if (!text) return std::nullopt;
            return ns::Value(
                std::string(reinterpret_cast<const char*>(text),
                            static_cast<size_t>(sqlite3_column_bytes(statement, column))));
        }
        case SQLITE_BLOB: {
            const void* bytes = sqlite3_column_blob(statement, column);
            if (!bytes) return std::nullopt;
            return ns::Value(
                ns::Data(bytes, static_cast<size_t>(sqlite3_column_bytes(statement, column))));
        }
        case SQLITE_NULL:
            return ns::Value();
        default:
            return std::nullopt;
    }
}

// --- Diagnostics -----------------------------------------------------------------------

std::optional<std::string> NEBASqliteStore::lastErrorMessage() const {
    if (!db_) {
        NEBAMonitor::error("Failed to get last error message. Database not open");
        return std::nullopt;
    }
    return std::string(sqlite3_errmsg(db_));
}

std::optional<std::string> NEBASqliteStore::errorDescriptionForDatabaseOperation(
    std::string_view operation) const {
    if (!db_) return std::nullopt;
    return ns::format(
        "Database operation \"%@\" failed with sqlite code %d and error message \"%@\"",
        std::string(operation), sqlite3_errcode(db_), *lastErrorMessage());
}

std::string NEBASqliteStore::monitorContextForDatabaseOperation(std::string_view operation) const {
    std::string context =
        operation.empty() ? std::string("Unknown operation") : std::string(operation);
    context += "," + std::to_string(db_ ? sqlite3_errcode(db_) : 0);
    // This system has no per-file protection classes: the data is always available.
    auto& files = ns::FileManager::defaultManager();
    context += files.attributesOfItem(databasePath_) ? ",A" : ",";
    auto volume =
        files.attributesOfFileSystem(std::filesystem::path(databasePath_).parent_path().string());
    if (!volume) return context + ",";
    uint64_t freeMiB = volume->freeSize >> 20;
    if (freeMiB == 0) return context + ",-1";
    int bucket = 0;
    for (uint64_t v = freeMiB; v >= 10; v /= 10) ++bucket;
    return context + "," + std::to_string(bucket);
}

ns::Error NEBASqliteStore::databaseError(std::string_view operation) const {
    auto description = errorDescriptionForDatabaseOperation(operation);
    return neba_errorWithCode(
        NEBADomainCode::Database,
        description ? *description
                    : ns::format("Database operation \"%@\" failed", std::string(operation)),
        monitorContextForDatabaseOperation(operation));
}
