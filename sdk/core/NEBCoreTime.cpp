#include "sdk/core/NEBCoreTime.h"

#include <cmath>

#include "platform/dispatch/Clock.h"
#include "platform/sys/DeviceFacts.h"

int64_t NEBCoreTimeMillis() {
    return static_cast<int64_t>(dispatch::Clock::current().wallTime() * 1000.0);
}

int64_t NEBCoreUptimeMillis() {
    auto boot = sys::DeviceFacts::current().bootTime();
    if (!boot || boot->seconds == 0) return 0;
    double wall = dispatch::Clock::current().wallTime();
    double seconds = std::floor(wall);
    auto micros = static_cast<int64_t>((wall - seconds) * 1e6);
    int64_t now = static_cast<int64_t>(seconds) * 1000 + micros / 1000;
    return now - (boot->seconds * 1000 + boot->microseconds / 1000);
}
