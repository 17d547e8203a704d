#pragma once

#include <memory>

#include "sdk/core/NEBBackoff.h"
#include "sdk/core/NEBRequestSession.h"

namespace sec {
class Keychain;
}  // namespace sec

// What the SDK's parts stand on, made once by the core (NEBApp::services()) and handed to each
// part by constructor: the keychain their items live in, the limits of each kind of request
// they send (NEBRequestSession) and their retry rules. Their log lines go through the
// process's log (ns::Log), each part's logger being a face on it. Immutable; any thread.
class NEBServices {
public:
    NEBServices(sec::Keychain& keychain, NEBRequestPolicies requests, NEBBackoffPolicies backoff)
        : keychain_(keychain), requests_(std::move(requests)), backoff_(std::move(backoff)) {}
    // The process's keychain, the standard limits and rules.
    static std::shared_ptr<const NEBServices> standard();

    sec::Keychain& keychain() const { return keychain_; }
    const NEBRequestPolicies& requests() const { return requests_; }
    const NEBBackoffPolicies& backoff() const { return backoff_; }

private:
    sec::Keychain& keychain_;
    const NEBRequestPolicies requests_;
    const NEBBackoffPolicies backoff_;
};
