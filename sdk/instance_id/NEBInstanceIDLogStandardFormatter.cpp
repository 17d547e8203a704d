#include "sdk/instance_id/NEBInstanceIDLogStandardFormatter.h"

#include <cmath>
#include <ctime>

#include "platform/dispatch/Clock.h"

namespace {

std::string currentDateText() {
    double now = dispatch::Clock::current().wallTime();
    double whole = std::floor(now);
    auto seconds = static_cast<time_t>(whole);
    int millis = static_cast<int>((now - whole) * 1000.0);
    if (millis > 999) millis = 999;
    struct tm parts {};
    localtime_r(&seconds, &parts);
    char buffer[40];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &parts);
    char withMillis[48];
    std::snprintf(withMillis, sizeof withMillis, "%s.%03d", buffer, millis);
    return withMillis;
}

}  // namespace

std::string NEBInstanceIDLogStandardFormatter::stringForLogLevel(int level) {
    switch (level) {
        case 0:
            return "DEBUG";
        case 2:
            return "WARNING";
        case 3:
            return "ERROR";
        default:
            return "INFO";
    }
}

std::string NEBInstanceIDLogStandardFormatter::stringForFunc(std::string_view,
                                                             std::string_view message,
                                                             NEBInstanceIDLogLevel level) const {
    return currentDateText() + ": <NEBInstanceID/" + stringForLogLevel(static_cast<int>(level)) +
           "> " + std::string(message);
}
