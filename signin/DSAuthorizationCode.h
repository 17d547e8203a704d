#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/URL.h"
#include "platform/ns/UUID.h"
#include "signin/DSAuthenticationError.h"

// The authorization-code leg of an interactive sign-in: the authorize URL that the sign-in page
// opens, and the code read back from the end URL that the service sends the page to. The code
// is bound to this client by a proof key (RFC 7636, S256), so that another program that catches
// the end URL cannot redeem it.
class DSAuthorizationCode {
public:
    struct ProofKey {
        std::string verifier;   // 43 characters of base64url, from 32 random bytes
        std::string challenge;  // base64url of the verifier's SHA-256
        static ProofKey make();
        static std::string challengeFor(std::string_view verifier);
    };

    struct Parameters {
        std::string authority;
        std::string clientId;
        std::string redirectUri;
        std::optional<std::string> resource;
        std::string state;
        std::optional<ns::UUID> correlationId;
        std::optional<std::string> loginHint;
        std::optional<std::string> prompt;
        // As the application gives them, in form encoding; names this request sets are dropped.
        std::optional<std::string> extraQueryParameters;
        std::string codeChallenge;
    };

    // A fresh, unguessable state for one sign-in.
    static std::string newState();
    // "<authority>/oauth2/authorize?..." with every parameter; nothing when the authority does
    // not make a URL.
    static std::optional<ns::URL> authorizeURL(const Parameters& parameters);

    struct Answer {
        std::optional<std::string> code;
        std::optional<DSAuthenticationError> error;
    };
    // The code of an end URL that answers this sign-in (its state is `state`), or the error: the
    // one the service sent, or why the end URL is no answer to this request.
    static Answer readEndURL(const ns::URL& endURL, const std::string& state,
                             const std::optional<ns::UUID>& correlationId);
};
