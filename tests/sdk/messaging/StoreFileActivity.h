#pragma once

#include <sqlite3.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>

namespace messagingtest {

// While it exists, every SQLite file opened from now on is read and written through it: it
// counts the writes and syncs made on the main thread, and the transactions committed (one
// rollback journal deleted each), then lets the system's file layer do the work.
class StoreFileActivity {
public:
    StoreFileActivity();
    ~StoreFileActivity();
    StoreFileActivity(const StoreFileActivity&) = delete;
    StoreFileActivity& operator=(const StoreFileActivity&) = delete;

    // Writes and syncs of any file on the main thread.
    int mainThreadWrites() const { return mainThreadWrites_; }
    // Transactions committed to the file whose name ends in `name`.
    int commits(const std::string& name) const;
    void reset();

    // The file layer's own parts.
    struct File;
    void noteWrite();

private:
    static int open(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags,
                    int* outFlags);
    static int remove(sqlite3_vfs* vfs, const char* name, int syncDir);
    static int access(sqlite3_vfs* vfs, const char* name, int flags, int* out);
    static int fullPathname(sqlite3_vfs* vfs, const char* name, int n, char* out);
    static StoreFileActivity* of(sqlite3_vfs* vfs);

    sqlite3_vfs* system_;
    sqlite3_vfs vfs_{};
    sqlite3_io_methods methods_{};
    std::atomic<int> mainThreadWrites_{0};
    mutable std::mutex mutex_;
    std::map<std::string, int> journalsDeleted_;
};

}  // namespace messagingtest
