#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "platform/dispatch/Scheduler.h"

namespace dispatch {

// A queue of work: the main queue (the main run loop), named serial queues, or the global
// concurrent queue. Every operation may be called from any thread.
//
// A serial queue runs its tasks one at a time in the order they were added, on a thread of its
// own that exists only while the queue has work (it lingers briefly after the last task). The
// global queue runs tasks concurrently on a pool of up to max(2, hardware threads) workers,
// started as tasks arrive that no idle worker would take.
// An exception that escapes a task on a serial or global queue ends the program, as an
// uncaught exception does.
//
// Delayed work (asyncAfter) waits in the main run loop's timer heap, so it follows
// Clock::current() and a test's manual clock; it is handed to its queue when the main loop
// dispatches the timer.
class Queue : public std::enable_shared_from_this<Queue> {
public:
    static Queue& main();
    static Queue& global();
    // A new serial queue. Destroying it drops the tasks that have not started (and delayed
    // work not yet handed over) and, unless called from one of its own tasks, waits for the
    // running task to finish, so that no task of the queue runs after the destructor returns
    // (a running task that waits for the destroying thread, e.g. by a sync onto the main queue
    // while the main thread destroys the queue, therefore deadlocks).
    static std::shared_ptr<Queue> createSerial(std::string label);

    ~Queue();
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;

    const std::string& label() const { return label_; }

    // Adds fn to the queue and returns at once.
    void async(Task fn);
    // Runs fn on the queue and waits for it; returns what fn returns, and an exception from fn
    // propagates to the caller. On a serial queue fn runs on the calling thread once every
    // earlier task has finished, while the queue waits; on the main queue it runs on the main
    // thread (at once when called there); on the global queue it runs at once on the caller.
    // Throws ns::Exception (NSInternalInconsistencyException) instead of deadlocking when the
    // caller already runs on this serial queue (directly or inside a sync from one of its
    // tasks).
    template <class F>
    std::invoke_result_t<F&> sync(F&& fn);
    // Adds fn to the queue once `delay` has passed on Clock::current().
    void asyncAfter(Duration delay, Task fn);

    // True when the calling thread runs a task of this queue (for the main queue: the calling
    // thread is the main thread), including inside a sync onto it.
    bool isCurrent() const;
    // True when the queue has no task queued or running (the main queue: nothing ready).
    bool isIdle() const;
    // True when no serial or global queue has a task queued or running.
    static bool allIdle();

private:
    friend class RunLoop;
    enum class Kind { Main, Serial, Global };
    struct Workers;
    class PassKey {
        friend class Queue;
        PassKey() = default;
    };

    void syncTask(const std::function<void()>& fn);
    void syncOnMain(const std::function<void()>& fn);
    void syncOnSerial(const std::function<void()>& fn);
    // RunLoop counts itself as waiting for the queues to go idle, so that the last task to
    // finish wakes it.
    static void addIdleWaiter(int delta);

public:
    Queue(PassKey, Kind kind, std::string label);

private:
    Kind kind_;
    std::string label_;
    std::shared_ptr<Workers> workers_;
};

template <class F>
std::invoke_result_t<F&> Queue::sync(F&& fn) {
    using R = std::invoke_result_t<F&>;
    if constexpr (std::is_void_v<R>) {
        syncTask(std::function<void()>(std::ref(fn)));
    } else {
        std::optional<R> result;
        syncTask([&] { result.emplace(fn()); });
        return std::move(*result);
    }
}

}  // namespace dispatch
