#include "platform/dispatch/RunLoop.h"

#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>

#include "platform/dispatch/Queue.h"
#include "platform/ns/Exception.h"

namespace dispatch {
namespace {

uint32_t toEpollEvents(unsigned events) {
    uint32_t out = 0;
    if (events & kFdReadable) out |= EPOLLIN;
    if (events & kFdWritable) out |= EPOLLOUT;
    return out;
}

unsigned fromEpollEvents(uint32_t events) {
    unsigned out = 0;
    if (events & (EPOLLIN | EPOLLPRI)) out |= kFdReadable;
    if (events & EPOLLOUT) out |= kFdWritable;
    if (events & EPOLLERR) out |= kFdError;
    if (events & EPOLLHUP) out |= kFdHangUp;
    return out;
}

constexpr unsigned kInputEvents = kFdReadable | kFdError | kFdHangUp;

}  // namespace

// The main thread is the one that initialises the program's statics.
[[maybe_unused]] static RunLoop& gMainLoop = RunLoop::main();

RunLoop& RunLoop::main() {
    // Never destroyed: other threads may still post to it while the process exits.
    static auto* loop = new RunLoop();
    return *loop;
}

bool RunLoop::isMainThread() {
    return std::this_thread::get_id() == main().mainThread_;
}

RunLoop::RunLoop() : mainThread_(std::this_thread::get_id()) {
    epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epollFd_ < 0) throw std::system_error(errno, std::generic_category(), "epoll_create1");
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = wakeFd();
    if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd(), &event) != 0) {
        throw std::system_error(errno, std::generic_category(), "epoll_ctl");
    }
}

RunLoop::~RunLoop() {
    ::close(epollFd_);
}

void RunLoop::requireMainThread(const char* operation) {
    if (!isMainThread()) {
        throw ns::Exception(ns::kInternalInconsistencyException,
                            std::string(operation) + " must be called on the main thread");
    }
}

void RunLoop::run() {
    requireMainThread("RunLoop::run");
    stopRequested_.store(false);
    std::array<epoll_event, 64> events;
    for (;;) {
        if (stopRequested_.exchange(false)) return;
        syncEpoll();
        int count = ::epoll_wait(epollFd_, events.data(), events.size(), pollTimeoutMs());
        if (count < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "epoll_wait");
        }
        std::vector<FdEvents> ready;
        for (int i = 0; i < count; ++i) {
            if (events[i].data.fd == wakeFd()) continue;  // dispatchReady() clears it
            ready.push_back({events[i].data.fd, fromEpollEvents(events[i].events)});
        }
        dispatchReady(ready);
    }
}

void RunLoop::stop() {
    stopRequested_.store(true);
    wake();
}

void RunLoop::syncEpoll() {
    uint64_t generation = sourcesGeneration();
    if (generation == epollGeneration_) return;
    std::map<int, unsigned> desired;
    for (const auto& watch : watchedFds()) desired[watch.fd] = watch.events;
    for (const auto& [fd, events] : epollRegistered_) {
        if (!desired.contains(fd)) epollControl(EPOLL_CTL_DEL, fd, 0);
    }
    // Modify every kept descriptor too: a number that was closed and reused since the last
    // change has silently left the epoll set and must be added again.
    for (const auto& [fd, events] : desired) {
        epollControl(epollRegistered_.contains(fd) ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, events);
    }
    epollRegistered_ = std::move(desired);
    epollGeneration_ = generation;
}

void RunLoop::epollControl(int op, int fd, unsigned events) {
    epoll_event event{};
    event.events = toEpollEvents(events);
    event.data.fd = fd;
    if (::epoll_ctl(epollFd_, op, fd, &event) == 0) return;
    // Descriptors that epoll cannot watch (regular files) or that are already closed are left
    // out; their sources never fire.
    if (op == EPOLL_CTL_MOD && errno == ENOENT) {
        ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &event);
    } else if (op == EPOLL_CTL_ADD && errno == EEXIST) {
        ::epoll_ctl(epollFd_, EPOLL_CTL_MOD, fd, &event);
    }
}

std::vector<FdEvents> RunLoop::pollSources(bool readableOnly, int timeoutMs) {
    std::vector<pollfd> fds;
    for (const auto& watch : watchedFds()) {
        unsigned events = readableOnly ? watch.events & kFdReadable : watch.events;
        if (readableOnly && events == 0) continue;
        fds.push_back({watch.fd, toPollEvents(events), 0});
    }
    if (timeoutMs != 0) fds.push_back({wakeFd(), POLLIN, 0});
    int count = ::poll(fds.data(), fds.size(), timeoutMs);
    std::vector<FdEvents> ready;
    if (count <= 0) return ready;  // EINTR and time-outs alike: the caller looks again
    for (const auto& p : fds) {
        if (p.revents != 0 && p.fd != wakeFd()) ready.push_back({p.fd, fromPollEvents(p.revents)});
    }
    return ready;
}

void RunLoop::runUntilIdle() {
    requireMainThread("RunLoop::runUntilIdle");
    for (;;) {
        auto ready = pollSources(false, 0);
        bool input = false;
        for (const auto& r : ready) input = input || (r.events & kInputEvents) != 0;
        bool work = hasReadyWork();
        if (work || !ready.empty()) dispatchReady(ready);
        if (work || input) continue;
        // Queues first: work a finished task posted to the main thread is visible afterwards.
        if (Queue::allIdle() && !hasReadyWork()) return;
        // Registered as a waiter while blocked, so that the last queue task to finish wakes
        // this thread.
        struct IdleWaiter {
            IdleWaiter() { Queue::addIdleWaiter(1); }
            ~IdleWaiter() { Queue::addIdleWaiter(-1); }
        } waiter;
        if (Queue::allIdle() || hasReadyWork()) continue;
        pollSources(true, -1);
        clearWake();
    }
}

void RunLoop::advanceBy(Duration by) {
    requireMainThread("RunLoop::advanceBy");
    auto clock = std::dynamic_pointer_cast<ManualClock>(Clock::currentShared());
    if (!clock) {
        throw ns::Exception(ns::kInternalInconsistencyException,
                            "RunLoop::advanceBy needs a ManualClock as the current clock");
    }
    const TimePoint end = addSaturating(clock->now(), std::max(by, Duration::zero()));
    runUntilIdle();
    for (auto next = nextDeadline(); next && *next <= end; next = nextDeadline()) {
        if (*next > clock->now()) clock->advance(*next - clock->now());
        runUntilIdle();
    }
    if (clock->now() < end) clock->advance(end - clock->now());
    runUntilIdle();
}

}  // namespace dispatch
