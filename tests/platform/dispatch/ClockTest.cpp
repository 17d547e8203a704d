#include "platform/dispatch/Clock.h"

#include <gtest/gtest.h>

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

}  // namespace
