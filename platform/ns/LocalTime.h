#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Date.h"

namespace ns {

// Wall-clock times of the device's time zone. Any thread.
class LocalTime {
public:
    // "yyyy-MM-dd HH:mm:ss" in the zone (empty: the device's). Strict: every field has its
    // digits and range, and the date must exist (no February 31, no second 60). A time that
    // the zone skips (a daylight-saving gap) moves forward by the gap, as a clock set to it
    // would; a time that happens twice is its first occurrence.
    static std::optional<Date> parse(std::string_view text, const std::string& zone = "");

    // The device's time zone (an IANA name), as the host or a test sets it.
    static std::string defaultTimeZone();
    static void setDefaultTimeZone(const std::string& zone);
};

}  // namespace ns
