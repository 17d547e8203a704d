#pragma once

#include <atomic>

#include "tests/support/SQLiteFileShim.h"

namespace analyticstest {

// A SQLite file system over the default one whose writes fail with SQLITE_FULL while `full` is
// set, as on a disk with no space left. Installed as the default for its lifetime.
class FullDiskVfs : public testsupport::SQLiteFileShim {
public:
    FullDiskVfs() { full_ = false; }
    ~FullDiskVfs() override { full_ = false; }

    void setFull(bool full) { full_ = full; }
    int willChange(Change change) override {
        return change == Change::Write && full_ ? SQLITE_FULL : SQLITE_OK;
    }

    static std::atomic<bool> full_;
};

}  // namespace analyticstest
