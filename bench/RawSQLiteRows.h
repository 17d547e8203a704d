#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "platform/ns/Data.h"

namespace benchsupport {

// Keychain-like rows (service, account, data) in a plain SQLite table with a unique index,
// read by one prepared statement: the baseline that keychain look-ups are measured against,
// SQLite used as its documentation recommends for speed.
class RawSQLiteRows {
public:
    using Row = std::tuple<std::string, std::string, ns::Data>;

    RawSQLiteRows(const std::filesystem::path& file, const std::vector<Row>& rows) {
        sqlite3_open(file.c_str(), &db_);
        sqlite3_exec(db_,
                     "PRAGMA journal_mode = WAL;"
                     "CREATE TABLE t(service TEXT NOT NULL, account TEXT NOT NULL, data BLOB);"
                     "CREATE UNIQUE INDEX t_key ON t(service, account);",
                     nullptr, nullptr, nullptr);
        sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db_, "INSERT INTO t VALUES(?, ?, ?)", -1, &insert, nullptr);
        for (const auto& [service, account, data] : rows) {
            sqlite3_bind_text(insert, 1, service.data(), int(service.size()), SQLITE_STATIC);
            sqlite3_bind_text(insert, 2, account.data(), int(account.size()), SQLITE_STATIC);
            sqlite3_bind_blob(insert, 3, data.bytes(), int(data.length()), SQLITE_STATIC);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_prepare_v2(db_, "SELECT data FROM t WHERE service = ? AND account = ?", -1,
                           &select_, nullptr);
    }
    ~RawSQLiteRows() {
        sqlite3_finalize(select_);
        sqlite3_close(db_);
    }
    RawSQLiteRows(const RawSQLiteRows&) = delete;
    RawSQLiteRows& operator=(const RawSQLiteRows&) = delete;

    std::vector<uint8_t> lookup(const std::string& service, const std::string& account) {
        sqlite3_bind_text(select_, 1, service.data(), int(service.size()), SQLITE_STATIC);
        sqlite3_bind_text(select_, 2, account.data(), int(account.size()), SQLITE_STATIC);
        std::vector<uint8_t> out;
        if (sqlite3_step(select_) == SQLITE_ROW) {
            auto p = static_cast<const uint8_t*>(sqlite3_column_blob(select_, 0));
            out.assign(p, p + sqlite3_column_bytes(select_, 0));
        }
        sqlite3_reset(select_);
        return out;
    }

private:
    sqlite3* db_ = nullptr;
    sqlite3_stmt* select_ = nullptr;
};

}  // namespace benchsupport
