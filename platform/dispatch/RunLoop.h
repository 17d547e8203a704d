#pragma once

#include <atomic>
#include <map>
#include <thread>

#include "platform/dispatch/Scheduler.h"

namespace dispatch {

// The main run loop: the process-wide Scheduler of the main thread with an epoll driver built
// in, plus the means for tests to drive it to idle on a manual clock.
//
// The main thread is the thread that starts the program (the loop is created during static
// initialisation); in unit tests that is the gtest thread. Scheduling, cancelling, sources and
// stop() work from any thread; run(), runUntilIdle() and advanceBy() only on the main thread.
class RunLoop : public Scheduler {
public:
    static RunLoop& main();
    static bool isMainThread();
    // The entry points of main-thread-only classes start with this: a call from another
    // thread is a programming fault (ns::Exception naming the operation), caught where it is
    // made rather than as a race later.
    static void requireMainThread(const char* operation);

    // Waits for and dispatches work until stop(). An exception from a callback propagates.
    void run();
    // Makes the innermost run() return after its current turn; no effect when none runs.
    void stop();

    // For tests: runs every ready task, timer whose deadline has passed, end-of-turn task and
    // readable descriptor, and waits (without sleeping) for the tasks in flight on the serial
    // and global queues, repeating until nothing is ready anywhere. Work that a queue posts
    // back to the main thread counts. Descriptors that are only writable are dispatched but
    // are not a reason to go on.
    void runUntilIdle();
    // For tests, with a ManualClock installed as Clock::current(): moves the clock to each
    // timer deadline up to now + by in turn, running to idle at each, then to now + by.
    // Throws ns::Exception when the current clock is not a ManualClock.
    void advanceBy(Duration by);

private:
    RunLoop();
    ~RunLoop();

    void syncEpoll();
    void epollControl(int op, int fd, unsigned events);
    // Polls the sources without waiting; returns what is ready.
    std::vector<FdEvents> pollSources(bool readableOnly, int timeoutMs);

    std::thread::id mainThread_;
    int epollFd_ = -1;
    uint64_t epollGeneration_ = ~uint64_t{0};
    std::map<int, unsigned> epollRegistered_;
    std::atomic<bool> stopRequested_{false};
};

}  // namespace dispatch
