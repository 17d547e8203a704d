#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

namespace sqlitetest {

// A SQL function test_gate() on every connection opened while the gate lives (the plug-in's
// included): a statement that calls it tells the test that it has arrived, then waits inside
// the statement until the test opens the gate. It lets a test hold a batch in the middle,
// with its transaction open, for as long as it needs, without sleeping. One gate at a time.
class SQLiteTestGate {
public:
    // `onReached` runs on the statement's thread each time a statement arrives.
    explicit SQLiteTestGate(std::function<void()> onReached = nullptr);
    ~SQLiteTestGate();
    SQLiteTestGate(const SQLiteTestGate&) = delete;
    SQLiteTestGate& operator=(const SQLiteTestGate&) = delete;

    // Blocks until `count` statements in all have arrived.
    void waitUntilReached(int count = 1);
    // Whether `count` statements in all have arrived, for a test that must keep its main loop
    // running meanwhile (a statement that hands on its rows waits for the page to take them).
    bool reached(int count = 1);
    // Lets every waiting and later statement through.
    void open();

private:
    void arrive();

    std::function<void()> onReached_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int reached_ = 0;
    bool open_ = false;

    friend struct SQLiteTestGateAccess;
};

}  // namespace sqlitetest
