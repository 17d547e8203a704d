#include "platform/dispatch/Queue.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <thread>
#include <utility>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/Exception.h"

namespace dispatch {
namespace {

// How long an idle serial queue keeps its thread before letting it go (real time: this only
// saves thread start-ups between bursts of work, nothing waits for it).
constexpr auto kSerialLinger = std::chrono::milliseconds(200);

// Tasks queued or running on every serial and global queue, for runUntilIdle.
std::atomic<size_t> gInFlight{0};
std::atomic<int> gIdleWaiters{0};

void finishTasks(size_t count) {
    if (count == 0) return;
    if (gInFlight.fetch_sub(count) == count && gIdleWaiters.load() > 0) RunLoop::main().wake();
}

// The queues the calling thread is running a task of, innermost last.
thread_local std::vector<const void*> tCurrentQueues;

class CurrentScope {
public:
    explicit CurrentScope(const void* queue) { tCurrentQueues.push_back(queue); }
    ~CurrentScope() { tCurrentQueues.pop_back(); }
    CurrentScope(const CurrentScope&) = delete;
    CurrentScope& operator=(const CurrentScope&) = delete;
};

bool runsOn(const void* queue) {
    return std::find(tCurrentQueues.begin(), tCurrentQueues.end(), queue) != tCurrentQueues.end();
}

}  // namespace

// The threads and pending tasks of a serial queue (one thread at most, which leaves when idle)
// or of the global queue (a pool that grows to its limit as tasks find no waiting thread).
// Worker threads share ownership, so the state outlives a destroyed serial queue until its
// thread has left.
struct Queue::Workers : std::enable_shared_from_this<Workers> {
    Workers(std::string label, size_t maxThreads, bool linger)
        : label(std::move(label)), maxThreads(maxThreads), lingers(linger) {}

    // False when the queue is closed and the task was dropped.
    bool enqueue(Task fn) {
        Lock lock(mutex);
        if (closed) return false;
        pending.push_back(std::move(fn));
        // A task that no waiting thread will take gets a thread of its own, up to the limit:
        // the pool grows with the work that actually runs side by side, so a process that
        // never has more than a few tasks at once keeps only a few threads (and their stacks
        // and allocator caches). Each waiting thread takes one pending task when it wakes.
        if (threads < maxThreads && pending.size() > waiting) {
            try {
                startThread();
            } catch (...) {
                // Without a thread of its own the task waits for a running one, if any.
                if (threads == 0) {
                    pending.pop_back();
                    throw;
                }
            }
        } else {
            workAvailable.notify_one();
        }
        ++gInFlight;
        return true;
    }

    void startThread() REQUIRES(mutex) {
        std::thread(&Workers::work, shared_from_this(), threads).detach();
        ++threads;
    }

    void work(size_t index) {
        std::string name = maxThreads > 1 ? label + "-" + std::to_string(index) : label;
        pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
        Lock lock(mutex);
        for (;;) {
            ++waiting;
            auto lingerEnd = std::chrono::steady_clock::now() + kSerialLinger;
            while (pending.empty() && !closed) {
                if (!lingers) {
                    lock.wait(workAvailable);
                } else if (lock.waitUntil(workAvailable, lingerEnd) == std::cv_status::timeout) {
                    break;
                }
            }
            --waiting;
            if (pending.empty()) break;  // closed, or idle for the whole linger
            Task fn = std::move(pending.front());
            pending.pop_front();
            ++running;
            lock.unlock();
            {
                CurrentScope scope(this);
                fn();
                fn = nullptr;  // captures go while the task still counts as running
            }
            lock.lock();
            --running;
            finishTasks(1);
            if (running == 0) taskDone.notify_all();
        }
        --threads;
    }

    // Drops pending work; waits for a running task unless the caller is that task.
    void close(bool fromOwnTask) {
        std::deque<Task> dropped;
        {
            Lock lock(mutex);
            closed = true;
            dropped.swap(pending);
            workAvailable.notify_all();
            while (!fromOwnTask && running != 0) lock.wait(taskDone);
        }
        size_t count = dropped.size();
        dropped.clear();
        finishTasks(count);
    }

    bool idle() {
        Lock lock(mutex);
        return pending.empty() && running == 0;
    }

