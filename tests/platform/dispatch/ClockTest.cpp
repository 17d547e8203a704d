#include "platform/dispatch/Clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <limits>
#include <thread>

namespace {

TEST(ManualClock, MovesOnlyWhenAdvanced) {
    dispatch::ManualClock clock(1000.0);
    auto start = clock.now();
    EXPECT_EQ(clock.now(), start);
    clock.advanceSeconds(1.5);
    EXPECT_EQ(clock.now() - start, dispatch::Duration(1'500'000'000));
    EXPECT_DOUBLE_EQ(clock.wallTime(), 1001.5);
}

TEST(Clock, CurrentCanBeReplacedAndRestored) {
    auto manual = std::make_shared<dispatch::ManualClock>(42.0);
    dispatch::Clock::setCurrent(manual);
    EXPECT_DOUBLE_EQ(dispatch::Clock::current().wallTime(), 42.0);
    dispatch::Clock::setCurrent(nullptr);
    EXPECT_GT(dispatch::Clock::current().wallTime(), 1.6e9);
}

TEST(Clock, SecondsSaturateInsteadOfOverflowing) {
    using dispatch::Duration;
    EXPECT_EQ(dispatch::seconds(0.25), Duration(250'000'000));
    EXPECT_EQ(dispatch::seconds(1e300), Duration::max());
    EXPECT_EQ(dispatch::seconds(-1e300), Duration::min());
    EXPECT_EQ(dispatch::seconds(std::numeric_limits<double>::quiet_NaN()), Duration::zero());
    dispatch::TimePoint t(Duration(5));
    EXPECT_EQ(dispatch::addSaturating(t, Duration::max()), dispatch::TimePoint::max());
    EXPECT_EQ(dispatch::addSaturating(t, Duration(-2)), dispatch::TimePoint(Duration(3)));
}

}  // namespace

// Queue workers may still read the clock while the process exits (a page call's answer sent
// from the background as the host quits): the current clock outlives the static objects.
TEST(ClockDeathTest, ReadableWhileTheProcessExits) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::thread([] {
                for (;;) dispatch::Clock::currentShared()->now();
            }).detach();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
