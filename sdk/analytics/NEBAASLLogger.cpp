#include "sdk/analytics/NEBAASLLogger.h"

#include <algorithm>

#include "platform/ns/Log.h"

int32_t NEBAASLLogger::ASLLevelFromLogLevel(int64_t logLevel, int32_t maxASLLevel) {
    int32_t level = 4;
    if (logLevel >= 0 && logLevel <= 2) {
        level = 3;
    } else if (logLevel == 6) {
        level = 5;
    } else if (logLevel == 7) {
        level = 7;
    }
    return std::min(level, maxASLLevel);
}

void NEBAASLLogger::logMessage(const std::string& message, int64_t logLevel) {
    // System-log levels: 3 error, 4 warning, 5 notice, 6 info, 7 debug.
    ns::LogLevel level = ns::LogLevel::Debug;
    switch (ASLLevelFromLogLevel(logLevel, maxASLLevel_)) {
        case 0:
        case 1:
        case 2:
            level = ns::LogLevel::Fault;
            break;
        case 3:
            level = ns::LogLevel::Error;
            break;
        case 4:
        case 5:
            level = ns::LogLevel::Default;
            break;
        case 6:
            level = ns::LogLevel::Info;
            break;
        default:
            level = ns::LogLevel::Debug;
            break;
    }
    ns::Log::write(level, kFacility, {}, message);
}
