#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/net/Load.h"
#include "platform/net/LoadObserver.h"
#include "platform/net/URLRequest.h"
#include "platform/ns/Data.h"
#include "platform/ns/Object.h"
#include "platform/ns/Result.h"

namespace net {

// What moves HTTP(S) bytes for URL session tasks. It lives in a module of its own
// (rt::ModuleLoader), loaded when the first request is made; the TLS library it speaks
// through is loaded at the first secure connection.
class HTTPTransport : public ns::Object {
public:
    static constexpr const char* kClassName = "NETHTTPTransport";

    struct Limits {
        double idleTimeout = 60;           // seconds without bytes moving
        double resourceTimeout = 0;        // seconds for the whole exchange; 0: none
        uint64_t maximumResponseSize = 0;  // 0: none
    };
    // What is sent as the body: bytes, or the contents of a file.
    struct Body {
        std::optional<ns::Data> data;
        std::optional<std::string> file;
    };

    // The transport; null when its library cannot be loaded.
    static std::shared_ptr<const HTTPTransport> loaded();

    ~HTTPTransport() override;

    // Starts the exchange of `request`, reported to `observer` under the number `load`; the
    // error the task fails with when it cannot start (a bad URL, an unreadable body file).
    virtual ns::Result<std::shared_ptr<Load>> start(std::shared_ptr<LoadObserver> observer,
                                                    uint64_t load, URLRequest request, Body body,
                                                    Limits limits) const = 0;
};

}  // namespace net
