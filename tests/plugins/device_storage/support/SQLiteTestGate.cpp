#include "tests/plugins/device_storage/support/SQLiteTestGate.h"

#include <sqlite3.h>

#include <atomic>

namespace sqlitetest {

namespace {

std::atomic<SQLiteTestGate*> gCurrent{nullptr};

}  // namespace

struct SQLiteTestGateAccess {
    static void call(sqlite3_context* context, int, sqlite3_value**) {
        if (SQLiteTestGate* gate = gCurrent.load()) gate->arrive();
        sqlite3_result_int(context, 1);
    }
    static int install(sqlite3* db, char**, const sqlite3_api_routines*) {
        return sqlite3_create_function_v2(db, "test_gate", 0, SQLITE_UTF8, nullptr, &call, nullptr,
                                          nullptr, nullptr);
    }
    static void (*entryPoint())() { return reinterpret_cast<void (*)()>(&install); }
};

SQLiteTestGate::SQLiteTestGate(std::function<void()> onReached) : onReached_(std::move(onReached)) {
    gCurrent.store(this);
    sqlite3_auto_extension(SQLiteTestGateAccess::entryPoint());
}

SQLiteTestGate::~SQLiteTestGate() {
    sqlite3_cancel_auto_extension(SQLiteTestGateAccess::entryPoint());
    open();
    gCurrent.store(nullptr);
}

void SQLiteTestGate::arrive() {
    if (onReached_) onReached_();
    std::unique_lock lock(mutex_);
    ++reached_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
}

void SQLiteTestGate::waitUntilReached(int count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return reached_ >= count; });
}

bool SQLiteTestGate::reached(int count) {
    std::lock_guard lock(mutex_);
    return reached_ >= count;
}

void SQLiteTestGate::open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
}

}  // namespace sqlitetest
