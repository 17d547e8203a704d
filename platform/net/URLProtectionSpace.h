#pragma once

#include <memory>
#include <string>

#include "platform/net/ServerTrust.h"

namespace net {

// Authentication methods, by the platform's names.
inline constexpr const char* kURLAuthenticationMethodServerTrust =
    "NSURLAuthenticationMethodServerTrust";
inline constexpr const char* kURLAuthenticationMethodNTLM = "NSURLAuthenticationMethodNTLM";

// What a challenge is about: a host, port and protocol, the method of authentication and, for
// server trust, the chain the server presented (which may be missing).
class URLProtectionSpace {
public:
    URLProtectionSpace(std::string host, int port, std::string protocol,
                       std::string authenticationMethod,
                       std::shared_ptr<const ServerTrust> serverTrust = nullptr)
        : host_(std::move(host)),
          port_(port),
          protocol_(std::move(protocol)),
          method_(std::move(authenticationMethod)),
          trust_(std::move(serverTrust)) {}

    const std::string& host() const { return host_; }
    int port() const { return port_; }
    const std::string& protocol() const { return protocol_; }
    const std::string& authenticationMethod() const { return method_; }
    const std::shared_ptr<const ServerTrust>& serverTrust() const { return trust_; }

private:
    std::string host_;
    int port_;
    std::string protocol_;
    std::string method_;
    std::shared_ptr<const ServerTrust> trust_;
};

}  // namespace net
