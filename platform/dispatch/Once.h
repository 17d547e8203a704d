#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "platform/dispatch/Mutex.h"

namespace dispatch {

// Runs a function once per process (or per Once object), however many threads ask at the same
// time; later callers wait until the first call has finished. When the function throws, the
// exception propagates and the next call tries again. Calling the same Once from inside its
// own function throws ns::Exception (NSInternalInconsistencyException) rather than
// deadlocking.
class Once {
public:
    Once() = default;
    Once(const Once&) = delete;
    Once& operator=(const Once&) = delete;

    template <class F>
    void call(F&& fn) {
        if (done_.load(std::memory_order_acquire)) return;
        callSlow(std::function<void()>(std::ref(fn)));
    }
    bool done() const { return done_.load(std::memory_order_acquire); }

private:
    void callSlow(const std::function<void()>& fn);

    std::atomic<bool> done_{false};
    std::atomic<std::thread::id> runner_{};
    Mutex mutex_;
};

template <class F>
void once(Once& flag, F&& fn) {
    flag.call(std::forward<F>(fn));
}

}  // namespace dispatch
