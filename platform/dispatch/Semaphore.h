#pragma once

#include <condition_variable>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Mutex.h"

namespace dispatch {

// A counting semaphore for handing work or results from one thread to another. Waiting is in
// real time (the time-out does not follow Clock::current()): tests must not use it to wait for
// time to pass, only for another thread to get somewhere.
class Semaphore {
public:
    // Throws ns::Exception (NSInvalidArgumentException) for a negative value.
    explicit Semaphore(long value = 0);
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Increments the count, waking one waiter.
    void signal();
    // Waits until the count is positive, then decrements it.
    void wait();
    // As wait(), giving up after `timeout`; true when the count was taken.
    bool wait(Duration timeout);

private:
    Mutex mutex_;
    std::condition_variable cv_;
    long value_ GUARDED_BY(mutex_);
};

}  // namespace dispatch
