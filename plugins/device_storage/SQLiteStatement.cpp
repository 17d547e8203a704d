#include "plugins/device_storage/SQLiteStatement.h"

#include <sqlite3.h>

#include <climits>
#include <utility>

SQLiteStatement::~SQLiteStatement() {
    reset();
}

SQLiteStatement::SQLiteStatement(SQLiteStatement&& other) noexcept
    : statement_(std::exchange(other.statement_, nullptr)) {}

SQLiteStatement& SQLiteStatement::operator=(SQLiteStatement&& other) noexcept {
    if (this != &other) {
        reset();
        statement_ = std::exchange(other.statement_, nullptr);
    }
    return *this;
}

void SQLiteStatement::reset() {
    sqlite3_finalize(std::exchange(statement_, nullptr));
}

int SQLiteStatement::prepare(sqlite3* db, const std::string& sql) {
    reset();
    // The length with the terminator spares SQLite a scan; it still stops at the first zero
    // byte. A text too long for SQLite's length argument is refused rather than cut short.
    if (sql.size() >= static_cast<size_t>(INT_MAX)) return SQLITE_TOOBIG;
    return sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size() + 1), &statement_,
                              nullptr);
}
