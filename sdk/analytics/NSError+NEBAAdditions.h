#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/ns/Error.h"

// The analytics error: its own domain, a code, the description, and a short context string
// that the monitor collects into the sampled health data.
inline constexpr const char* kNEBAErrorDomain = "com.nebula.nmp.measurement.ErrorDomain";
inline constexpr const char* kNEBAMonitorContextKey = "NEBAMonitorContext";

// The codes of errors in kNEBAErrorDomain (the "_err" events have codes of their own).
struct NEBADomainCode {
    enum : int64_t { BadArgument = 1, WrongState = 2, Database = 3 };
    // Where an audience definition is wrong.
    enum AudiencePart : int64_t { Audience = 9, EventFilter = 10, PropertyFilter = 11 };
};

ns::Error neba_errorWithCode(int64_t code, std::string_view description,
                             std::string_view monitorContext = {});

// The errors of a call made with a bad argument, or in a state that does not allow it.
inline ns::Error neba_argumentError(std::string_view description) {
    return neba_errorWithCode(NEBADomainCode::BadArgument, description);
}
inline ns::Error neba_stateError(std::string_view description) {
    return neba_errorWithCode(NEBADomainCode::WrongState, description);
}

// The context string an analytics error carries, or "" for any other error.
std::string neba_monitorContext(const ns::Error& error);
