#pragma once

#include <string>
#include <vector>

#include "platform/ns/Data.h"
#include "platform/ns/Result.h"

namespace net {

// The platform's trust evaluation results.
enum class TrustResultType : int {
    Invalid = 0,
    Proceed = 1,
    Deny = 3,
    Unspecified = 4,  // the default policy accepts the chain and nobody overrode it
    RecoverableTrustFailure = 5,
    FatalTrustFailure = 6,
    OtherError = 7,
};

// The error domain of evaluation failures (status codes as the platform's).
inline constexpr const char* kOSStatusErrorDomain = "NSOSStatusErrorDomain";
inline constexpr int64_t kSecParamError = -50;

// The certificate chain a server presented for a host, as met during a TLS handshake.
// Immutable; usable from any thread.
class ServerTrust {
public:
    // `certificates` are DER encoded, the server's own first.
    ServerTrust(std::string host, std::vector<ns::Data> certificates);

    const std::string& host() const { return host_; }
    const std::vector<ns::Data>& certificates() const { return certificates_; }

    // The default policy: the chain leads to a trusted authority (TLSSettings), every
    // certificate is within its validity period and the server's certificate names the host.
    // Unspecified when it passes, RecoverableTrustFailure when it does not; an error (domain
    // kOSStatusErrorDomain) when the chain is empty or unreadable.
    ns::Result<TrustResultType> evaluate() const;

private:
    std::string host_;
    std::vector<ns::Data> certificates_;
};

}  // namespace net
