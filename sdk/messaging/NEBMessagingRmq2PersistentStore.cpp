#include "sdk/messaging/NEBMessagingRmq2PersistentStore.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/ns/Format.h"
#include "platform/ns/Sandbox.h"
#include "sdk/messaging/NEBMessagingLogger.h"
#include "sdk/messaging/NEBMessagingSyncMessageManager.h"
#include "sdk/messaging/NEBMessagingUtilities.h"
#include "sdk/messaging/NSError+NEBMessaging.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kCreateOutgoing =
    "create TABLE IF NOT EXISTS %@%@ (_id INTEGER PRIMARY KEY, rmq_id INTEGER, type INTEGER, ts "
    "INTEGER, data BLOB)";
constexpr const char* kCreateLastRmqId =
    "create TABLE IF NOT EXISTS %@%@ (_id INTEGER PRIMARY KEY, rmq_id INTEGER)";
constexpr const char* kCreateS2dRmqIds =
    "create TABLE IF NOT EXISTS %@%@ (_id INTEGER PRIMARY KEY, rmq_id TEXT)";
constexpr const char* kCreateSyncMessages =
    "create TABLE IF NOT EXISTS %@%@ (_id INTEGER PRIMARY KEY, rmq_id TEXT, expiration_ts "
    "INTEGER, apns_recv INTEGER, mcs_recv INTEGER)";
// Received messages wait here until delivered or expired; the id is unique, so that a copy the
// server sends again is recognised.
constexpr const char* kCreateUndeliveredS2dMessages =
    "create TABLE IF NOT EXISTS %@%@ (_id INTEGER PRIMARY KEY, rmq_id TEXT UNIQUE, data BLOB, "
    "expiration_ts INTEGER)";
// Files made before kept messages expired have the table without the column; their messages
// get the longest time to live from the moment the column is added.
constexpr const char* kAddUndeliveredExpiry =
    "ALTER TABLE undeliveredS2dMessages ADD COLUMN expiration_ts INTEGER";
constexpr int64_t kExpiryOfOlderKeptMessages =
    NEBMessagingSyncMessageManager::kDefaultExpirySeconds;
// Acknowledgements look rows up by rmq id; without the index each would read the whole table.
constexpr const char* kCreateOutgoingIndex =
    "CREATE INDEX IF NOT EXISTS outgoingRmqMessages_rmq_id ON outgoingRmqMessages (rmq_id)";
// The sweep of expired kept messages at each launch reads only those, however many wait.
// Received ids are looked up one at a time, as they arrive and as the server confirms them.
constexpr const char* kCreateS2dRmqIdIndex =
    "CREATE INDEX IF NOT EXISTS s2dRmqIds_1_rmq_id ON s2dRmqIds_1 (rmq_id)";
constexpr const char* kCreateUndeliveredExpiryIndex =
    "CREATE INDEX IF NOT EXISTS undeliveredS2dMessages_expiration_ts ON undeliveredS2dMessages "
    "(expiration_ts)";
constexpr const char* kDropTable = "drop TABLE if exists %@%@";
constexpr size_t kDeleteBatchSize = 100;

bool isTextKeyed(const std::string& table) {
    return table == NEBMessagingRmq2PersistentStore::kTableS2dRmqIds ||
           table == NEBMessagingRmq2PersistentStore::kTableSyncMessages ||
           table == NEBMessagingRmq2PersistentStore::kTableUndeliveredS2dMessages;
}

bool bindText(sqlite3_stmt* s, int position, std::string_view text) {
    return sqlite3_bind_text(s, position, text.data(), static_cast<int>(text.size()),
                             SQLITE_TRANSIENT) == SQLITE_OK;
}

bool bindBlob(sqlite3_stmt* s, int position, std::string_view bytes) {
    return sqlite3_bind_blob(s, position, bytes.data(), static_cast<int>(bytes.size()),
                             SQLITE_TRANSIENT) == SQLITE_OK;
}

