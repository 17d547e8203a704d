#pragma once

#include <cstdint>

// Severity of a toolbox log line. Writers also receive levels outside this range from
// other writers; each decides what to do with them.
using TBXLogLevel = int32_t;

inline constexpr TBXLogLevel kTBXLogLevelUnknown = 0;
inline constexpr TBXLogLevel kTBXLogLevelDebug = 1;
inline constexpr TBXLogLevel kTBXLogLevelInfo = 2;
inline constexpr TBXLogLevel kTBXLogLevelError = 3;
inline constexpr TBXLogLevel kTBXLogLevelAssert = 4;
