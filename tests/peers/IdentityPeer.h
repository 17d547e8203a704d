#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tests/peers/HttpsServer.h"

namespace peers {

// The directory's identity service on a loopback server. Instance discovery answers
// GET "/common/discovery/instance" as scripted; the token endpoint of a tenant answers refresh
// token grants by the token redeemed. Every request is recorded by the server, so tests read
// back the headers, queries and forms that reached it.
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

    // What the token endpoint answers to one refresh token.
    struct Grant {
        std::string user;  // the id_token's upn (an unsigned token)
        std::string accessToken;
        std::string refreshToken;
        std::string resource;  // the answer names it: a multi-resource refresh token
        int expiresIn = 3600;
        bool family = true;  // with the family id "1"
    };

    // Serves POST "/TENANT/oauth2/token"; unknown refresh tokens get "invalid_grant".
    void serveTokens(const std::string& tenant);
    void grant(const std::string& refreshToken, Grant answer);
    // The form fields of each token request, in order (values decoded).
    std::vector<std::map<std::string, std::string>> tokenForms() const;
    static std::map<std::string, std::string> parseForm(const std::string& body);
    static std::string unsignedIdToken(const std::string& user);

    // "https://127.0.0.1:PORT", the trusted authority to ask.
    std::string authority() const { return server_.baseURL(); }

private:
    HttpResponse answerToken(const HttpRequest& request);

    HttpsServer& server_;
    mutable std::mutex mutex_;
    std::map<std::string, Grant> grants_;
    std::vector<std::map<std::string, std::string>> forms_;
};

}  // namespace peers
