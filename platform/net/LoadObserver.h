#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/net/ServerTrust.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"
#include "platform/ns/Data.h"
#include "platform/ns/Error.h"

namespace net {

// What a load reports to its task, from whatever thread the load runs on. Every report names
// the load (the number the task gave it), so that reports of a load the task has moved on from
// are ignored.
class LoadObserver {
public:
    virtual ~LoadObserver() = default;

    // A new TLS connection to host:port was made and its chain verified.
    virtual void loadDidConnectSecurely(uint64_t load, std::shared_ptr<const ServerTrust> trust,
                                        int port) = 0;
    virtual void loadDidReceiveResponse(uint64_t load,
                                        std::shared_ptr<const URLResponse> response) = 0;
    // False when the task wants no more bytes (it has failed or been cancelled).
    virtual bool loadDidReceiveData(uint64_t load, const uint8_t* bytes, size_t length) = 0;
    // The answer is a redirection to `request`; `body` is the redirection's own body.
    virtual void loadWasRedirected(uint64_t load, URLRequest request,
                                   std::shared_ptr<const URLResponse> response, ns::Data body) = 0;
    virtual void loadDidFinish(uint64_t load, std::optional<ns::Error> error) = 0;
};

}  // namespace net
