#pragma once

#include <optional>

#include "platform/net/URLRequest.h"
#include "platform/ns/UUID.h"

// The sign-in library's hooks on URL loading.
class DSURLProtocol {
public:
    // Key of the correlation-id tag among a request's protocol properties.
    static constexpr const char* kCorrelationIdKey = "correlationId";

    // Tags the request with the correlation id, so that the loads it leads to can be told
    // apart in the logs. Nothing changes without an id.
    static void addCorrelationId(const std::optional<ns::UUID>& correlationId,
                                 net::URLRequest& request);
};
