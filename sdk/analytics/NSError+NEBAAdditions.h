#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/ns/Error.h"

// The analytics error: its own domain, a code, the description, and a short context string
// that the monitor collects into the sampled health data.
inline constexpr const char* kNEBAErrorDomain = "com.nebula.nmp.measurement.ErrorDomain";
inline constexpr const char* kNEBAMonitorContextKey = "NEBAMonitorContext";

ns::Error neba_errorWithCode(int64_t code, std::string_view description,
                             std::string_view monitorContext = {});

// The context string an analytics error carries, or "" for any other error.
std::string neba_monitorContext(const ns::Error& error);
