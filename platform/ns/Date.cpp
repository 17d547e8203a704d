#include "platform/ns/Date.h"

#include <chrono>
#include <cmath>
#include <cstdio>

#include "platform/dispatch/Clock.h"

namespace ns {

Date Date::now() {
    return fromTimeIntervalSince1970(dispatch::Clock::current().wallTime());
}

std::string Date::description() const {
    using namespace std::chrono;
    // Whole seconds, rounded down; beyond the distant past and future there is nothing useful
    // to print, and clamping keeps the calendar arithmetic in range.
    // The whole second taken before the shift to 1970, which is exact for whole seconds.
    double s = std::isnan(seconds_) ? 0.0 : std::floor(seconds_) + kReferenceDateOffset;
    s = std::fmax(std::fmin(s, 9e11), -9e11);
    const sys_seconds t{std::chrono::seconds(static_cast<int64_t>(s))};
    const sys_days day = floor<days>(t);
    const year_month_day ymd{day};
    const hh_mm_ss<std::chrono::seconds> hms{t - day};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02d:%02d:%02d +0000", int(ymd.year()),
                  unsigned(ymd.month()), unsigned(ymd.day()), int(hms.hours().count()),
                  int(hms.minutes().count()), int(hms.seconds().count()));
    return buf;
}

}  // namespace ns
