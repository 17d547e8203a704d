#include "platform/dispatch/Scheduler.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using dispatch::seconds;

// A foreign event loop in miniature: it polls what the core asks for and hands the ready
// descriptors back, the way a GLib source would.
class ForeignLoop {
public:
    explicit ForeignLoop(dispatch::Scheduler& core) : core_(core) {}

    // One iteration; waits at most as long as the core allows.
    void iterate() {
        std::vector<pollfd> fds{{core_.wakeFd(), POLLIN, 0}};
        for (const auto& w : core_.watchedFds()) {
            fds.push_back({w.fd, dispatch::Scheduler::toPollEvents(w.events), 0});
        }
        ASSERT_GE(::poll(fds.data(), fds.size(), core_.pollTimeoutMs()), 0);
        std::vector<dispatch::FdEvents> ready;
        for (size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents) {
                ready.push_back({fds[i].fd, dispatch::Scheduler::fromPollEvents(fds[i].revents)});
            }
        }
        core_.dispatchReady(ready);
    }
    // Iterates until `done`; each iteration blocks until something is ready, so this waits
    // without spinning. Bounded so that a broken core fails instead of hanging.
    bool iterateUntil(const std::function<bool()>& done) {
        for (int i = 0; i < 100 && !done(); ++i) iterate();
        return done();
    }

private:
    dispatch::Scheduler& core_;
};

bool readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
}

class SchedulerTest : public ::testing::Test {
protected:
    void SetUp() override { dispatch::Clock::setCurrent(clock); }
    void TearDown() override { dispatch::Clock::setCurrent(nullptr); }
    std::shared_ptr<dispatch::ManualClock> clock = std::make_shared<dispatch::ManualClock>();
    dispatch::Scheduler core;
};

TEST_F(SchedulerTest, TellsTheDriverHowLongToWait) {
    EXPECT_EQ(core.pollTimeoutMs(), -1);
    EXPECT_FALSE(core.nextDeadline());
    core.postAfter(seconds(1.5) + dispatch::Duration(1), [] {});
    EXPECT_EQ(core.pollTimeoutMs(), 1501);  // rounded up, never early
    core.postAfter(seconds(0.25), [] {});
    EXPECT_EQ(core.pollTimeoutMs(), 250);
    EXPECT_EQ(*core.nextDeadline(), clock->now() + seconds(0.25));
    clock->advanceSeconds(0.25);
    EXPECT_TRUE(core.hasReadyWork());
    EXPECT_EQ(core.pollTimeoutMs(), 0);
    core.dispatchReady();
    EXPECT_FALSE(core.hasReadyWork());
    core.postAtEndOfTurn([] {});
    EXPECT_EQ(core.pollTimeoutMs(), 0);
    clock->advanceSeconds(2);
    core.dispatchReady();
    EXPECT_FALSE(core.nextDeadline());

    // A delay beyond the clock's range waits "forever" instead of wrapping into the past.
    bool ran = false;
    core.postAfter(seconds(1e300), [&] { ran = true; });
    EXPECT_EQ(*core.nextDeadline(), dispatch::TimePoint::max());
    EXPECT_EQ(core.pollTimeoutMs(), INT_MAX);
    clock->advanceSeconds(1e6);
    core.dispatchReady();
    EXPECT_FALSE(ran);
}

TEST_F(SchedulerTest, WorkFromAnotherThreadMakesTheWakeFdReadable) {
    core.dispatchReady();
    EXPECT_FALSE(readable(core.wakeFd()));
    bool ran = false;
    std::thread([&] { core.post([&] { ran = true; }); }).join();
    EXPECT_TRUE(readable(core.wakeFd()));
    core.dispatchReady();
    EXPECT_TRUE(ran);
    EXPECT_FALSE(readable(core.wakeFd()));
    // A wake-up that finds nothing to do is cleared by the driver.
    core.wake();
    core.clearWake();
    EXPECT_FALSE(readable(core.wakeFd()));
    core.wake();
    EXPECT_TRUE(readable(core.wakeFd()));
}

