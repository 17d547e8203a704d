#pragma once

#include <cstdint>

#include "platform/ns/LogPipeline.h"

// Severity of a toolbox log line. Writers also receive levels outside this range from
// other writers; each decides what to do with them.
using TBXLogLevel = int32_t;

inline constexpr TBXLogLevel kTBXLogLevelUnknown = 0;
inline constexpr TBXLogLevel kTBXLogLevelDebug = 1;
inline constexpr TBXLogLevel kTBXLogLevelInfo = 2;
inline constexpr TBXLogLevel kTBXLogLevelError = 3;
inline constexpr TBXLogLevel kTBXLogLevelAssert = 4;

// The three parts of the toolbox's logger: a formatter turns the caller's message into one
// line (nothing drops it), a filter decides by level and line, a writer puts the line out.
using TBXLogFormatter = ns::LogPipeline<TBXLogLevel>::Formatter;
using TBXLogFilter = ns::LogPipeline<TBXLogLevel>::Filter;
using TBXLogWriter = ns::LogPipeline<TBXLogLevel>::Writer;
