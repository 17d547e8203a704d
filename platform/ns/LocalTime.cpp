#include "platform/ns/LocalTime.h"

#include <unicode/calendar.h>
#include <unicode/gregocal.h>
#include <unicode/timezone.h>

#include <memory>

namespace ns {

namespace {

// Reads exactly `width` digits at `at`.
std::optional<int> digits(std::string_view text, size_t at, size_t width) {
    int value = 0;
    for (size_t i = at; i < at + width; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

}  // namespace

std::optional<Date> LocalTime::parse(std::string_view text, const std::string& zone) {
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' ||
        text[13] != ':' || text[16] != ':') {
        return std::nullopt;
    }
    auto year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2);
    auto hour = digits(text, 11, 2), minute = digits(text, 14, 2), second = digits(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
    if (*year < 1 || *month < 1 || *month > 12 || *day < 1 || *day > daysInMonth(*year, *month) ||
        *hour > 23 || *minute > 59 || *second > 59) {
        return std::nullopt;
    }
    std::string zoneName = zone.empty() ? defaultTimeZone() : zone;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::TimeZone> timeZone(
        icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zoneName)));
    icu::GregorianCalendar calendar(timeZone.release(), status);
    if (U_FAILURE(status)) return std::nullopt;
    calendar.setSkippedWallTimeOption(UCAL_WALLTIME_LAST);
    calendar.setRepeatedWallTimeOption(UCAL_WALLTIME_FIRST);
    calendar.clear();
    calendar.set(*year, *month - 1, *day, *hour, *minute, *second);
    UDate millis = calendar.getTime(status);
    if (U_FAILURE(status)) return std::nullopt;
    return Date::fromTimeIntervalSince1970(millis / 1000.0);
}

std::string LocalTime::defaultTimeZone() {
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createDefault());
    icu::UnicodeString id;
    zone->getID(id);
    std::string name;
    id.toUTF8String(name);
    return name;
}

void LocalTime::setDefaultTimeZone(const std::string& zone) {
    icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zone)));
}

}  // namespace ns
