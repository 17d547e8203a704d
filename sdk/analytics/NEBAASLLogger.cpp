#include "sdk/analytics/NEBAASLLogger.h"

#include <algorithm>

#include "platform/ns/Log.h"

int32_t NEBAASLLogger::ASLLevelFromLogLevel(int64_t logLevel, int32_t maxASLLevel) {
    return std::min(NEBALogLevelFacts::of(logLevel).systemLogLevel, maxASLLevel);
}

void NEBAASLLogger::logMessage(const std::string& message, int64_t logLevel) {
    // System-log levels 0 emergency to 7 debug, as the process's log grades them.
    using L = ns::LogLevel;
    static constexpr L kProcessLevel[] = {L::Fault,   L::Fault,   L::Fault, L::Error,
                                          L::Default, L::Default, L::Info,  L::Debug};
    const int32_t level = ASLLevelFromLogLevel(logLevel, maxASLLevel_);
    ns::Log::write(level >= 0 && level < 8 ? kProcessLevel[level] : L::Debug, kFacility, {},
                   message);
}
