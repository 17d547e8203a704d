#include "plugins/device_storage/SQLiteConnection.h"

#include <sqlite3.h>

#include <algorithm>
#include <iterator>
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

std::shared_ptr<SQLiteConnection> SQLiteConnection::open(const std::string& path) {
    sqlite3* handle = nullptr;
    const int rc =
        sqlite3_open_v2(path.c_str(), &handle,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
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
    return Use(std::unique_lock(mutex_), this);
}

void SQLiteConnection::close() {
    dispatch::Lock lock(mutex_);
    // Users hand back or finalize their statements before they release the lock, and the
    // kept ones go now, so the close cannot be refused as busy.
    kept_.clear();
    sqlite3_close(std::exchange(handle_, nullptr));
}

int SQLiteConnection::Use::prepare(const std::string& sql, SQLiteStatement& statement) {
    connection_->mutex_.assertHeld();
    auto& kept = connection_->kept_;
    for (auto entry = kept.rbegin(); entry != kept.rend(); ++entry) {
        if (entry->second.get() && entry->first == sql) {
            // The entry moves to the most recent end and waits there, empty, for keep(): a
            // batch repeats one text thousands of times, and copying it back each time costs.
            std::rotate(std::prev(entry.base()), entry.base(), kept.end());
            statement = std::move(kept.back().second);
            return SQLITE_OK;
        }
    }
    return statement.prepare(handle(), sql);
}

void SQLiteConnection::Use::keep(const std::string& sql, SQLiteStatement statement) {
    connection_->mutex_.assertHeld();
    auto& kept = connection_->kept_;
    const bool waiting = !kept.empty() && !kept.back().second.get() && kept.back().first == sql;
    if (!statement.get() || !handle()) {
        if (waiting) kept.pop_back();
        return;
    }
    statement.rewind();
    if (waiting) {
        kept.back().second = std::move(statement);
        return;
    }
    if (kept.size() >= kKeptStatements) kept.erase(kept.begin());
    kept.emplace_back(sql, std::move(statement));
}

bool SQLiteConnection::schedule(std::function<void()> work) {
    dispatch::Lock lock(workMutex_);
    work_.push_back(std::move(work));
    return !std::exchange(draining_, true);
}

std::function<void()> SQLiteConnection::nextWork() {
    dispatch::Lock lock(workMutex_);
    if (work_.empty()) {
        draining_ = false;
        return nullptr;
    }
    auto next = std::move(work_.front());
    work_.pop_front();
    return next;
}
