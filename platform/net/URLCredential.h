#pragma once

#include <memory>

#include "platform/net/ServerTrust.h"

namespace net {

// An answer to an authentication challenge. Only server-trust credentials exist here.
class URLCredential {
public:
    // Nothing when there is no trust to vouch for.
    static std::shared_ptr<const URLCredential> credentialForTrust(
        std::shared_ptr<const ServerTrust> trust) {
        if (!trust) return nullptr;
        return std::shared_ptr<const URLCredential>(new URLCredential(std::move(trust)));
    }

    const std::shared_ptr<const ServerTrust>& serverTrust() const { return trust_; }

private:
    explicit URLCredential(std::shared_ptr<const ServerTrust> trust) : trust_(std::move(trust)) {}
    std::shared_ptr<const ServerTrust> trust_;
};

}  // namespace net
