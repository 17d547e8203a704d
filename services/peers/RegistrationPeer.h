#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "services/peers/HttpsServer.h"

namespace peers {

// One registration request as the service reads it: the body split at "&", each field at its
// first "=", nothing form-decoded.
struct RegistrationRequest {
    std::string authorization;
    std::string app;
    std::string info;
    std::map<std::string, std::string> fields;
    std::vector<std::string> problems;  // what the checks below found wrong

    std::string field(const std::string& name) const {
        auto found = fields.find(name);
        return found == fields.end() ? std::string() : found->second;
    }
    bool isDelete() const { return field("delete") == "true"; }
};

// The token registration service on a loopback server: POST "/iid/register". Every request is
// checked independently of the client's code: the authorization header against the expected
// credential, X-kid growing by one per request, pub2 as PKCS#1 RSAPublicKey DER in 64-column
// base 64, appid derived from pub2, and sig verified with the public key over "app\npub2".
// Answers are scripted in order and the last one stays; an answer scripted once the earlier
// ones have all been used replaces the one that stayed. The default answers a token made of
// the request's X-kid and "tok-<n>".
class RegistrationPeer {
public:
    using Answer = std::function<HttpResponse(const RegistrationRequest&)>;

    explicit RegistrationPeer(HttpsServer& server);

    void answer(Answer answer);
    // "token=<kid>:<token>", with "X-iid-auth" when given.
    static Answer token(std::string token, std::optional<std::string> iidAuth = std::nullopt);
    static Answer text(std::string body, int status = 200);
    static Answer hang();

    // The credential that requests must carry after "AidLogin " (empty: not checked).
    void expectAuthorization(std::string credential);

    // The problem with a signature over `text` by the key whose PKCS#1 DER is `publicKeyDER`:
    // raw RSA blocks of the key's size, the last block of text left-padded with zeros.
    static std::optional<std::string> signatureProblem(const std::string& publicKeyDER,
                                                       const std::string& text,
                                                       const std::string& signature);
    // The 11-character identifier derived from a public key's DER.
    static std::string appIDForPublicKey(const std::string& publicKeyDER);
    static std::string decodeBase64(const std::string& text, bool webSafe);

    std::vector<RegistrationRequest> requests() const;
    size_t count() const;
    // Every problem of every request so far, prefixed with the request's position.
    std::vector<std::string> problems() const;

private:
    HttpResponse handle(const HttpRequest& request);
    void check(RegistrationRequest& request) REQUIRES(mutex_);

    HttpsServer& server_;
    mutable dispatch::Mutex mutex_;
    std::deque<Answer> answers_ GUARDED_BY(mutex_);
    std::vector<RegistrationRequest> requests_ GUARDED_BY(mutex_);
    std::string expectedCredential_ GUARDED_BY(mutex_);
    std::optional<uint64_t> lastKid_ GUARDED_BY(mutex_);
    bool frontUsed_ GUARDED_BY(mutex_) = false;
};

}  // namespace peers