    const std::string label;
    const size_t maxThreads;
    const bool lingers;
    Mutex mutex;
    std::condition_variable workAvailable;
    std::condition_variable taskDone;
    std::deque<Task> pending GUARDED_BY(mutex);
    size_t running GUARDED_BY(mutex) = 0;
    size_t threads GUARDED_BY(mutex) = 0;
    size_t waiting GUARDED_BY(mutex) = 0;  // threads waiting for work
    bool closed GUARDED_BY(mutex) = false;
};

Queue::Queue(PassKey, Kind kind, std::string label) : kind_(kind), label_(std::move(label)) {
    if (kind_ == Kind::Serial) {
        workers_ = std::make_shared<Workers>(label_, 1, true);
    } else if (kind_ == Kind::Global) {
        size_t count = std::max(2u, std::thread::hardware_concurrency());
        workers_ = std::make_shared<Workers>(label_, count, false);
    }
}

Queue::~Queue() {
    if (workers_) workers_->close(isCurrent());
}

Queue& Queue::main() {
    // Never destroyed: tasks may still reach it while the process exits.
    static auto* queue =
        new std::shared_ptr<Queue>(std::make_shared<Queue>(PassKey{}, Kind::Main, "main"));
    return **queue;
}

Queue& Queue::global() {
    static auto* queue =
        new std::shared_ptr<Queue>(std::make_shared<Queue>(PassKey{}, Kind::Global, "global"));
    return **queue;
}

std::shared_ptr<Queue> Queue::createSerial(std::string label) {
    return std::make_shared<Queue>(PassKey{}, Kind::Serial, std::move(label));
}

void Queue::async(Task fn) {
    if (kind_ == Kind::Main) {
        RunLoop::main().post(std::move(fn));
    } else {
        workers_->enqueue(std::move(fn));
    }
}

void Queue::asyncAfter(Duration delay, Task fn) {
    if (kind_ == Kind::Main) {
        RunLoop::main().postAfter(delay, std::move(fn));
        return;
    }
    std::weak_ptr<Workers> target = workers_;
    RunLoop::main().postAfter(delay, [target, fn = std::move(fn)]() mutable {
        if (auto workers = target.lock()) workers->enqueue(std::move(fn));
    });
}

void Queue::syncTask(const std::function<void()>& fn) {
    switch (kind_) {
        case Kind::Main:
            syncOnMain(fn);
            break;
        case Kind::Serial:
            syncOnSerial(fn);
            break;
        case Kind::Global: {
            CurrentScope scope(workers_.get());
            fn();
            break;
        }
    }
}

void Queue::syncOnMain(const std::function<void()>& fn) {
    if (RunLoop::isMainThread()) {
        fn();
        return;
    }
    struct State {
        Mutex mutex;
        std::condition_variable cv;
        bool done GUARDED_BY(mutex) = false;
        bool ran = false;  // written before done, read after it
        std::exception_ptr error;
    };
    // Signals the waiting caller when the posted task goes, whether it ran or was dropped.
    struct Signal {
        explicit Signal(std::shared_ptr<State> s) : state(std::move(s)) {}
        ~Signal() {
            Lock lock(state->mutex);
            state->done = true;
            state->cv.notify_all();
        }
        Signal(const Signal&) = delete;
        Signal& operator=(const Signal&) = delete;
        std::shared_ptr<State> state;
    };
    auto state = std::make_shared<State>();
    auto signal = std::make_shared<Signal>(state);
    RunLoop::main().post([signal, &fn] {
        try {
            fn();
        } catch (...) {
            signal->state->error = std::current_exception();
        }
        signal->state->ran = true;
    });
    signal.reset();
    std::exception_ptr error;
    {
        Lock lock(state->mutex);
        while (!state->done) lock.wait(state->cv);
        // The exception is taken out here so that it is released on this thread, where it is
        // caught: were the main thread's copy the last, the object would be freed there while
        // this thread may still read it, ordered only by the runtime's own reference count.
        error = std::exchange(state->error, nullptr);
    }
    if (error) std::rethrow_exception(error);
    if (!state->ran) {
        throw ns::Exception(ns::kInternalInconsistencyException,
                            "The main run loop was reset before a sync task could run");
    }
}

void Queue::syncOnSerial(const std::function<void()>& fn) {
    if (isCurrent()) {
        throw ns::Exception(
            ns::kInternalInconsistencyException,
            "sync onto queue \"" + label_ + "\" from a task already running on it would deadlock");
    }
    struct Gate {
        Mutex mutex;
        std::condition_variable cv;
        bool reached GUARDED_BY(mutex) = false;
        bool finished GUARDED_BY(mutex) = false;
    };
    auto gate = std::make_shared<Gate>();
    // The queue holds still at this task while fn runs on the caller's thread.
    bool queued = workers_->enqueue([gate] {
        Lock lock(gate->mutex);
        gate->reached = true;
        gate->cv.notify_all();
        while (!gate->finished) lock.wait(gate->cv);
    });
    if (!queued) {
        throw ns::Exception(ns::kInternalInconsistencyException,
                            "sync onto queue \"" + label_ + "\" while it is being destroyed");
    }
    {
        Lock lock(gate->mutex);
        while (!gate->reached) lock.wait(gate->cv);
    }
    struct Release {
        Gate& gate;
        ~Release() {
            Lock lock(gate.mutex);
            gate.finished = true;
            gate.cv.notify_all();
        }
    } release{*gate};
    CurrentScope scope(workers_.get());
    fn();
}

bool Queue::isCurrent() const {
    if (kind_ == Kind::Main) return RunLoop::isMainThread();
    return runsOn(workers_.get());
}

bool Queue::isIdle() const {
    if (kind_ == Kind::Main) return !RunLoop::main().hasReadyWork();
    return workers_->idle();
}

bool Queue::allIdle() {
    return gInFlight.load() == 0;
}

void Queue::addIdleWaiter(int delta) {
    gIdleWaiters += delta;
}

}  // namespace dispatch
