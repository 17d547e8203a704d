#pragma once

#include <string>
#include <vector>

#include "tests/peers/HttpsServer.h"

namespace peers {

// The measurement server's configuration endpoint (GET "/config/app/<app id>") on an
// HttpsServer: each scripted answer is a status with an optional configuration body (the
// serialised message, or any bytes) and an optional Last-Modified; the requests are read back.
class MeasurementPeer {
public:
    explicit MeasurementPeer(HttpsServer& server) : server_(server) {}

    // "127.0.0.1:PORT", the host part the client is configured with.
    std::string host() const;
    // Adds an answer for the app's configuration path (the path as the client must send it).
    void answerConfig(const std::string& encodedAppID, int status, std::string body = {},
                      std::string lastModified = {});
    std::vector<HttpRequest> configRequests() const;

private:
    HttpsServer& server_;
};

}  // namespace peers
