#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "sdk/core/NEBLogPipeline.h"

// Levels of instance identity's log lines.
enum class NEBInstanceIDLogLevel : int8_t { Debug = 0, Info = 1, Error = 2, Assert = 3 };

// The subsystem of instance identity's lines in the process's log.
inline constexpr const char* kNEBInstanceIDLogSubsystem = "com.nebula.iid";

using NEBInstanceIDLogFormatter = NEBLogPipeline<NEBInstanceIDLogLevel>::Formatter;
using NEBInstanceIDLogFilter = NEBLogPipeline<NEBInstanceIDLogLevel>::Filter;
using NEBInstanceIDLogWriter = NEBLogPipeline<NEBInstanceIDLogLevel>::Writer;

// Instance identity's logger: filter, formatter, writer (see NEBLogPipeline).
class NEBInstanceIDLogger : public NEBLogPipeline<NEBInstanceIDLogLevel> {
public:
    using NEBLogPipeline::NEBLogPipeline;
    // Standard output, the standard formatter, a level filter at 0.
    static std::shared_ptr<NEBInstanceIDLogger> standardLogger();
};

// The process-wide logger, made once.
NEBInstanceIDLogger& NEBInstanceIDSharedLogger();

#define NEBInstanceIDLoggerDebug(...) \
    NEBInstanceIDSharedLogger().log(NEBInstanceIDLogLevel::Debug, __func__, __VA_ARGS__)
#define NEBInstanceIDLoggerInfo(...) \
    NEBInstanceIDSharedLogger().log(NEBInstanceIDLogLevel::Info, __func__, __VA_ARGS__)
#define NEBInstanceIDLoggerError(...) \
    NEBInstanceIDSharedLogger().log(NEBInstanceIDLogLevel::Error, __func__, __VA_ARGS__)
#define NEBInstanceIDLoggerAssert(...) \
    NEBInstanceIDSharedLogger().log(NEBInstanceIDLogLevel::Assert, __func__, __VA_ARGS__)

// What logs print of a secret (token, device secret): the first 7 hexadecimal digits of its
// SHA-256 digest and its length, never the text.
std::string NEBInstanceIDLogHash(std::string_view secret);
