#include "platform/sec/KeychainStore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sec {

namespace {

constexpr std::array<const char*, kIndexColumnCount> kColumns{"service", "account", "access_group",
                                                              "tag", "key_class"};

constexpr const char* kSchema =
    "PRAGMA journal_mode = WAL;"
    "PRAGMA synchronous = FULL;"
    "CREATE TABLE IF NOT EXISTS items("
    " id INTEGER PRIMARY KEY,"
    " class TEXT NOT NULL,"
    " service BLOB NOT NULL, account BLOB NOT NULL, access_group BLOB NOT NULL,"
    " tag BLOB NOT NULL, key_class BLOB NOT NULL,"
    " attributes BLOB NOT NULL,"
    " data BLOB);"
    "CREATE UNIQUE INDEX IF NOT EXISTS items_primary"
    " ON items(class, service, account, access_group, tag, key_class);"
    "CREATE INDEX IF NOT EXISTS items_tag ON items(class, tag, key_class);"
    // Look-ups by service and account find their rows already in the order they were added.
    "CREATE INDEX IF NOT EXISTS items_service_account ON items(class, service, account);"
    "CREATE TABLE IF NOT EXISTS copied("
    " former BLOB NOT NULL, current BLOB NOT NULL, PRIMARY KEY(former, current)) WITHOUT ROWID;";

constexpr int kBusyTimeoutMs = 5000;

// SQLite binds a null pointer as SQL NULL, even with length 0; empty values must stay blobs.
const char kEmpty[1] = {0};

OSStatus statusFor(int rc) {
    switch (rc) {
        case SQLITE_OK:
        case SQLITE_ROW:
        case SQLITE_DONE:
            return errSecSuccess;
        case SQLITE_CONSTRAINT_UNIQUE:
        case SQLITE_CONSTRAINT_PRIMARYKEY:
            return errSecDuplicateItem;
        case SQLITE_NOMEM:
            return errSecAllocate;
        default:
            return errSecIO;
    }
}

bool isDamage(int rc) {
    rc &= 0xff;
    return rc == SQLITE_NOTADB || rc == SQLITE_CORRUPT;
}

int bindBytes(sqlite3_stmt* statement, int index, std::string_view bytes) {
    return sqlite3_bind_blob(statement, index, bytes.empty() ? kEmpty : bytes.data(),
                             static_cast<int>(bytes.size()), SQLITE_STATIC);
}

// Leaves a cached statement ready for its next use, however the caller leaves the scope.
class ResetOnExit {
public:
    explicit ResetOnExit(sqlite3_stmt* statement) : statement_(statement) {}
    ~ResetOnExit() {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    ResetOnExit(const ResetOnExit&) = delete;
    ResetOnExit& operator=(const ResetOnExit&) = delete;

private:
    sqlite3_stmt* statement_;
};

bool createPrivateFile(const std::filesystem::path& file) {
    int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    // An existing file keeps its mode on open; secrets must not stay readable by others.
    bool ok = ::fchmod(fd, 0600) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

void KeychainStore::StatementDeleter::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}

std::unique_ptr<KeychainStore> KeychainStore::open(const std::filesystem::path& directory) {
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    if (ec || ::chmod(directory.c_str(), 0700) != 0) return nullptr;
    const std::filesystem::path file = directory / kFileName;
    bool damaged = false;
    auto store = openFile(file, damaged);
    if (!store && damaged) {
        std::filesystem::path aside = file;
        aside += ".damaged";
        std::filesystem::rename(file, aside, ec);
        for (const char* suffix : {"-wal", "-shm", "-journal"}) {
            std::filesystem::path companion = file;
            companion += suffix;
            std::filesystem::remove(companion, ec);
        }
        store = openFile(file, damaged);
    }
    return store;
}

std::unique_ptr<KeychainStore> KeychainStore::openFile(const std::filesystem::path& file,
                                                       bool& damaged) {
    damaged = false;
    if (!createPrivateFile(file)) return nullptr;
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(file.c_str(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
                             nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    std::unique_ptr<KeychainStore> store(new KeychainStore(db));
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    rc = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        damaged = isDamage(rc);
        return nullptr;
    }
    sqlite3_stmt* check = store->prepared("PRAGMA quick_check");
    if (!check) return nullptr;
    ResetOnExit reset(check);
    rc = sqlite3_step(check);
    auto verdict = reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
    if (rc != SQLITE_ROW || !verdict || std::string_view(verdict) != "ok") {
        damaged = rc == SQLITE_ROW || isDamage(rc);
        return nullptr;
    }
    return store;
}

std::string KeychainStore::selectSQL(const RowFilter& filter, size_t groupsIn, unsigned fields,
                                     bool onlyFirst) {
    std::string sql = "SELECT id";
    sql += (fields & kAttributes) ? ", attributes" : ", NULL";
    sql += (fields & kData) ? ", data" : ", NULL";
    sql += " FROM items WHERE class = ?";
    for (size_t i = 0; i < kIndexColumnCount; ++i) {
        if (!filter.equals[i]) continue;
        sql += " AND ";
        sql += kColumns[i];
        sql += " = ?";
    }
    if (groupsIn > 0) {
        sql += " AND access_group IN (?";
        for (size_t i = 1; i < groupsIn; ++i) sql += ", ?";
        sql += ")";
    }
    sql += onlyFirst ? " ORDER BY id LIMIT 1" : " ORDER BY id";
    return sql;
}

KeychainStore::~KeychainStore() {
    statements_.clear();
    selects_.clear();
    sqlite3_close(db_);
}

sqlite3_stmt* KeychainStore::prepareNew(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) !=
        SQLITE_OK) {
        sqlite3_finalize(statement);
        return nullptr;
    }
    return statement;
}

sqlite3_stmt* KeychainStore::prepared(const char* sql) {
    auto found = statements_.find(sql);
    if (found != statements_.end()) return found->second.get();
    sqlite3_stmt* statement = prepareNew(sql);
    if (statement) statements_.emplace(sql, Statement(statement));
    return statement;
}

OSStatus KeychainStore::execute(const char* sql) {
    sqlite3_stmt* statement = prepared(sql);
    if (!statement) return errSecIO;
    return stepUntilDone(statement);
}

OSStatus KeychainStore::stepUntilDone(sqlite3_stmt* statement) {
    ResetOnExit reset(statement);
    int rc = sqlite3_step(statement);
    return rc == SQLITE_DONE ? errSecSuccess : statusFor(sqlite3_extended_errcode(db_));
}

OSStatus KeychainStore::select(const RowFilter& filter, unsigned fields, bool onlyFirst,
                               const std::function<bool(const RowView&)>& visit) {
    // Look-ups are the hot path: find the statement by the shape of the query, not its text.
    const bool compared = filter.equals[static_cast<size_t>(IndexColumn::AccessGroup)].has_value();
    const size_t groupsIn = compared ? 0 : filter.accessGroupIn.size();
    size_t shape = (fields & 3) | (onlyFirst ? 4 : 0);
    for (size_t i = 0; i < kIndexColumnCount; ++i) {
        if (filter.equals[i]) shape |= size_t{8} << i;
    }
    if (selects_.size() <= groupsIn) selects_.resize(groupsIn + 1);
    Statement& slot = selects_[groupsIn][shape];
    if (!slot) slot = Statement(prepareNew(selectSQL(filter, groupsIn, fields, onlyFirst)));
    sqlite3_stmt* statement = slot.get();
    if (!statement) return errSecIO;
    ResetOnExit reset(statement);
    int index = 1;
    sqlite3_bind_text(statement, index++, filter.itemClass.data(),
                      static_cast<int>(filter.itemClass.size()), SQLITE_STATIC);
    for (const auto& value : filter.equals) {
        if (value) bindBytes(statement, index++, *value);
    }
    for (size_t i = 0; i < groupsIn; ++i) bindBytes(statement, index++, filter.accessGroupIn[i]);
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        RowView row{sqlite3_column_int64(statement, 0), nullptr, 0, nullptr, 0};
        row.attributes = static_cast<const uint8_t*>(sqlite3_column_blob(statement, 1));
        row.attributesLength = static_cast<size_t>(sqlite3_column_bytes(statement, 1));
        if (sqlite3_column_type(statement, 2) != SQLITE_NULL) {
            row.data = static_cast<const uint8_t*>(sqlite3_column_blob(statement, 2));
            row.dataLength = static_cast<size_t>(sqlite3_column_bytes(statement, 2));
            if (!row.data) row.data = reinterpret_cast<const uint8_t*>(kEmpty);
        }
        if (!visit(row)) return errSecSuccess;
    }
    return rc == SQLITE_DONE ? errSecSuccess : statusFor(sqlite3_extended_errcode(db_));
}