// A text or blob column's bytes; NULL reads as empty.
std::string columnBytes(sqlite3_stmt* s, int column) {
    auto bytes = static_cast<const char*>(sqlite3_column_blob(s, column));
    if (!bytes) return {};
    return std::string(bytes, static_cast<size_t>(sqlite3_column_bytes(s, column)));
}

void removeFileAndJournal(const std::string& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
    fs::remove(path + "-journal", ignored);
}

}  // namespace

NEBMessagingRmq2PersistentStore::NEBMessagingRmq2PersistentStore(
    const std::string& databaseName, std::chrono::milliseconds busyTimeout)
    : databaseName_(databaseName), busyTimeout_(busyTimeout) {
    currentDirectory_ =
        moveToApplicationSupportSubDirectory(kSubDirectory) ? kApplicationSupport : kDocuments;
    openDatabase();
}

NEBMessagingRmq2PersistentStore::~NEBMessagingRmq2PersistentStore() {
    closeConnection();
}

std::string NEBMessagingRmq2PersistentStore::pathForDatabase(const std::string& name,
                                                             Directory directory) {
    std::string file = ns::format("%@.sqlite", name);
    if (directory == kApplicationSupport) {
        return ns::Sandbox::applicationSupportDirectory() + "/" + kSubDirectory + "/" + file;
    }
    return ns::Sandbox::documentsDirectory() + "/" + file;
}

bool NEBMessagingRmq2PersistentStore::doesFileExistInDirectory(Directory directory) const {
    std::error_code ignored;
    return fs::exists(pathForDatabase(databaseName_, directory), ignored);
}

void NEBMessagingRmq2PersistentStore::removeDatabase() {
    std::error_code ignored;
    fs::remove(pathForDatabase(databaseName_, currentDirectory_), ignored);
}

void NEBMessagingRmq2PersistentStore::removeDatabase(const std::string& name) {
    std::error_code ignored;
    fs::remove(pathForDatabase(name, kDocuments), ignored);
    fs::remove(pathForDatabase(name, kApplicationSupport), ignored);
}

bool NEBMessagingRmq2PersistentStore::moveToApplicationSupportSubDirectory(
    const std::string& subDirectoryName) {
    std::error_code ec;
    if (!fs::exists(ns::Sandbox::applicationSupportDirectory() + "/" + subDirectoryName, ec)) {
        return false;
    }
    if (!doesFileExistInDirectory(kDocuments)) return true;
    std::string oldPath = pathForDatabase(databaseName_, kDocuments);
    std::string newPath = pathForDatabase(databaseName_, kApplicationSupport);
    if (doesFileExistInDirectory(kApplicationSupport)) {
        NEBMessagingSharedLogger().logFuncError(
            __func__, "File %@.sqlite exists both in Documents and ApplicationSupport.",
            databaseName_);
        if (!fs::remove(oldPath, ec)) {
            NEBMessagingSharedLogger().logFuncError(
                __func__, "Failed to delete old copy of %@.sqlite in Documents %@", databaseName_,
                ec.message());
        }
        return true;
    }
    fs::rename(oldPath, newPath, ec);
    if (ec) {
        NEBMessagingSharedLogger().logFuncError(__func__,
                                                "Failed to move file %@ from %@ to %@. Error: %@",
                                                databaseName_, oldPath, newPath, ec.message());
        return false;
    }
    return true;
}

bool NEBMessagingRmq2PersistentStore::openConnection(bool& existed) {
    std::string path = pathForDatabase(databaseName_, currentDirectory_);
    std::error_code ignored;
    existed = fs::exists(path, ignored);
    if (sqlite3_open(path.c_str(), &database_) != SQLITE_OK) {
        closeConnection();
        return false;
    }
    sqlite3_busy_timeout(database_, static_cast<int>(busyTimeout_.count()));
    return true;
}

void NEBMessagingRmq2PersistentStore::closeConnection() {
    statements_.clear();
    if (database_) sqlite3_close(database_);
    database_ = nullptr;
}

