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
        std::lock_guard lock(mutex_);
        ++value_;
    }
    cv_.notify_one();
}

void Semaphore::wait() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return value_ > 0; });
    --value_;
}

bool Semaphore::wait(Duration timeout) {
    // A time-out beyond any real wait means "forever" (and must not overflow the deadline).
    if (timeout >= kForever) {
        wait();
        return true;
    }
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, timeout, [&] { return value_ > 0; })) return false;
    --value_;
    return true;
}

}  // namespace dispatch
