#include "tests/sdk/messaging/StoreFileHolder.h"

namespace messagingtest {

StoreFileHolder::StoreFileHolder(const std::string& path, Hold hold) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) return;
    // The store may be in the middle of a write when the holder arrives.
    sqlite3_busy_timeout(db_, 10000);
    switch (hold) {
        case Hold::Reader:
            // A read inside an open transaction keeps its shared lock until the end.
            held_ = execute("BEGIN") && execute("SELECT count(*) FROM sqlite_master");
            break;
        case Hold::Writer:
            held_ = execute("BEGIN IMMEDIATE");
            break;
        case Hold::Exclusive:
            held_ = execute("BEGIN EXCLUSIVE");
            break;
    }
}

StoreFileHolder::~StoreFileHolder() {
    release();
    sqlite3_close(db_);
}

bool StoreFileHolder::execute(const std::string& sql) {
    return db_ && sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

void StoreFileHolder::release() {
    if (!held_) return;
    held_ = false;
    execute("COMMIT");
}

}  // namespace messagingtest
