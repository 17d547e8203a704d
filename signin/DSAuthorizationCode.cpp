#include "signin/DSAuthorizationCode.h"

#include <set>

#include "platform/sec/Digest.h"
#include "platform/sec/Random.h"
#include "signin/DSLogger.h"
#include "signin/DSStringHelpers.h"

namespace {

constexpr size_t kVerifierBytes = 32;

DSAuthenticationError notAnAnswer(const std::string& details,
                                  const std::optional<ns::UUID>& correlationId) {
    return DSAuthenticationError::errorFromAuthenticationError(
        DS_ERROR_SERVER_AUTHORIZATION_CODE, std::nullopt, details, correlationId);
}

// The one value of a name, nothing when absent; `ambiguous` is set when it comes twice.
std::optional<std::string> single(const DSFormPairs& pairs, std::string_view name,
                                  bool& ambiguous) {
    std::optional<std::string> found;
    for (const auto& [key, value] : pairs) {
        if (key != name) continue;
        if (found) ambiguous = true;
        found = value;
    }
    return found;
}

}  // namespace

DSAuthorizationCode::ProofKey DSAuthorizationCode::ProofKey::make() {
    ProofKey key;
    key.verifier = adBase64UrlEncodeData(sec::randomBytes(kVerifierBytes).chars());
    key.challenge = challengeFor(key.verifier);
    return key;
}

std::string DSAuthorizationCode::ProofKey::challengeFor(std::string_view verifier) {
    return adBase64UrlEncodeData(sec::sha256(verifier).chars());
}

std::string DSAuthorizationCode::newState() {
    return adBase64UrlEncodeData(sec::randomBytes(16).chars());
}

std::optional<ns::URL> DSAuthorizationCode::authorizeURL(const Parameters& p) {
    std::string authority = p.authority;
    while (!authority.empty() && authority.back() == '/') authority.pop_back();
    DSFormPairs pairs = {
        {"response_type", "code"},           {"client_id", p.clientId},
        {"redirect_uri", p.redirectUri},     {"state", p.state},
        {"code_challenge", p.codeChallenge}, {"code_challenge_method", "S256"},
    };
    if (p.resource) pairs.emplace_back("resource", *p.resource);
    if (p.correlationId) pairs.emplace_back("client-request-id", p.correlationId->UUIDString());
    if (p.loginHint) pairs.emplace_back("login_hint", *p.loginHint);
    if (p.prompt) pairs.emplace_back("prompt", *p.prompt);
    for (const auto& [key, value] : DSLogger::salId()) pairs.emplace_back(key, value.stringValue());

    std::set<std::string> ours;
    for (const auto& pair : pairs) ours.insert(pair.first);
    if (p.extraQueryParameters) {
        std::string extra = *p.extraQueryParameters;
        if (!extra.empty() && (extra.front() == '&' || extra.front() == '?')) extra.erase(0, 1);
        for (auto& [key, value] : dsURLFormDecode(extra)) {
            // The request's own parameters are not the application's to change (a second
            // redirect_uri or state would make the answer another request's).
            if (ours.count(key)) {
                DSLogger::logFormat(DS_LOG_LEVEL_WARN, nullptr, "Extra query parameter left out", 0,
                                    p.correlationId, nullptr, "The request sets \"%@\" itself.",
                                    key);
                continue;
            }
            pairs.emplace_back(std::move(key), std::move(value));
        }
    }
    return ns::URL::parse(authority + "/oauth2/authorize?" + dsURLFormEncodePairs(pairs));
}

DSAuthorizationCode::Answer DSAuthorizationCode::readEndURL(
    const ns::URL& endURL, const std::string& state, const std::optional<ns::UUID>& correlationId) {
    DSFormPairs pairs = dsURLFormDecode(endURL.query().value_or(""));
    bool ambiguous = false;
    // An answer sent in the fragment (as some services do for native clients) reads the same.
    if (!single(pairs, "code", ambiguous) && !single(pairs, "error", ambiguous) &&
        endURL.fragment()) {
        pairs = dsURLFormDecode(*endURL.fragment());
    }
    const std::optional<std::string> error = single(pairs, "error", ambiguous);
    const std::optional<std::string> code = single(pairs, "code", ambiguous);
    const std::optional<std::string> returnedState = single(pairs, "state", ambiguous);
    if (ambiguous) {
        return {std::nullopt,
                notAnAnswer("The authorization answer names a parameter twice.", correlationId)};
    }
    if (error) {
        const std::optional<std::string> description =
            single(pairs, "error_description", ambiguous);
        return {std::nullopt,
                DSAuthenticationError::errorFromAuthenticationError(
                    DS_ERROR_SERVER_OAUTH, error, description.value_or(*error), correlationId)};
    }
    if (returnedState != state) {
        return {std::nullopt,
                notAnAnswer("The state returned by the server does not match the request.",
                            correlationId)};
    }
    if (dsIsStringNilOrBlank(code)) {
        return {std::nullopt,
                notAnAnswer("The server did not return an authorization code.", correlationId)};
    }
    return {code, std::nullopt};
}
