#include "sdk/messaging/NEBMessagingLogStandardFormatter.h"

#include <cmath>
#include <ctime>

#include "platform/dispatch/Clock.h"
#include "platform/ns/Format.h"

namespace {

// "yyyy-MM-dd HH:mm:ss.SSS" in local time, from the process clock so tests see fixed text.
std::string localTimestamp() {
    double wall = dispatch::Clock::current().wallTime();
    double whole = std::floor(wall);
    auto seconds = static_cast<time_t>(whole);
    int millis = static_cast<int>((wall - whole) * 1000.0);
    struct tm parts {};
    localtime_r(&seconds, &parts);
    char text[32];
    size_t n = strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    snprintf(text + n, sizeof text - n, ".%03d", millis);
    return text;
}

}  // namespace

const char* NEBMessagingLogStandardFormatter::labelForLevel(int level) {
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

std::string NEBMessagingLogStandardFormatter::stringForFunc(std::string_view,
                                                            std::string_view message,
                                                            int level) const {
    return ns::format("%@: <%@/%@> %@", localTimestamp(), "NEBMessaging", labelForLevel(level),
                      std::string(message));
}
