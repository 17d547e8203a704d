#include "plugins/device_storage/SQLiteStatement.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <utility>

SQLiteStatement::~SQLiteStatement() {
    reset();
}

SQLiteStatement::SQLiteStatement(SQLiteStatement&& other) noexcept
    : statement_(std::exchange(other.statement_, nullptr)),
      consumed_(std::exchange(other.consumed_, 0)) {}

SQLiteStatement& SQLiteStatement::operator=(SQLiteStatement&& other) noexcept {
    if (this != &other) {
        reset();
        statement_ = std::exchange(other.statement_, nullptr);
        consumed_ = std::exchange(other.consumed_, 0);
    }
    return *this;
}

void SQLiteStatement::reset() {
    // A kept statement is moved in and out of its holders once per use: most of these objects
    // are empty when they go, and need no call into the library.
    if (statement_) sqlite3_finalize(std::exchange(statement_, nullptr));
    consumed_ = 0;
}

void SQLiteStatement::rewind() {
    if (!statement_) return;
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
}

int SQLiteStatement::prepare(sqlite3* db, const std::string& sql) {
    reset();
    // The length with the terminator spares SQLite a scan; it still stops at the first zero
    // byte. A text too long for SQLite's length argument is refused rather than cut short.
    if (sql.size() >= static_cast<size_t>(INT_MAX)) return SQLITE_TOOBIG;
    const char* tail = nullptr;
    const int rc =
        sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size() + 1), &statement_, &tail);
    if (rc == SQLITE_OK && tail) consumed_ = static_cast<size_t>(tail - sql.c_str());
    return rc;
}

bool SQLiteStatement::hasTextAfterStatement(sqlite3* db, const std::string& sql) const {
    const char* rest = sql.c_str() + std::min(consumed_, sql.size());
    const char* end = sql.c_str() + sql.size();
    // The usual tail is nothing or a semicolon: only comments need SQLite to read them.
    while (rest < end && (*rest == ';' || std::isspace(static_cast<unsigned char>(*rest)))) {
        ++rest;
    }
    while (rest < end && *rest != '\0') {
        sqlite3_stmt* next = nullptr;
        const char* tail = nullptr;
        const int rc = sqlite3_prepare_v2(db, rest, static_cast<int>(end - rest + 1), &next, &tail);
        sqlite3_finalize(next);
        if (rc != SQLITE_OK || next || !tail || tail <= rest) return true;
        rest = tail;
    }
    return false;
}
