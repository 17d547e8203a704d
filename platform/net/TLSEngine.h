#pragma once

#include <memory>
#include <string>

#include "platform/net/ServerTrust.h"
#include "platform/net/TLSSession.h"
#include "platform/ns/Object.h"
#include "platform/ns/Result.h"

namespace net {

// TLS sessions and certificate chains, on the TLS library. It lives in a module of the program
// (rt::ModuleLoader), loaded at the first secure connection or trust evaluation, together with
// the digests and keys (sec::CryptoEngine). Both trust the system's authorities and those of
// TLSSettings' extra file, and always check the host's name.
class TLSEngine : public ns::Object {
public:
    static constexpr const char* kClassName = "NETTLSEngine";

    // The engine; null when its module cannot be loaded.
    static std::shared_ptr<const TLSEngine> loaded();

    ~TLSEngine() override;

    // A client session on the connected socket `fd` for `host` (a name or an address), with TLS
    // 1.2 at least; an error when it cannot be set up.
    virtual ns::Result<std::unique_ptr<TLSSession>> clientSession(
        int fd, const std::string& host) const = 0;
    // ServerTrust::evaluate's default policy.
    virtual ns::Result<TrustResultType> evaluate(const ServerTrust& trust) const = 0;
};

}  // namespace net
