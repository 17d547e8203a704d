#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>

#include "sdk/analytics/NEBALogging.h"
#include "sdk/core/NEBCoreLogger.h"

// Writes the monitor's lines to the process's system log (which copies them to standard error)
// under the facility "com.nebula.NEBAASLLogger", at the system-log level of the monitor level
// but never less urgent than maxASLLevel allows.
class NEBAASLLogger : public NEBALogging {
public:
    static constexpr const char* kFacility = "com.nebula.NEBAASLLogger";

    NEBAASLLogger() : NEBAASLLogger(kNEBLoggerLevelDebug) {}
    explicit NEBAASLLogger(int32_t maxASLLevel) { setMaxASLLevel(maxASLLevel); }

    void logMessage(const std::string& message, int64_t logLevel) override;

    int32_t maxASLLevel() const { return maxASLLevel_; }
    void setMaxASLLevel(int32_t level) { maxASLLevel_ = std::min(level, kNEBLoggerLevelDebug); }

    // The level's system-log level (3 for errors, 4 for warnings and unnamed levels, 5 for
    // information, 7 for debugging), at most maxASLLevel.
    static int32_t ASLLevelFromLogLevel(int64_t logLevel, int32_t maxASLLevel);

private:
    std::atomic<int32_t> maxASLLevel_{kNEBLoggerLevelDebug};
};
