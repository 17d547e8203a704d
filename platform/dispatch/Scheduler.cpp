#include "platform/dispatch/Scheduler.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <system_error>

namespace dispatch {

struct Scheduler::Timer {
    TimerId id = 0;  // 0 for plain tasks, which cannot be cancelled
    TimePoint deadline;
    uint64_t seq = 0;
    Duration interval{0};  // 0 for one-shot work
    const void* target = nullptr;
    std::string operation;
    Task fn;
    // Both guarded by the scheduler's mutex.
    bool cancelled = false;
    bool inHeap = false;
};

struct Scheduler::Source {
    int fd;
    unsigned events;
    std::shared_ptr<std::function<void(unsigned)>> callback;
};

namespace {

// The platform's floor for repeating intervals; it keeps a zero interval from spinning.
constexpr Duration kMinimumInterval = std::chrono::microseconds(100);
// Compaction pays off only once enough cancelled timers have piled up.
constexpr size_t kCompactThreshold = 64;

TimePoint now() {
    return Clock::currentShared()->now();
}

}  // namespace

Scheduler::Scheduler() {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

Scheduler::~Scheduler() {
    ::close(wakeFd_);
}

bool Scheduler::heapOrder(const TimerPtr& a, const TimerPtr& b) {
    // std::push_heap builds a max-heap; invert to keep the earliest on top.
    if (a->deadline != b->deadline) return a->deadline > b->deadline;
    return a->seq > b->seq;
}

void Scheduler::post(Task fn) {
    schedule(false, Duration::zero(), Duration::zero(), nullptr, {}, std::move(fn));
}

TimerId Scheduler::postAfter(Duration delay, Task fn) {
    return schedule(true, delay, Duration::zero(), nullptr, {}, std::move(fn));
}

TimerId Scheduler::scheduleRepeating(Duration interval, Task fn) {
    interval = std::max(interval, kMinimumInterval);
    return schedule(true, interval, interval, nullptr, {}, std::move(fn));
}

TimerId Scheduler::performAfter(const void* target, std::string operation, Duration delay,
                                Task fn) {
    return schedule(true, delay, Duration::zero(), target, std::move(operation), std::move(fn));
}

TimerId Scheduler::schedule(bool cancellable, Duration delay, Duration interval, const void* target,
                            std::string operation, Task fn) {
    auto timer = std::make_shared<Timer>();
    timer->interval = interval;
    timer->target = target;
    timer->operation = std::move(operation);
    timer->fn = std::move(fn);
    TimePoint due = addSaturating(now(), std::max(delay, Duration::zero()));
    TimerId id = 0;
    {
        Lock lock(mutex_);
        timer->deadline = due;
        // Plain posts cannot be cancelled, so they stay out of the look-up table.
        if (cancellable) {
            id = timer->id = nextTimerId_++;
            live_.emplace(id, timer);
        }
        pushLocked(timer);
    }
    wake();
    return id;
}

uint64_t Scheduler::scheduledCount() const {
    Lock lock(mutex_);
    return nextSeq_;
}

void Scheduler::pushLocked(const TimerPtr& timer) {
    timer->seq = nextSeq_++;
    timer->inHeap = true;
    heap_.push_back(timer);
    std::push_heap(heap_.begin(), heap_.end(), heapOrder);
}

Task Scheduler::markCancelledLocked(const TimerPtr& timer) {
    timer->cancelled = true;
    // The caller destroys the function after unlocking: its captures may run arbitrary code.
    Task fn = std::move(timer->fn);
    if (timer->inHeap) ++cancelledInHeap_;
    if (cancelledInHeap_ > kCompactThreshold && cancelledInHeap_ * 2 > heap_.size()) {
        std::erase_if(heap_, [](const TimerPtr& t) { return t->cancelled; });
        std::make_heap(heap_.begin(), heap_.end(), heapOrder);
        cancelledInHeap_ = 0;
    }
    dropCancelledTopLocked();
    return fn;
}

void Scheduler::dropCancelledTopLocked() const {
    while (!heap_.empty() && heap_.front()->cancelled) {
        std::pop_heap(heap_.begin(), heap_.end(), heapOrder);
        heap_.back()->inHeap = false;
        heap_.pop_back();
        --cancelledInHeap_;
    }
}

bool Scheduler::cancel(TimerId id) {
    Task dropped;  // destroyed after the lock is released
    Lock lock(mutex_);
    auto it = live_.find(id);
    if (it == live_.end()) return false;
    dropped = markCancelledLocked(it->second);
    live_.erase(it);
    return true;
}

size_t Scheduler::cancelMatching(const std::function<bool(const Timer&)>& matches) {
    std::vector<Task> dropped;  // destroyed after the lock is released
    Lock lock(mutex_);
    for (auto it = live_.begin(); it != live_.end();) {
        if (matches(*it->second)) {
            dropped.push_back(markCancelledLocked(it->second));
            it = live_.erase(it);
        } else {
            ++it;
        }
    }
    return dropped.size();
}

size_t Scheduler::cancelPerforms(const void* target) {
    if (target == nullptr) return 0;  // plain timers have no target
    return cancelMatching([&](const Timer& t) { return t.target == target; });
}

size_t Scheduler::cancelPerforms(const void* target, std::string_view operation) {
    if (target == nullptr) return 0;
    return cancelMatching(
        [&](const Timer& t) { return t.target == target && t.operation == operation; });
}

void Scheduler::postAtEndOfTurn(Task fn) {
    {
        Lock lock(mutex_);
        endOfTurn_.push_back(std::move(fn));
    }
    wake();
}

SourceId Scheduler::addSource(int fd, unsigned events, std::function<void(unsigned)> callback) {
    SourceId id;
    {
        Lock lock(mutex_);
        id = nextSourceId_++;
        sources_.emplace(
            id, Source{fd, events,
                       std::make_shared<std::function<void(unsigned)>>(std::move(callback))});
        ++sourcesGeneration_;
    }
    wake();
    return id;
}

bool Scheduler::removeSource(SourceId id) {
    std::shared_ptr<std::function<void(unsigned)>> callback;
    {
        Lock lock(mutex_);
        auto it = sources_.find(id);
        if (it == sources_.end()) return false;
        callback = std::move(it->second.callback);
        sources_.erase(it);
        ++sourcesGeneration_;
    }
    wake();
    return true;
}

void Scheduler::reset() {
    std::vector<TimerPtr> heap;
    std::unordered_map<TimerId, TimerPtr> live;
    std::vector<Task> endOfTurn;
    std::map<SourceId, Source> sources;
    Lock lock(mutex_);
    for (auto& t : heap_) t->inHeap = false;
    heap.swap(heap_);
    live.swap(live_);
    endOfTurn.swap(endOfTurn_);
    sources.swap(sources_);
    cancelledInHeap_ = 0;
    ++sourcesGeneration_;
    // Work already taken by a running turn must not run after a reset either.
    ++resetEpoch_;
}

void Scheduler::wake() {
    if (!wakePending_.exchange(true)) {
        uint64_t one = 1;
        // Only fails when the counter would overflow, which means a wake-up is pending anyway.
        [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
    }
}

void Scheduler::clearWake() {
    // Read before clearing the flag: a wake() in between then either sees the flag still set
    // (and its work is picked up by the turn that follows) or writes again.
    uint64_t count;
    [[maybe_unused]] auto n = ::read(wakeFd_, &count, sizeof count);
    wakePending_.store(false);
}

bool Scheduler::hasReadyWork() const {
    TimePoint t = now();
    Lock lock(mutex_);
    if (!endOfTurn_.empty()) return true;
    dropCancelledTopLocked();
    return !heap_.empty() && heap_.front()->deadline <= t;
}

std::optional<TimePoint> Scheduler::nextDeadline() const {
    TimePoint t = now();
    Lock lock(mutex_);
    if (!endOfTurn_.empty()) return t;
    dropCancelledTopLocked();
    if (heap_.empty()) return std::nullopt;
    return heap_.front()->deadline;
}

int Scheduler::pollTimeoutMs() const {
    auto deadline = nextDeadline();
    if (!deadline) return -1;
    Duration left = *deadline - now();
    if (left <= Duration::zero()) return 0;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<int64_t>(ms, INT_MAX));
}

std::vector<FdEvents> Scheduler::watchedFds() const {
    std::map<int, unsigned> byFd;
    {
        Lock lock(mutex_);
        for (const auto& [id, source] : sources_) byFd[source.fd] |= source.events;
    }
    std::vector<FdEvents> out;
    out.reserve(byFd.size());
    for (auto [fd, events] : byFd) out.push_back({fd, events});
    return out;
}

uint64_t Scheduler::sourcesGeneration() const {
    Lock lock(mutex_);
    return sourcesGeneration_;
}

void Scheduler::dispatchReady(std::span<const FdEvents> ready) {
    clearWake();
    // What is due is fixed at the start, so that work the descriptors' callbacks schedule
    // waits for the next turn like all other work scheduled during a turn.
    uint64_t epoch;
    auto due = takeDueTimers(epoch);
    try {
        runSources(ready);
    } catch (...) {
        putBack(due, epoch);
        throw;
    }
    runTimers(due, epoch);
    runEndOfTurn();
}

void Scheduler::runSources(std::span<const FdEvents> ready) {
    for (const auto& event : ready) {
        std::vector<std::pair<SourceId, unsigned>> matching;
        {
            Lock lock(mutex_);
            for (const auto& [id, source] : sources_) {
                unsigned mask = source.events | kFdError | kFdHangUp;
                if (source.fd == event.fd && (event.events & mask) != 0) {
                    matching.emplace_back(id, event.events & mask);
                }
            }
        }
        for (auto [id, events] : matching) {
            std::shared_ptr<std::function<void(unsigned)>> callback;
            {
                Lock lock(mutex_);
                auto it = sources_.find(id);
                if (it == sources_.end()) continue;  // removed by an earlier callback
                callback = it->second.callback;
            }
            (*callback)(events);
        }
    }
}

std::vector<Scheduler::TimerPtr> Scheduler::takeDueTimers(uint64_t& epoch) {
    TimePoint t = now();
    std::vector<TimerPtr> due;
    Lock lock(mutex_);
    epoch = resetEpoch_;
    dropCancelledTopLocked();
    while (!heap_.empty() && heap_.front()->deadline <= t) {
        std::pop_heap(heap_.begin(), heap_.end(), heapOrder);
        TimerPtr timer = std::move(heap_.back());
        heap_.pop_back();
        timer->inHeap = false;
        if (timer->cancelled) {
            --cancelledInHeap_;
        } else {
            due.push_back(std::move(timer));
        }
    }
    return due;
}

void Scheduler::rescheduleLocked(const TimerPtr& timer, TimePoint t) {
    // Skip the firings a late turn missed instead of running them back to back.
    Duration late = t - timer->deadline;
    auto missed = late > Duration::zero() ? late / timer->interval : 0;
    timer->deadline = addSaturating(timer->deadline, timer->interval * (missed + 1));
    pushLocked(timer);
}

void Scheduler::runTimers(std::vector<TimerPtr>& due, uint64_t epoch) {
    size_t next = 0;
    try {
        while (next < due.size()) {
            TimerPtr timer = due[next++];
            Task fn;
            {
                Lock lock(mutex_);
                if (timer->cancelled || epoch != resetEpoch_) continue;
                if (timer->interval == Duration::zero()) {
                    if (timer->id != 0) live_.erase(timer->id);
                    fn = std::move(timer->fn);
                } else {
                    fn = timer->fn;
                }
            }
            fn();
            if (timer->interval != Duration::zero()) {
                TimePoint t = now();
                Lock lock(mutex_);
                if (!timer->cancelled && epoch == resetEpoch_) rescheduleLocked(timer, t);
            }
        }
    } catch (...) {
        // Put back what this turn has not run yet, with its original order.
        TimePoint t = now();
        Lock lock(mutex_);
        if (epoch != resetEpoch_) throw;
        TimerPtr& thrower = due[next - 1];
        if (thrower->interval != Duration::zero() && !thrower->cancelled) {
            rescheduleLocked(thrower, t);
        }
        putBackLocked(due, next);
        throw;
    }
}

void Scheduler::putBack(std::vector<TimerPtr>& due, uint64_t epoch) {
    Lock lock(mutex_);
    if (epoch == resetEpoch_) putBackLocked(due, 0);
}

void Scheduler::putBackLocked(std::vector<TimerPtr>& due, size_t from) {
    // They keep their deadline and sequence number, hence their order.
    for (size_t i = from; i < due.size(); ++i) {
        if (due[i]->cancelled) continue;
        due[i]->inHeap = true;
        heap_.push_back(due[i]);
        std::push_heap(heap_.begin(), heap_.end(), heapOrder);
    }
}

void Scheduler::runEndOfTurn() {
    std::vector<Task> tasks;
    uint64_t epoch;
    {
        Lock lock(mutex_);
        tasks.swap(endOfTurn_);
        epoch = resetEpoch_;
    }
    for (size_t i = 0; i < tasks.size(); ++i) {
        {
            Lock lock(mutex_);
            if (epoch != resetEpoch_) return;
        }
        try {
            tasks[i]();
        } catch (...) {
            Lock lock(mutex_);
            endOfTurn_.insert(endOfTurn_.begin(), std::make_move_iterator(tasks.begin() + i + 1),
                              std::make_move_iterator(tasks.end()));
            throw;
        }
    }
}

short Scheduler::toPollEvents(unsigned events) {
    short out = 0;
    if (events & kFdReadable) out |= POLLIN;
    if (events & kFdWritable) out |= POLLOUT;
    return out;
}

unsigned Scheduler::fromPollEvents(short revents) {
    unsigned out = 0;
    if (revents & (POLLIN | POLLPRI)) out |= kFdReadable;
    if (revents & POLLOUT) out |= kFdWritable;
    if (revents & (POLLERR | POLLNVAL)) out |= kFdError;
    if (revents & POLLHUP) out |= kFdHangUp;
    return out;
}

}  // namespace dispatch
