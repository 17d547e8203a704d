#include "signin/DSURLProtocol.h"

void DSURLProtocol::addCorrelationId(const std::optional<ns::UUID>& correlationId,
                                     net::URLRequest& request) {
    if (!correlationId) return;
    request.mutableProtocolProperties()[kCorrelationIdKey] = correlationId->UUIDString();
}
