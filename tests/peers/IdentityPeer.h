#pragma once

#include <string>
#include <vector>

#include "tests/peers/HttpsServer.h"

namespace peers {

// The directory's identity service on a loopback server. Instance discovery answers
// GET "/common/discovery/instance" as scripted; every request is recorded by the server, so
// tests read back the headers and queries that reached it.
class IdentityPeer {
public:
    static constexpr const char* kDiscoveryPath = "/common/discovery/instance";

    enum class Discovery {
        Valid,                     // 200 with a tenant discovery endpoint
        BadRequestWithEndpoint,    // 400 that still names an endpoint
        UnauthorizedWithEndpoint,  // 401 that still names an endpoint
        InvalidInstance,           // 400 with "error" and "error_description"
        ErrorWithoutDescription,   // 400 with "error" alone
        ServerError,               // 500 with a text body
        Array,                     // 200 with a JSON array
        Empty,                     // 200 with no body
        Malformed,                 // 200 with text that is not JSON
        RedirectToHttps,           // 302 to a second discovery path on this server
        RedirectToHttp,            // 302 to a plain-HTTP address
        Closed,                    // the connection closes unanswered
    };

    explicit IdentityPeer(HttpsServer& server);

    // Queues the answer of the next discovery request; the last one queued stays.
    void answerDiscovery(Discovery answer);
    std::vector<HttpRequest> discoveryRequests() const;

    // "https://127.0.0.1:PORT", the trusted authority to ask.
    std::string authority() const { return server_.baseURL(); }

private:
    HttpsServer& server_;
};

}  // namespace peers
