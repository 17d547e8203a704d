#include "platform/dispatch/Semaphore.h"

#include "platform/ns/Exception.h"

namespace dispatch {

Semaphore::Semaphore(long value) : value_(value) {
    if (value < 0) {
        throw ns::Exception(ns::kInvalidArgumentException,
                            "A semaphore cannot start with a negative value");
    }
}

void Semaphore::signal() {
    {
        Lock lock(mutex_);
        ++value_;
    }
    cv_.notify_one();
}

void Semaphore::wait() {
    Lock lock(mutex_);
    while (value_ <= 0) lock.wait(cv_);
    --value_;
}

bool Semaphore::wait(Duration timeout) {
    // A time-out beyond any real wait means "forever" (and must not overflow the deadline).
    if (timeout >= kForever) {
        wait();
        return true;
    }
    auto deadline = std::chrono::steady_clock::now() + timeout;
    Lock lock(mutex_);
    while (value_ <= 0) {
        if (lock.waitUntil(cv_, deadline) == std::cv_status::timeout) return false;
    }
    --value_;
    return true;
}

}  // namespace dispatch