bool NEBMessagingRmq2PersistentStore::isDamaged(int code) {
    int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

bool NEBMessagingRmq2PersistentStore::isUnwritable(int code) {
    switch (code & 0xff) {
        case SQLITE_READONLY:
        case SQLITE_FULL:
        case SQLITE_IOERR:
        case SQLITE_CANTOPEN:
        case SQLITE_PERM:
            return true;
        default:
            return isDamaged(code);
    }
}

void NEBMessagingRmq2PersistentStore::openDatabase() {
    bool existed = false;
    if (!openConnection(existed)) return;
    int result = createTables(existed);
    tablesReady_ = result == SQLITE_OK;
    if (result == SQLITE_OK || !isDamaged(result)) return;
    // The file cannot hold the tables: start again with an empty one, once, in this launch
    // rather than the next, so that messages saved from now on are kept.
    makeAnew();
}

bool NEBMessagingRmq2PersistentStore::makeAnew() {
    closeConnection();
    removeFileAndJournal(pathForDatabase(databaseName_, currentDirectory_));
    bool existed = false;
    if (!openConnection(existed)) return false;
    tablesReady_ = createTables(existed) == SQLITE_OK;
    if (!tablesReady_) {
        logError();
        return false;
    }
    // The counter of upstream ids goes on from where it stood, rather than from the start.
    if (highestRmqIdSeen_ > 0) updateLastOutgoingRmqId(highestRmqIdSeen_ + 1);
    return true;
}

bool NEBMessagingRmq2PersistentStore::ensureTables() {
    // A file that was busy when it was opened gets its tables once it is free.
    if (!tablesReady_ && database_) tablesReady_ = createTables(false) == SQLITE_OK;
    return tablesReady_;
}

int NEBMessagingRmq2PersistentStore::createTables(bool existed) {
    int result = SQLITE_OK;
    if (!existed) {
        if ((result = createTableWithName(kTableOutgoingRmqMessages, kCreateOutgoing))) {
            return result;
        }
        if ((result = createTableWithName(kTableLastRmqId, kCreateLastRmqId))) return result;
        if ((result = createTableWithName(kTableS2dRmqIds, kCreateS2dRmqIds))) return result;
    } else {
        // Received ids used to be held as integers; the text table replaces that one.
        if ((result = createTableWithName(kTableS2dRmqIds, kCreateS2dRmqIds))) return result;
        dropTableWithName(kTableOldS2dRmqIds);
    }
    if ((result = createTableWithName(kTableSyncMessages, kCreateSyncMessages))) return result;
    // Files of earlier versions gain the table; they never held a message that had to wait.
    if ((result =
             createTableWithName(kTableUndeliveredS2dMessages, kCreateUndeliveredS2dMessages))) {
        return result;
    }
    if ((result = addUndeliveredExpiry())) return result;
    for (const char* index :
         {kCreateOutgoingIndex, kCreateS2dRmqIdIndex, kCreateUndeliveredExpiryIndex}) {
        if (sqlite3_exec(database_, index, nullptr, nullptr, nullptr) != SQLITE_OK) logError();
    }
    return SQLITE_OK;
}

int NEBMessagingRmq2PersistentStore::addUndeliveredExpiry() {
    if (prepare("SELECT expiration_ts FROM undeliveredS2dMessages LIMIT 0")) return SQLITE_OK;
    if (!beginTransaction()) return sqlite3_extended_errcode(database_);
    bool ok =
        sqlite3_exec(database_, kAddUndeliveredExpiry, nullptr, nullptr, nullptr) == SQLITE_OK;
    if (ok) {
        Statement expire = prepare(
            "UPDATE undeliveredS2dMessages SET expiration_ts = ? WHERE expiration_ts IS NULL");
        ok = expire &&
             sqlite3_bind_int64(expire.get(), 1,
                                NEBMessagingTimestampSeconds() + kExpiryOfOlderKeptMessages) ==
                 SQLITE_OK &&
             sqlite3_step(expire.get()) == SQLITE_DONE;
    }
    if (!ok || !commitTransaction()) {
        int code = sqlite3_extended_errcode(database_);
        logError();
        rollbackTransaction();
        return code;
    }
    return SQLITE_OK;
}

int NEBMessagingRmq2PersistentStore::createTableWithName(const std::string& name,
                                                         const char* command) {
    std::string sql = ns::format(command, "", name);
    int result = sqlite3_exec(database_, sql.c_str(), nullptr, nullptr, nullptr);
    if (result != SQLITE_OK) logError();
    return result == SQLITE_OK ? SQLITE_OK : sqlite3_extended_errcode(database_);
}

void NEBMessagingRmq2PersistentStore::dropTableWithName(const std::string& name) {
    std::string sql = ns::format(kDropTable, "", name);
    if (sqlite3_exec(database_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
        NEBMessagingSharedLogger().logFuncError(__func__, "Failed to remove table %@", name);
    }
}

NEBMessagingRmq2PersistentStore::Statement NEBMessagingRmq2PersistentStore::prepare(
    const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (!database_ ||
        sqlite3_prepare_v2(database_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return nullptr;
    }
    return Statement(statement);
}

sqlite3_stmt* NEBMessagingRmq2PersistentStore::cached(const std::string& sql) {
    auto found = statements_.find(sql);
    if (found != statements_.end()) {
        sqlite3_reset(found->second.get());
        sqlite3_clear_bindings(found->second.get());
        return found->second.get();
    }
    Statement statement = prepare(sql);
    if (!statement) return nullptr;
    return statements_.emplace(sql, std::move(statement)).first->second.get();
}

std::string NEBMessagingRmq2PersistentStore::lastErrorMessage() const {
    return database_ ? sqlite3_errmsg(database_) : "database is not open";
}

int NEBMessagingRmq2PersistentStore::lastErrorCode() const {
    return database_ ? sqlite3_errcode(database_) : SQLITE_CANTOPEN;
}

void NEBMessagingRmq2PersistentStore::logError() {
    NEBMessagingSharedLogger().logFuncError(__func__, "%@ error: code (%d) message: %@",
                                            "NEBMessagingRmqStore:", lastErrorCode(),
                                            lastErrorMessage());
}

bool NEBMessagingRmq2PersistentStore::saveMessageWithRmqId(int64_t rmqId, int tag,
                                                           const std::string& data,
                                                           std::optional<ns::Error>* error) {
    sqlite3_stmt* s =
        cached("INSERT INTO outgoingRmqMessages (rmq_id, type, data) VALUES (?, ?, ?)");
    if (!s) {
        if (error) *error = ns::Error(lastErrorMessage(), lastErrorCode());
        logError();
        return false;
    }
    highestRmqIdSeen_ = std::max(highestRmqIdSeen_, rmqId);
    bool ok = sqlite3_bind_int64(s, 1, rmqId) == SQLITE_OK &&
              sqlite3_bind_int(s, 2, tag) == SQLITE_OK && bindBlob(s, 3, data) &&
              sqlite3_step(s) == SQLITE_DONE;
    if (!ok) logError();
    sqlite3_reset(s);
    return ok;
}

int64_t NEBMessagingRmq2PersistentStore::queryHighestRmqId() {
    int64_t highest =
        queryFirstInteger("SELECT rmq_id FROM outgoingRmqMessages ORDER BY rmq_id DESC LIMIT 1");
    highestRmqIdSeen_ = std::max(highestRmqIdSeen_, highest);
    return highest;
}

int64_t NEBMessagingRmq2PersistentStore::queryFirstInteger(const char* sql) {
    Statement s = prepare(sql);
    if (!s) {
        logError();
        return 0;
    }
    return sqlite3_step(s.get()) == SQLITE_ROW ? sqlite3_column_int64(s.get(), 0) : 0;
}

void NEBMessagingRmq2PersistentStore::scanOutgoingRmqMessagesWithHandler(
    const std::function<void(int64_t, int8_t, const std::string&)>& handler) {
    Statement s = prepare(
        "SELECT rmq_id, type, data FROM outgoingRmqMessages WHERE rmq_id != 0 ORDER BY rmq_id "
        "ASC");
    if (!s) {
        logError();
        return;
    }
    int result;
    while ((result = sqlite3_step(s.get())) == SQLITE_ROW) {
        auto tag = static_cast<int8_t>(sqlite3_column_int(s.get(), 1));
        handler(sqlite3_column_int64(s.get(), 0), tag, columnBytes(s.get(), 2));
    }
    if (result != SQLITE_DONE) logError();
}

void NEBMessagingRmq2PersistentStore::scanOutgoingRmqMessagesWithRmqIds(
    const std::vector<int64_t>& rmqIds,
    const std::function<void(int64_t, int8_t, const std::string&)>& handler) {
    for (int64_t rmqId : rmqIds) {
        sqlite3_stmt* s =
            cached("SELECT rmq_id, type, data FROM outgoingRmqMessages WHERE rmq_id = ?");
        if (!s) {
            logError();
            return;
        }
        sqlite3_bind_int64(s, 1, rmqId);
        while (sqlite3_step(s) == SQLITE_ROW) {
            handler(rmqId, static_cast<int8_t>(sqlite3_column_int(s, 1)), columnBytes(s, 2));
        }
        sqlite3_reset(s);
    }
}

int NEBMessagingRmq2PersistentStore::deleteMessagesFromTable(
    const std::string& table, const std::vector<std::string>& rmqIds) {
    if (rmqIds.empty()) return 0;
    const bool text = isTextKeyed(table);
    int deleted = 0;
    for (size_t from = 0; from < rmqIds.size(); from += kDeleteBatchSize) {
        size_t n = std::min(kDeleteBatchSize, rmqIds.size() - from);
        std::string condition;
        for (size_t i = 0; i < n; ++i) condition += "rmq_id = ? OR ";
        condition.resize(condition.size() - 4);
        std::string sql =
            ns::format("%@ %@", ns::format("DELETE FROM %@ WHERE ", table), condition);
        Statement s = prepare(sql);
        if (!s) {
            logError();
            return deleted;
        }
        for (size_t i = 0; i < n; ++i) {
            const std::string& id = rmqIds[from + i];
            int position = static_cast<int>(i + 1);
            if (text) {
                bindText(s.get(), position, id);
            } else {
                sqlite3_bind_int64(s.get(), position, ns::Value(id).integerValue());
            }
        }
        if (sqlite3_step(s.get()) != SQLITE_DONE) {
            logError();
            return deleted;
        }
        deleted += sqlite3_changes(database_);
    }
    return deleted;
}

bool NEBMessagingRmq2PersistentStore::updateLastOutgoingRmqId(int64_t rmqId) {
    highestRmqIdSeen_ = std::max(highestRmqIdSeen_, rmqId - 1);
    sqlite3_stmt* s = cached("INSERT OR REPLACE INTO lastrmqid (_id, rmq_id) VALUES (?, ?)");
    if (!s) {
        logError();
        return false;
    }
    bool ok = sqlite3_bind_int(s, 1, 1) == SQLITE_OK &&
              sqlite3_bind_int64(s, 2, rmqId) == SQLITE_OK && sqlite3_step(s) == SQLITE_DONE;
    if (!ok) logError();
    sqlite3_reset(s);
    return ok;
}

int64_t NEBMessagingRmq2PersistentStore::queryLastRmqId() {
    int64_t last = queryFirstInteger("SELECT rmq_id FROM lastrmqid ORDER BY rmq_id DESC LIMIT 1");
    // The floor stands one above the ids handed out.
    highestRmqIdSeen_ = std::max(highestRmqIdSeen_, last - 1);
    return last;
}

bool NEBMessagingRmq2PersistentStore::execute(const char* sql) {
    if (!database_ || sqlite3_exec(database_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        logError();
        return false;
    }
    return true;
}

bool NEBMessagingRmq2PersistentStore::saveUnackedS2dMessageWithRmqId(const std::string& rmqId) {
    bool ok = insertUnackedS2dId(rmqId);
    if (!ok) logError();
    return ok;
}

bool NEBMessagingRmq2PersistentStore::insertUnackedS2dId(const std::string& rmqId) {
    // A message can arrive more than once (through the push service and the socket, or sent
    // again by the server); its id is reported once.
    sqlite3_stmt* s = cached(
        "INSERT INTO s2dRmqIds_1 (rmq_id) SELECT ?1 WHERE NOT EXISTS "
        "(SELECT 1 FROM s2dRmqIds_1 WHERE rmq_id = ?1)");
    if (!s) return false;
    bool ok = bindText(s, 1, rmqId) && sqlite3_step(s) == SQLITE_DONE;
    sqlite3_reset(s);
    return ok;
}

bool NEBMessagingRmq2PersistentStore::beginTransaction() {
    return execute("BEGIN IMMEDIATE");
}

bool NEBMessagingRmq2PersistentStore::commitTransaction() {
    return execute("COMMIT");
}

void NEBMessagingRmq2PersistentStore::rollbackTransaction() {
    // Nothing to undo when a failed COMMIT has already ended the transaction.
    if (database_ && !sqlite3_get_autocommit(database_)) execute("ROLLBACK");
}

std::optional<int64_t> NEBMessagingRmq2PersistentStore::keepReceivedS2dMessage(
    const std::string& rmqId, std::string_view data, int64_t expirationTime) {
    // Readers page through kept messages by row; the table would hand the row of a message
    // taken off its end to the next one, behind where a reader already stands. A row is never
    // given twice while the store is open.
    sqlite3_stmt* s = cached(
        "INSERT OR IGNORE INTO undeliveredS2dMessages (_id, rmq_id, data, expiration_ts) "
        "SELECT max(?4, IFNULL(max(_id), 0) + 1), ?1, ?2, ?3 FROM undeliveredS2dMessages");
    bool ok = s && bindText(s, 1, rmqId) && bindBlob(s, 2, data) &&
              sqlite3_bind_int64(s, 3, expirationTime) == SQLITE_OK &&
              sqlite3_bind_int64(s, 4, nextUndeliveredRow_) == SQLITE_OK &&
              sqlite3_step(s) == SQLITE_DONE;
    std::optional<int64_t> row;
    if (ok) row = sqlite3_changes(database_) > 0 ? sqlite3_last_insert_rowid(database_) : 0;
    if (row && *row > 0) nextUndeliveredRow_ = *row + 1;
    if (s) sqlite3_reset(s);
    return row;
}

bool NEBMessagingRmq2PersistentStore::deleteUnackedS2dId(const std::string& rmqId) {
    sqlite3_stmt* s = cached("DELETE FROM s2dRmqIds_1 WHERE rmq_id = ?");
    bool ok = s && bindText(s, 1, rmqId) && sqlite3_step(s) == SQLITE_DONE;
    if (s) sqlite3_reset(s);
    return ok;
}

NEBMessagingRmq2PersistentStore::ReceivedMessageSave
NEBMessagingRmq2PersistentStore::saveReceivedS2dMessageWithRmqId(const std::string& rmqId,
                                                                 std::string_view data,
                                                                 int64_t expirationTime) {
    if (!beginTransaction()) return ReceivedMessageSave::Failed;
    std::optional<int64_t> row;
    if (insertUnackedS2dId(rmqId)) row = keepReceivedS2dMessage(rmqId, data, expirationTime);
    if (!row || !commitTransaction()) {
        logError();
        rollbackTransaction();
        return ReceivedMessageSave::Failed;
    }
    return *row > 0 ? ReceivedMessageSave::Saved : ReceivedMessageSave::AlreadyKept;
}

std::vector<std::pair<std::string, std::string>>
NEBMessagingRmq2PersistentStore::undeliveredS2dMessages() {
    std::vector<std::pair<std::string, std::string>> messages;
    Statement s = prepare("SELECT rmq_id, data FROM undeliveredS2dMessages ORDER BY _id ASC");
    if (!s) {
        logError();
        return messages;
    }
    int result;
    while ((result = sqlite3_step(s.get())) == SQLITE_ROW) {
        messages.emplace_back(columnBytes(s.get(), 0), columnBytes(s.get(), 1));
    }
    if (result != SQLITE_DONE) logError();
    return messages;
}

std::optional<std::vector<NEBMessagingRmq2PersistentStore::UndeliveredRow>>
NEBMessagingRmq2PersistentStore::undeliveredS2dMessagesAfter(int64_t afterRowId, int limit) {
    sqlite3_stmt* s = cached(
        "SELECT _id, rmq_id, data FROM undeliveredS2dMessages WHERE _id > ? ORDER BY _id ASC "
        "LIMIT ?");
    if (!s) {
        logError();
        return std::nullopt;
    }
    sqlite3_bind_int64(s, 1, afterRowId);
    sqlite3_bind_int(s, 2, limit);
    std::vector<UndeliveredRow> rows;
    int result;
    while ((result = sqlite3_step(s)) == SQLITE_ROW) {
        rows.push_back({sqlite3_column_int64(s, 0), columnBytes(s, 1), columnBytes(s, 2)});
    }
    sqlite3_reset(s);
    if (result != SQLITE_DONE) {
        logError();
        return std::nullopt;
    }
    return rows;
}

int64_t NEBMessagingRmq2PersistentStore::lastUndeliveredRowId() {
    const int64_t last = queryFirstInteger("SELECT max(_id) FROM undeliveredS2dMessages");
    nextUndeliveredRow_ = std::max(nextUndeliveredRow_, last + 1);
    return last;
}

int NEBMessagingRmq2PersistentStore::deleteExpiredUndeliveredS2dMessages(int64_t now) {
    Statement s = prepare("DELETE FROM undeliveredS2dMessages WHERE expiration_ts < ?");
    if (!s || sqlite3_bind_int64(s.get(), 1, now) != SQLITE_OK ||
        sqlite3_step(s.get()) != SQLITE_DONE) {
        logError();
        return -1;
    }
    return sqlite3_changes(database_);
}

bool NEBMessagingRmq2PersistentStore::deleteUndeliveredS2dMessageWithRmqId(
    const std::string& rmqId) {
    sqlite3_stmt* s = cached("DELETE FROM undeliveredS2dMessages WHERE rmq_id = ?");
    if (!s) {
        logError();
        return false;
    }
    bool ok = bindText(s, 1, rmqId) && sqlite3_step(s) == SQLITE_DONE;
    if (!ok) logError();
    sqlite3_reset(s);
    return ok;
}

std::vector<std::string> NEBMessagingRmq2PersistentStore::unackedS2dRmqIds() {
    std::vector<std::string> ids;
    // Files written before ids were kept once may hold one twice.
    Statement s = prepare("SELECT DISTINCT rmq_id FROM s2dRmqIds_1 ORDER BY rmq_id ASC");
    if (!s) {
        logError();
        return ids;
    }
    while (sqlite3_step(s.get()) == SQLITE_ROW) {
        ids.push_back(columnBytes(s.get(), 0));
    }
    return ids;
}

bool NEBMessagingRmq2PersistentStore::saveSyncMessageWithRmqID(const std::string& rmqID,
                                                               int64_t expirationTime,
                                                               bool apnsReceived, bool mcsReceived,
                                                               std::optional<ns::Error>* error) {
    Statement s = prepare(
        "INSERT INTO incomingSyncMessages (rmq_id, expiration_ts, apns_recv, mcs_recv) VALUES "
        "(?, ?, ?, ?)");
    if (!s) {
        reportSyncFailure(error, "Failed to save sync message to store.");
        return false;
    }
    bool ok = bindText(s.get(), 1, rmqID) &&
              sqlite3_bind_int64(s.get(), 2, expirationTime) == SQLITE_OK &&
              sqlite3_bind_int(s.get(), 3, apnsReceived ? 1 : 0) == SQLITE_OK &&
              sqlite3_bind_int(s.get(), 4, mcsReceived ? 1 : 0) == SQLITE_OK &&
              sqlite3_step(s.get()) == SQLITE_DONE;
    if (!ok) logError();
    return ok;
}

std::optional<NEBMessagingPersistentSyncMessage>
NEBMessagingRmq2PersistentStore::querySyncMessageWithRmqID(const std::string& rmqID) {
    // The id is bound, never written into the statement: it comes from the network.
    Statement s = prepare(
        "SELECT rmq_id, expiration_ts, apns_recv, mcs_recv FROM incomingSyncMessages WHERE "
        "rmq_id = ?");
    if (!s) {
        logError();
        return std::nullopt;
    }
    bindText(s.get(), 1, rmqID);
    std::optional<NEBMessagingPersistentSyncMessage> found;
    while (sqlite3_step(s.get()) == SQLITE_ROW) {
        NEBMessagingPersistentSyncMessage message;
        message.rmqID = columnBytes(s.get(), 0);
        message.expirationTime = sqlite3_column_int64(s.get(), 1);
        message.apnsReceived = sqlite3_column_int(s.get(), 2) != 0;
        message.mcsReceived = sqlite3_column_int(s.get(), 3) != 0;
        found = std::move(message);
    }
    return found;
}

bool NEBMessagingRmq2PersistentStore::updateSyncMessageViaAPNSWithRmqID(
    const std::string& rmqID, std::optional<ns::Error>* error) {
    return updateSyncMessageWithRmqID(rmqID, "apns_recv", error, "Failed to update sync message");
}

bool NEBMessagingRmq2PersistentStore::updateSyncMessageViaMCSWithRmqID(
    const std::string& rmqID, std::optional<ns::Error>* error) {
    return updateSyncMessageWithRmqID(rmqID, "mcs_recv", error, "Failed to update sync message");
}

bool NEBMessagingRmq2PersistentStore::updateSyncMessageWithRmqID(const std::string& rmqID,
                                                                 const char* column,
                                                                 std::optional<ns::Error>* error,
                                                                 const char* failure) {
    Statement s = prepare(
        ns::format("UPDATE %@ SET %@ = %d WHERE %@ = ?", kTableSyncMessages, column, 1, "rmq_id"));
    if (!s) {
        reportSyncFailure(error, failure);
        return false;
    }
    bool ok = bindText(s.get(), 1, rmqID) && sqlite3_step(s.get()) == SQLITE_DONE;
    if (!ok) logError();
    return ok;
}

void NEBMessagingRmq2PersistentStore::reportSyncFailure(std::optional<ns::Error>* error,
                                                        const char* failure) {
    if (error) *error = msg_errorWithCode(lastErrorCode(), {{"error", failure}});
    logError();
}

bool NEBMessagingRmq2PersistentStore::deleteSyncMessageWithRmqID(const std::string& rmqID) {
    return deleteMessagesFromTable(kTableSyncMessages, {rmqID}) > 0;
}

int NEBMessagingRmq2PersistentStore::deleteExpiredOrFinishedSyncMessages(
    std::optional<ns::Error>* error) {
    Statement s = prepare(
        "DELETE FROM incomingSyncMessages WHERE expiration_ts < ? OR (apns_recv = 1 AND "
        "mcs_recv = 1)");
    auto fail = [&] {
        reportSyncFailure(error, "Failed to save delete expired sync messages from store.");
        return 0;
    };
    if (!s) return fail();
    sqlite3_bind_int64(s.get(), 1, NEBMessagingTimestampSeconds());
    if (sqlite3_step(s.get()) != SQLITE_DONE) return fail();
    return sqlite3_changes(database_);
}
