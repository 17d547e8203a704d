#include "sdk/analytics/NEBAASLLogger.h"

#include <algorithm>

#include "platform/ns/Log.h"

int32_t NEBAASLLogger::ASLLevelFromLogLevel(int64_t logLevel, int32_t maxASLLevel) {
    return std::min(NEBALogLevelFacts::of(logLevel).systemLogLevel, maxASLLevel);
}

void NEBAASLLogger::logMessage(const std::string& message, int64_t logLevel) {
    ns::Log::write(ns::Log::levelForPriority(ASLLevelFromLogLevel(logLevel, maxASLLevel_)),
                   kFacility, {}, message);
}
