#include "plugins/device_storage/SQLiteConnection.h"

#include <sqlite3.h>

#include <string_view>
#include <utility>

#include "platform/ns/Sandbox.h"

namespace {

// Whether the page's SQL may attach the file: a temporary or in-memory database, or a file
// named by its absolute path inside the application's container. SQLite would otherwise
// create and write files wherever the process may, from text the page chose (ATTACH and
// VACUUM INTO both come here); relative names resolve against the working folder, URIs can
// name any file, and a name computed at run time cannot be checked at all.
bool mayAttach(const char* file) {
    if (!file) return false;
    const std::string_view name(file);
    if (name.empty() || name == ":memory:") return true;
    return name.front() == '/' && ns::Sandbox::isInsideContainer(file);
}

int authorize(void*, int action, const char* first, const char*, const char*, const char*) {
    if (action == SQLITE_ATTACH && !mayAttach(first)) return SQLITE_DENY;
    return SQLITE_OK;
}

}  // namespace

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
    sqlite3_set_authorizer(handle, &authorize, nullptr);
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
