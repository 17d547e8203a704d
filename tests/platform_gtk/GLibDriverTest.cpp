#include "platform/gtk/GLibDriver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/dispatch/Clock.h"

namespace {

using namespace std::chrono_literals;

// A scheduler of its own on the GLib loop of the test's thread, on a manual clock: nothing
// here waits for real time except the caps, which only a failing test reaches.
class GLibDriverTest : public ::testing::Test {
protected:
    void SetUp() override { dispatch::Clock::setCurrent(clock); }
    void TearDown() override { dispatch::Clock::setCurrent(nullptr); }

    std::shared_ptr<dispatch::ManualClock> clock = std::make_shared<dispatch::ManualClock>();
    dispatch::Scheduler scheduler;
    dispatch::GLibDriver driver{scheduler};
};

TEST_F(GLibDriverTest, RunsTasksAndTimersAsTheirTimeComes) {
    std::vector<int> order;
    scheduler.postAfter(10s, [&] { order.push_back(3); });
    scheduler.post([&] { order.push_back(1); });
    scheduler.postAfter(1s, [&] { order.push_back(2); });
    EXPECT_FALSE(driver.runUntil([&] { return order.size() == 3; }, 50ms));
    EXPECT_EQ(order, std::vector<int>{1});

    clock->advance(10s);  // the GSource's next prepare sees both timers due
    g_main_context_wakeup(nullptr);
    EXPECT_TRUE(driver.runUntil([&] { return order.size() == 3; }, 5s));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_F(GLibDriverTest, WakesForWorkFromOtherThreads) {
    std::atomic<bool> ran = false;
    std::thread worker([&] { scheduler.post([&] { ran = true; }); });
    EXPECT_TRUE(driver.runUntil([&] { return ran.load(); }, 5s));
    worker.join();
}

TEST_F(GLibDriverTest, WatchesTheDescriptorsOfItsSources) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::vector<char> read;
    const auto source = scheduler.addSource(fds[0], dispatch::kFdReadable, [&](unsigned events) {
        EXPECT_TRUE(events & dispatch::kFdReadable);
        char c;
        if (::read(fds[0], &c, 1) == 1) read.push_back(c);
    });
    ASSERT_EQ(::write(fds[1], "a", 1), 1);
    EXPECT_TRUE(driver.runUntil([&] { return read.size() == 1; }, 5s));

    // A removed source hears nothing more; one added later on the same descriptor does.
    scheduler.removeSource(source);
    ASSERT_EQ(::write(fds[1], "b", 1), 1);
    EXPECT_FALSE(driver.runUntil([&] { return read.size() == 2; }, 50ms));
    int later = 0;
    scheduler.addSource(fds[0], dispatch::kFdReadable, [&](unsigned) {
        char c;
        if (::read(fds[0], &c, 1) == 1) later = c;
    });
    EXPECT_TRUE(driver.runUntil([&] { return later == 'b'; }, 5s));
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST_F(GLibDriverTest, SharesTheLoopWithGLibSources) {
    bool idle = false;
    bool task = false;
    g_idle_add(
        [](gpointer flag) -> gboolean {
            *static_cast<bool*>(flag) = true;
            return G_SOURCE_REMOVE;
        },
        &idle);
    scheduler.post([&] { task = true; });
    EXPECT_TRUE(driver.runUntil([&] { return idle && task; }, 5s));
}

TEST_F(GLibDriverTest, QuitEndsRun) {
    scheduler.post([&] { driver.quit(); });
    driver.run();  // returns
    SUCCEED();
}

// An exception from a task leaves the loop and reaches the caller; the work after it stays
// scheduled.
TEST_F(GLibDriverTest, ExceptionsReachTheCaller) {
    bool later = false;
    scheduler.post([] { throw std::runtime_error("from a task"); });
    EXPECT_THROW(driver.runUntil([] { return false; }, 5s), std::runtime_error);
    scheduler.post([&] { throw std::logic_error("again"); });
    EXPECT_THROW(driver.run(), std::logic_error);
    scheduler.post([&] { later = true; });
    EXPECT_TRUE(driver.runUntil([&] { return later; }, 5s));
}

}  // namespace
