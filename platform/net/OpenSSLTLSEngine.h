#pragma once

#include "platform/net/TLSEngine.h"

namespace net {

// The TLS engine on OpenSSL. Announced to the module loader as TLSEngine::kClassName.
class OpenSSLTLSEngine : public TLSEngine {
public:
    ns::Result<std::unique_ptr<TLSSession>> clientSession(int fd,
                                                          const std::string& host) const override;
    ns::Result<TrustResultType> evaluate(const ServerTrust& trust) const override;
};

}  // namespace net
