#pragma once

#include <optional>
#include <string>

#include "platform/ns/UUID.h"

// What web requests and cache operations take of a request: its correlation identifier and
// its telemetry request id.
class DSRequestContext {
public:
    virtual ~DSRequestContext() = default;
    virtual std::optional<ns::UUID> correlationId() const = 0;
    virtual std::optional<std::string> telemetryRequestId() const = 0;
};
