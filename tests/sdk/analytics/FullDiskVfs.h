#pragma once

#include <sqlite3.h>

#include <atomic>

namespace analyticstest {

// A SQLite file system over the default one whose writes fail with SQLITE_FULL while `full` is
// set, as on a disk with no space left. Installed as the default for its lifetime.
class FullDiskVfs {
public:
    FullDiskVfs();
    ~FullDiskVfs();
    FullDiskVfs(const FullDiskVfs&) = delete;
    FullDiskVfs& operator=(const FullDiskVfs&) = delete;

    void setFull(bool full) { full_ = full; }

    static std::atomic<bool> full_;

private:
    sqlite3_vfs* base_ = nullptr;
};

}  // namespace analyticstest