void KeychainStore::bindRow(sqlite3_stmt* statement, const StoredRow& row) {
    int index = 1;
    sqlite3_bind_text(statement, index++, row.itemClass.data(),
                      static_cast<int>(row.itemClass.size()), SQLITE_STATIC);
    for (const auto& value : row.index) bindBytes(statement, index++, value);
    bindBytes(statement, index++, row.attributes.chars());
    if (row.data) {
        bindBytes(statement, index++, row.data->chars());
    } else {
        sqlite3_bind_null(statement, index++);
    }
}

OSStatus KeychainStore::insert(const StoredRow& row) {
    sqlite3_stmt* statement = prepared(
        "INSERT INTO items(class, service, account, access_group, tag, key_class, attributes, "
        "data) VALUES(?, ?, ?, ?, ?, ?, ?, ?)");
    if (!statement) return errSecIO;
    bindRow(statement, row);
    return stepUntilDone(statement);
}

OSStatus KeychainStore::update(int64_t id, const StoredRow& row) {
    sqlite3_stmt* statement = prepared(
        "UPDATE items SET class = ?, service = ?, account = ?, access_group = ?, tag = ?, "
        "key_class = ?, attributes = ?, data = ? WHERE id = ?");
    if (!statement) return errSecIO;
    bindRow(statement, row);
    sqlite3_bind_int64(statement, 9, id);
    return stepUntilDone(statement);
}

