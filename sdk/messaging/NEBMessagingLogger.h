#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "sdk/core/NEBLogPipeline.h"

// Levels of the messaging library's log lines.
enum class NEBMessagingLogLevel : int8_t { Debug = 0, Info = 1, Error = 2, Assert = 3 };

// The subsystem of messaging's lines in the process's log.
inline constexpr const char* kNEBMessagingLogSubsystem = "com.nebula.messaging";

using NEBMessagingLogFormatter = NEBLogPipeline<NEBMessagingLogLevel>::Formatter;
using NEBMessagingLogFilter = NEBLogPipeline<NEBMessagingLogLevel>::Filter;
using NEBMessagingLogWriter = NEBLogPipeline<NEBMessagingLogLevel>::Writer;

// The one logger of the messaging library: filter, formatter, writer (see NEBLogPipeline).
// A message without a format is not logged at all.
class NEBMessagingLogger : public NEBLogPipeline<NEBMessagingLogLevel> {
public:
    using NEBLogPipeline::NEBLogPipeline;
    // Standard output, the standard formatter, a level filter at 0.
    static std::shared_ptr<NEBMessagingLogger> standardLogger();

    template <class... Args>
    void logFuncDebug(std::string_view func, std::string_view format, const Args&... args) {
        logInternalFunc(NEBMessagingLogLevel::Debug, func, format, args...);
    }
    template <class... Args>
    void logFuncInfo(std::string_view func, std::string_view format, const Args&... args) {
        logInternalFunc(NEBMessagingLogLevel::Info, func, format, args...);
    }
    template <class... Args>
    void logFuncError(std::string_view func, std::string_view format, const Args&... args) {
        logInternalFunc(NEBMessagingLogLevel::Error, func, format, args...);
    }
    template <class... Args>
    void logFuncAssert(std::string_view func, std::string_view format, const Args&... args) {
        logInternalFunc(NEBMessagingLogLevel::Assert, func, format, args...);
    }

private:
    template <class... Args>
    void logInternalFunc(NEBMessagingLogLevel level, std::string_view func, std::string_view format,
                         const Args&... args) {
        if (format.empty()) return;
        log(level, func, format, args...);
    }
};

// The process-wide messaging logger, made once.
NEBMessagingLogger& NEBMessagingSharedLogger();
