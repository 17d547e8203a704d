#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "tests/support/SQLiteFileShim.h"

namespace messagingtest {

// While it exists, every SQLite file opened from now on is read and written through it: it
// counts the changes made to files on the main thread, and the transactions committed (one
// rollback journal deleted each).
class StoreFileActivity : public testsupport::SQLiteFileShim {
public:
    // Writes, truncations and syncs of any file on the main thread.
    int mainThreadWrites() const { return mainThreadWrites_; }
    // Transactions committed to the file whose name ends in `name`.
    int commits(const std::string& name) const;
    void reset();
    // From now on every change to a file fails with `code` (SQLITE_FULL: a disk that stays
    // full), until it is SQLITE_OK again.
    void refuseChanges(int code) { refusal_ = code; }

    int willChange(Change change) override;
    void willDelete(const char* name) override;

private:
    std::atomic<int> mainThreadWrites_{0};
    std::atomic<int> refusal_{0};
    mutable std::mutex mutex_;
    std::map<std::string, int> journalsDeleted_;
};

}  // namespace messagingtest
