#include "platform/ns/LocalTime.h"

#include <gtest/gtest.h>

namespace {

double seconds(std::string_view text, const std::string& zone) {
    auto date = ns::LocalTime::parse(text, zone);
    EXPECT_TRUE(date) << text;
    return date ? date->timeIntervalSince1970() : 0;
}

TEST(LocalTime, RefusesTextThatNamesNoTime) {
    for (const char* bad : {"2026-02-31 10:00:00", "2026-02-29 10:00:00", "2026-13-01 00:00:00",
                            "2026-12-07 23:59:60", "2026-12-07 24:00:00", "2026-12-07 10:60:00",
                            "2026-12-7 10:00:00", "2026-12-07T10:00:00", "2026-12-07 10:00:00 ",
                            "+026-12-07 10:00:00", "", "0000-01-01 00:00:00"}) {
        EXPECT_FALSE(ns::LocalTime::parse(bad, "UTC")) << bad;
    }
    EXPECT_TRUE(ns::LocalTime::parse("2024-02-29 23:59:59", "UTC"));
}

TEST(LocalTime, FollowsTheZoneAcrossDaylightSaving) {
    EXPECT_EQ(seconds("1970-01-01 00:00:10", "UTC"), 10);
    // Berlin: +1 in winter, +2 in summer.
    EXPECT_EQ(seconds("2026-01-15 12:00:00", "Europe/Berlin"),
              seconds("2026-01-15 11:00:00", "UTC"));
    EXPECT_EQ(seconds("2026-07-15 12:00:00", "Europe/Berlin"),
              seconds("2026-07-15 10:00:00", "UTC"));
    // 02:30 on 29 March does not exist there: the clock reads 03:30 an hour after 01:30.
    EXPECT_EQ(seconds("2026-03-29 02:30:00", "Europe/Berlin"),
              seconds("2026-03-29 01:30:00", "Europe/Berlin") + 3600);
    // 02:30 on 25 October happens twice: the first one counts.
    EXPECT_EQ(seconds("2026-10-25 02:30:00", "Europe/Berlin"),
              seconds("2026-10-25 00:30:00", "UTC"));
}

}  // namespace
