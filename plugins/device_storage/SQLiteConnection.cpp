#include "plugins/device_storage/SQLiteConnection.h"

#include <sqlite3.h>

#include <utility>

std::shared_ptr<SQLiteConnection> SQLiteConnection::open(const std::string& path, int* resultCode) {
    sqlite3* handle = nullptr;
    const int rc = sqlite3_open_v2(
        path.c_str(), &handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
        nullptr);
    if (resultCode) *resultCode = rc;
    if (rc != SQLITE_OK) {
        // SQLite hands out a connection object even when opening fails.
        sqlite3_close(handle);
        return nullptr;
    }
    return std::shared_ptr<SQLiteConnection>(new SQLiteConnection(path, handle));
}

SQLiteConnection::~SQLiteConnection() {
    close();
}

SQLiteConnection::Use SQLiteConnection::use() {
    std::unique_lock lock(mutex_);
    sqlite3* handle = handle_;
    return Use(std::move(lock), handle);
}

void SQLiteConnection::close() {
    std::lock_guard lock(mutex_);
    // Every statement is finalized by its user before the lock is released, so the close
    // cannot be refused as busy.
    sqlite3_close(std::exchange(handle_, nullptr));
}