TEST_F(SchedulerTest, WatchedFdsJoinTheSourcesOfOneDescriptor) {
    auto generation = core.sourcesGeneration();
    auto a = core.addSource(7, dispatch::kFdReadable, [](unsigned) {});
    auto b = core.addSource(7, dispatch::kFdWritable, [](unsigned) {});
    auto c = core.addSource(3, dispatch::kFdReadable, [](unsigned) {});
    EXPECT_NE(core.sourcesGeneration(), generation);
    auto watched = core.watchedFds();
    ASSERT_EQ(watched.size(), 2u);
    EXPECT_EQ(watched[0].fd, 3);
    EXPECT_EQ(watched[1].fd, 7);
    EXPECT_EQ(watched[1].events, unsigned{dispatch::kFdReadable | dispatch::kFdWritable});
    generation = core.sourcesGeneration();
    core.removeSource(b);
    EXPECT_NE(core.sourcesGeneration(), generation);
    EXPECT_EQ(core.watchedFds()[1].events, unsigned{dispatch::kFdReadable});
    core.removeSource(a);
    core.removeSource(c);
    EXPECT_TRUE(core.watchedFds().empty());
}

TEST_F(SchedulerTest, ReadyEventsReachOnlySourcesThatAskedForThem) {
    std::vector<std::string> calls;
    core.addSource(5, dispatch::kFdReadable,
                   [&](unsigned e) { calls.push_back("r" + std::to_string(e)); });
    core.addSource(5, dispatch::kFdWritable,
                   [&](unsigned e) { calls.push_back("w" + std::to_string(e)); });
    core.dispatchReady(std::vector<dispatch::FdEvents>{{5, dispatch::kFdWritable}});
    EXPECT_EQ(calls, std::vector<std::string>{"w2"});
    calls.clear();
    // Errors and hang-ups go to every source of the descriptor.
    core.dispatchReady(std::vector<dispatch::FdEvents>{{5, dispatch::kFdHangUp}});
    EXPECT_EQ(calls, (std::vector<std::string>{"r8", "w8"}));
    calls.clear();
    core.dispatchReady(std::vector<dispatch::FdEvents>{{6, dispatch::kFdReadable}});
    EXPECT_TRUE(calls.empty());
}

TEST_F(SchedulerTest, AForeignPollLoopDrivesSourcesTimersAndCrossThreadPosts) {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
    ForeignLoop driver(core);
    std::vector<std::string> events;
    core.addSource(fds[0], dispatch::kFdReadable, [&](unsigned) {
        char c;
        while (::read(fds[0], &c, 1) == 1) events.push_back(std::string("read ") + c);
        // Work a callback schedules runs on a later iteration.
        core.post([&] { events.push_back("posted by source"); });
    });

    std::thread writer([&] { ASSERT_EQ(::write(fds[1], "x", 1), 1); });
    // Blocks in poll until the byte arrives.
    ASSERT_TRUE(driver.iterateUntil([&] { return !events.empty(); }));
    writer.join();
    EXPECT_EQ(events, std::vector<std::string>{"read x"});
    driver.iterate();
    EXPECT_EQ(events.back(), "posted by source");

    std::thread poster([&] { core.post([&] { events.push_back("from thread"); }); });
    // Blocks until the wake-up descriptor turns readable.
    EXPECT_TRUE(driver.iterateUntil([&] { return events.back() == "from thread"; }));
    poster.join();

    core.postAfter(seconds(2), [&] { events.push_back("timer"); });
    clock->advanceSeconds(2);
    driver.iterate();
    EXPECT_EQ(events.back(), "timer");
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST_F(SchedulerTest, RepeatingIntervalHasAFloor) {
    int fired = 0;
    core.scheduleRepeating(dispatch::Duration::zero(), [&] { ++fired; });
    EXPECT_EQ(core.pollTimeoutMs(), 1);
    clock->advance(std::chrono::microseconds(100));
    core.dispatchReady();
    core.dispatchReady();
    EXPECT_EQ(fired, 1);
}

TEST_F(SchedulerTest, ManyCancelledTimersDoNotPileUp) {
    // A heartbeat re-armed over and over: the cancelled ones must not keep their callbacks.
    auto token = std::make_shared<int>(0);
    bool ran = false;
    core.postAfter(seconds(1), [&] { ran = true; });
    for (int i = 0; i < 10000; ++i) {
        core.performAfter(this, "heartbeat", seconds(30), [token] {});
        core.cancelPerforms(this, "heartbeat");
    }
    EXPECT_EQ(token.use_count(), 1);
    EXPECT_EQ(*core.nextDeadline(), clock->now() + seconds(1));
    clock->advanceSeconds(30);
    core.dispatchReady();
    EXPECT_TRUE(ran);
    EXPECT_FALSE(core.nextDeadline());
}

}  // namespace
