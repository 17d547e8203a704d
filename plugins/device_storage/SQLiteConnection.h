#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "plugins/device_storage/SQLiteStatement.h"

struct sqlite3;

// One open database of the page: the SQLite connection, the file it was opened at, and the
// lock that lets one user at a time work on it. A batch holds the lock from its first
// statement to its last, so that statements of two batches never interleave inside one
// transaction and "rowsAffected" counts only the statement's own changes.
class SQLiteConnection {
public:
    // Exclusive use of the connection while the object lives.
    class Use {
    public:
        // The connection, or null once it has been closed.
        sqlite3* handle() const {
            connection_->mutex_.assertHeld();
            return connection_->handle_;
        }
        // A statement for the text: compiled now, or the one kept from an earlier use of the
        // same text. SQLite's result code (see SQLiteStatement::prepare).
        int prepare(const std::string& sql, SQLiteStatement& statement);
        // Resets the statement, clears its parameters and keeps it for the next use of the
        // text. Take any error of the statement from the connection first.
        void keep(const std::string& sql, SQLiteStatement statement);

    private:
        friend class SQLiteConnection;
        // The lock leaves use() inside the Use, which the thread-safety analysis cannot
        // follow: the Use's members assert that it is held.
        Use(std::unique_lock<dispatch::Mutex> lock, SQLiteConnection* connection)
            : lock_(std::move(lock)), connection_(connection) {}
        std::unique_lock<dispatch::Mutex> lock_;
        SQLiteConnection* connection_;
    };

    // Opens (creating when missing) the file read-write; null when that fails, and nothing
    // stays open then. SQLite takes no lock of its own on each call: every call goes through
    // a Use, whose lock already keeps the connection to one thread at a time. Statements may
    // attach only files inside the application's container.
    static std::shared_ptr<SQLiteConnection> open(const std::string& path);

    ~SQLiteConnection();
    SQLiteConnection(const SQLiteConnection&) = delete;
    SQLiteConnection& operator=(const SQLiteConnection&) = delete;

    const std::string& path() const { return path_; }

    // Waits until no one else uses the connection.
    Use use();
    // Waits for the current user to finish, then closes; later uses see no connection.
    void close();

    // The page's work on this database runs one piece at a time, in the order it was asked
    // for. schedule() adds a piece and answers true when none was waiting or running: the
    // caller then starts a drain, which runs nextWork() until it answers nothing.
    bool schedule(std::function<void()> work);
    std::function<void()> nextWork();

private:
    // Statements kept for reuse: a page's batch repeats the same few texts (an insert per
    // row), and compiling each again would cost more than running it.
    static constexpr size_t kKeptStatements = 16;

    SQLiteConnection(std::string path, sqlite3* handle) : path_(std::move(path)), handle_(handle) {}

    const std::string path_;
    dispatch::Mutex mutex_;
    sqlite3* handle_ GUARDED_BY(mutex_);
    // Least recently kept first.
    std::vector<std::pair<std::string, SQLiteStatement>> kept_ GUARDED_BY(mutex_);
    dispatch::Mutex workMutex_;
    std::deque<std::function<void()>> work_ GUARDED_BY(workMutex_);
    bool draining_ GUARDED_BY(workMutex_) = false;
};
