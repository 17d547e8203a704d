#pragma once

#include <cstdint>

// Wall-clock milliseconds since 1970, truncated.
int64_t NEBCoreTimeMillis();
// Milliseconds since the system booted, from the wall clock and the boot time; 0 when the boot
// time is unknown.
int64_t NEBCoreUptimeMillis();
