#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Mutex.h"

namespace dispatch {

using Task = std::function<void()>;
// Identifies a pending timer or delayed call; 0 never names one.
using TimerId = uint64_t;
// Identifies a file-descriptor source; 0 never names one.
using SourceId = uint64_t;

// Readiness of a file descriptor, as sources ask for it and as drivers report it.
enum FdEvent : unsigned {
    kFdReadable = 1,
    kFdWritable = 2,
    kFdError = 4,   // always reported, whatever a source asked for
    kFdHangUp = 8,  // always reported, whatever a source asked for
};

struct FdEvents {
    int fd;
    unsigned events;  // FdEvent bits
};

// The scheduling core of the main thread: the timer heap, the task list, the end-of-turn list
// and the file-descriptor sources. It does not wait for anything itself; a driver waits for
// the next deadline, the wake-up descriptor and the watched descriptors, then calls
// dispatchReady() on the thread that owns the core (RunLoop has an epoll driver built in; a
// foreign event loop can drive the same core through the driver interface below).
//
// Every deadline reads Clock::current(). Work is ordered by deadline and, for equal deadlines,
// by the order in which it was scheduled; post() is a timer whose deadline is "now".
//
// Every operation may be called from any thread. Callbacks run on the driving thread, with no
// lock held, so they may schedule, cancel, add and remove sources freely.
class Scheduler {
public:
    Scheduler();
    ~Scheduler();
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;

    // Runs fn on a later turn (never inside the current one).
    void post(Task fn);
    // Runs fn once, on the first turn after `delay` has passed (negative counts as zero).
    TimerId postAfter(Duration delay, Task fn);
    // Runs fn every `interval` (at least 0.1 ms), the first time one interval from now, until
    // cancelled. A turn that comes late fires the timer once and the schedule skips the missed
    // firings rather than catching up.
    TimerId scheduleRepeating(Duration interval, Task fn);
    // A delayed call aimed at `target` (any stable address that identifies the receiver) under
    // the name of an operation, so that it can be cancelled by target and name. Several
    // pending calls with the same target and name are independent: cancel first to replace.
    TimerId performAfter(const void* target, std::string operation, Duration delay, Task fn);
    // Cancels a timer, repeating timer or delayed call; true when it was still pending. A
    // timer cancelled from a callback of the same turn does not run.
    bool cancel(TimerId id);
    // Cancels every pending delayed call aimed at target (with that operation name); returns
    // how many were cancelled.
    size_t cancelPerforms(const void* target);
    size_t cancelPerforms(const void* target, std::string_view operation);
    // How many times work has been scheduled so far (posts, timers, and repeating timers
    // rescheduled). Work scheduled while the count stays the same cannot have come between.
    uint64_t scheduledCount() const;
    // Runs fn at the end of the current turn, after its timers and tasks; when called outside
    // a turn, or from end-of-turn work itself, at the end of the next turn.
    void postAtEndOfTurn(Task fn);

    // Calls `callback` with the ready events (FdEvent bits) on each turn in which `fd` is
    // ready for `events`; level-triggered, so a callback must consume what made it ready or
    // remove its source. The descriptor stays the caller's; remove the source before closing
    // it. Several sources may watch one descriptor.
    SourceId addSource(int fd, unsigned events, std::function<void(unsigned)> callback);
    // Removes a source; it gets no further callbacks, even later in the current turn.
    bool removeSource(SourceId id);

    // Drops every pending timer, task, end-of-turn task and source (for tests that share the
    // process-wide run loop).
    void reset();

    // ---- Driver interface ----
    // Readable when work was scheduled from another thread; dispatchReady() clears it.
    int wakeFd() const { return wakeFd_; }
    // Makes wakeFd() readable.
    void wake();
    // Clears wakeFd() for a driver that woke without dispatching.
    void clearWake();
    // True when a turn would run something now (a due timer or task, or end-of-turn work).
    bool hasReadyWork() const;
    // When the earliest pending work falls due ("now" when there is end-of-turn work);
    // nullopt when nothing is scheduled.
    std::optional<TimePoint> nextDeadline() const;
    // nextDeadline() as a poll time-out in milliseconds, rounded up: 0 when work is ready, -1
    // when nothing is scheduled.
    int pollTimeoutMs() const;
    // The descriptors to watch, one entry per descriptor with the union of what its sources
    // ask for; changes whenever sourcesGeneration() does.
    std::vector<FdEvents> watchedFds() const;
    uint64_t sourcesGeneration() const;
    // One turn: the callbacks of the ready descriptors, then every timer and task due at the
    // start of the turn in deadline order, then the end-of-turn work. An exception from a
    // callback leaves the turn and propagates; the work not yet run stays scheduled.
    void dispatchReady(std::span<const FdEvents> ready = {});

    // Conversions between FdEvent bits and poll(2) event bits (which GLib's I/O conditions
    // share).
    static short toPollEvents(unsigned events);
    static unsigned fromPollEvents(short revents);

private:
    struct Timer;
    struct Source;
    using TimerPtr = std::shared_ptr<Timer>;

    TimerId schedule(bool cancellable, Duration delay, Duration interval, const void* target,
                     std::string operation, Task fn);
    void pushLocked(const TimerPtr& timer) REQUIRES(mutex_);
    Task markCancelledLocked(const TimerPtr& timer) REQUIRES(mutex_);
    size_t cancelMatching(const std::function<bool(const Timer&)>& matches);
    void dropCancelledTopLocked() const REQUIRES(mutex_);
    std::vector<TimerPtr> takeDueTimers(uint64_t& epoch);
    void runTimers(std::vector<TimerPtr>& due, uint64_t epoch);
    void putBack(std::vector<TimerPtr>& due, uint64_t epoch);
    void putBackLocked(std::vector<TimerPtr>& due, size_t from) REQUIRES(mutex_);
    void rescheduleLocked(const TimerPtr& timer, TimePoint now) REQUIRES(mutex_);
    void runSources(std::span<const FdEvents> ready);
    void runEndOfTurn();
    static bool heapOrder(const TimerPtr& a, const TimerPtr& b);

    mutable Mutex mutex_;
    // Min-heap on (deadline, seq); cancelled timers stay until they reach the top or the heap
    // is compacted.
    mutable std::vector<TimerPtr> heap_ GUARDED_BY(mutex_);
    mutable size_t cancelledInHeap_ GUARDED_BY(mutex_) = 0;
    std::unordered_map<TimerId, TimerPtr> live_ GUARDED_BY(mutex_);
    std::vector<Task> endOfTurn_ GUARDED_BY(mutex_);
    std::map<SourceId, Source> sources_ GUARDED_BY(mutex_);
    uint64_t sourcesGeneration_ GUARDED_BY(mutex_) = 0;
    uint64_t nextSeq_ GUARDED_BY(mutex_) = 1;
    TimerId nextTimerId_ GUARDED_BY(mutex_) = 1;
    SourceId nextSourceId_ GUARDED_BY(mutex_) = 1;
    uint64_t resetEpoch_ GUARDED_BY(mutex_) = 0;
    int wakeFd_ = -1;
    std::atomic<bool> wakePending_{false};
};

}  // namespace dispatch