OSStatus KeychainStore::remove(int64_t id) {
    sqlite3_stmt* statement = prepared("DELETE FROM items WHERE id = ?");
    if (!statement) return errSecIO;
    sqlite3_bind_int64(statement, 1, id);
    return stepUntilDone(statement);
}

OSStatus KeychainStore::executeWith(const char* sql, std::string_view first,
                                    std::string_view second) {
    sqlite3_stmt* statement = prepared(sql);
    if (!statement) return errSecIO;
    bindBytes(statement, 1, first);
    bindBytes(statement, 2, second);
    return stepUntilDone(statement);
}

OSStatus KeychainStore::wasCopied(std::string_view former, std::string_view current, bool& copied) {
    sqlite3_stmt* statement = prepared("SELECT 1 FROM copied WHERE former = ? AND current = ?");
    if (!statement) return errSecIO;
    ResetOnExit reset(statement);
    bindBytes(statement, 1, former);
    bindBytes(statement, 2, current);
    const int rc = sqlite3_step(statement);
    copied = rc == SQLITE_ROW;
    return rc == SQLITE_ROW || rc == SQLITE_DONE ? errSecSuccess
                                                 : statusFor(sqlite3_extended_errcode(db_));
}

OSStatus KeychainStore::recordCopy(std::string_view former, std::string_view current) {
    return executeWith("INSERT OR IGNORE INTO copied(former, current) VALUES(?, ?)", former,
                       current);
}

OSStatus KeychainStore::moveCopyRecords(std::string_view from, std::string_view to) {
    return executeWith(
        "INSERT OR IGNORE INTO copied(former, current) SELECT former, ?2 FROM copied"
        " WHERE current = ?1",
        from, to);
}

KeychainStore::Transaction::Transaction(KeychainStore& store)
    : store_(store), status_(store.execute("BEGIN IMMEDIATE")) {
    open_ = status_ == errSecSuccess;
}

KeychainStore::Transaction::~Transaction() {
    if (open_) store_.execute("ROLLBACK");
}

OSStatus KeychainStore::Transaction::commit() {
    if (!open_) return status_;
    status_ = store_.execute("COMMIT");
    // A failed COMMIT leaves the transaction open; the destructor rolls it back.
    open_ = status_ != errSecSuccess;
    return status_;
}

}  // namespace sec
