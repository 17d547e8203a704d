#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "services/peers/HttpsServer.h"

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

    // The interactive sign-in of a tenant. GET "/TENANT/oauth2/authorize" answers a page with a
    // sign-in form (fields "username", filled with the request's login_hint, "password", button
    // "submit"); the form's POST to "/TENANT/oauth2/login" redirects to the request's redirect
    // URI with a one-time code and the request's state, or with the error set by failSignIns. The
    // token endpoint redeems a code once, for the client and redirect URI it was issued to, and
    // only with the code_verifier whose SHA-256 (base64url) is the code_challenge of the authorize
    // request; the refresh token it answers with is then granted like those of grant().
    void serveSignIn(const std::string& tenant);
    // What the form does when `user` signs in on the authorize page: the URL the page is sent
    // to. For tests that play the page themselves.
    std::string signIn(const std::string& authorizeQuery, const std::string& user);
    // From now on sign-ins end with this error (error_description too); nothing: with a code.
    void failSignIns(std::optional<std::string> error);
    // From now on the authorize page answers a 302 to this address instead of its form;
    // nothing: the form again.
    void redirectAuthorizeTo(std::optional<std::string> location);
    // Codes redeemed with the verifier that matched their challenge.
    size_t verifiedCodes() const;
    static std::string s256(const std::string& verifier);

    // "https://127.0.0.1:PORT", the trusted authority to ask.
    std::string authority() const { return server_.baseURL(); }

private:
    struct Code {
        std::string user;
        std::string clientId;
        std::string redirectUri;
        std::string resource;
        std::string challenge;
        std::string method;
    };

    HttpResponse answerToken(const HttpRequest& request);
    HttpResponse answerAuthorize(const HttpRequest& request, const std::string& login);
    HttpResponse redeemCode(const std::map<std::string, std::string>& form) REQUIRES(mutex_);
    static HttpResponse tokensFor(const Grant& grant);

    HttpsServer& server_;
    mutable dispatch::Mutex mutex_;
    std::map<std::string, Grant> grants_ GUARDED_BY(mutex_);
    std::vector<std::map<std::string, std::string>> forms_ GUARDED_BY(mutex_);
    std::map<std::string, Code> codes_ GUARDED_BY(mutex_);
    std::optional<std::string> signInError_ GUARDED_BY(mutex_);
    std::optional<std::string> authorizeRedirect_ GUARDED_BY(mutex_);
    size_t issued_ GUARDED_BY(mutex_) = 0;
    size_t verified_ GUARDED_BY(mutex_) = 0;
};

}  // namespace peers
