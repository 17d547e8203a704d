#pragma once

#include <sqlite3.h>

#include <string>

namespace messagingtest {

// Another connection to a store's file, holding it as another process would. How it holds it
// decides what the store can do meanwhile: beside a reader, the store writes but cannot
// commit; behind a writer, it waits (up to its busy timeout) for the file; an exclusive holder
// keeps it from reading too. Released at the latest when it goes.
class StoreFileHolder {
public:
    enum class Hold { Reader, Writer, Exclusive };

    StoreFileHolder(const std::string& path, Hold hold);
    ~StoreFileHolder();
    StoreFileHolder(const StoreFileHolder&) = delete;
    StoreFileHolder& operator=(const StoreFileHolder&) = delete;

    // Whether the file is held.
    bool held() const { return held_; }
    // Runs SQL in the holding transaction (a writer's changes reach the store when it lets
    // go); true when it ran.
    bool execute(const std::string& sql);
    // Commits what the holder changed and lets the file go.
    void release();

private:
    sqlite3* db_ = nullptr;
    bool held_ = false;
};

}  // namespace messagingtest
