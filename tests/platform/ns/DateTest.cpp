#include "platform/ns/Date.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/dispatch/Clock.h"

namespace {

TEST(Date, DescriptionIsUTC) {
    EXPECT_EQ(ns::Date::fromTimeIntervalSince1970(0).description(), "1970-01-01 00:00:00 +0000");
    EXPECT_EQ(ns::Date::fromTimeIntervalSince1970(1700000000.9).description(),
              "2023-11-14 22:13:20 +0000");
    EXPECT_EQ(ns::Date::fromTimeIntervalSince1970(-0.5).description(), "1969-12-31 23:59:59 +0000");
    EXPECT_EQ(ns::Date::distantFuture().description(), "4001-01-01 00:00:00 +0000");
    // Printed in the proleptic Gregorian calendar: the distant past, 1 January of year 1 in
    // the Julian calendar, is two days earlier in it.
    EXPECT_EQ(ns::Date::distantPast().description(), "0000-12-30 00:00:00 +0000");
    EXPECT_EQ(ns::Date().description(), "1970-01-01 00:00:00 +0000");
    // An instant just before 2001 is in the second before it, however close it comes.
    EXPECT_EQ(ns::Date::fromTimeIntervalSinceReferenceDate(-1e-300).description(),
              "2000-12-31 23:59:59 +0000");
}

TEST(Date, NowReadsTheCurrentClock) {
    auto clock = std::make_shared<dispatch::ManualClock>(1000.0);
    dispatch::Clock::setCurrent(clock);
    EXPECT_EQ(ns::Date::now().timeIntervalSince1970(), 1000.0);
    clock->advanceSeconds(2.5);
    EXPECT_EQ(ns::Date::now().timeIntervalSince1970(), 1002.5);
    EXPECT_EQ(ns::Date::fromTimeIntervalSince1970(1010).timeIntervalSinceNow(), 7.5);
    dispatch::Clock::setCurrent(nullptr);
}

}  // namespace
