#pragma once

#include <openssl/types.h>

#include <memory>
#include <string>
#include <vector>

namespace peers {

// A server's certificate and key, as PEM text.
struct ServerIdentity {
    std::string certificatePEM;
    std::string privateKeyPEM;

    // A TLS server context (TLS 1.2 or later) presenting this identity.
    std::shared_ptr<SSL_CTX> makeServerContext() const;
};

// A certificate authority made at test time (P-256 keys, SHA-256 signatures), with its
// certificate written to a PEM file in a temporary directory that goes with the object. Tests
// trust it through net::TLSSettings::setExtraCAFile(caFile()); a second TestCA that is not
// trusted stands in for an unknown issuer.
class TestCA {
public:
    explicit TestCA(std::string commonName = "Loopback Test CA");
    ~TestCA();
    TestCA(const TestCA&) = delete;
    TestCA& operator=(const TestCA&) = delete;

    const std::string& caFile() const { return caFile_; }
    const std::string& certificatePEM() const { return caPEM_; }

    // A server certificate for the names (DNS names and IP addresses), valid from an hour ago
    // for a day, or, when `expired`, for a day that ended yesterday.
    ServerIdentity issue(const std::vector<std::string>& dnsNames,
                         const std::vector<std::string>& ipAddresses, bool expired = false) const;
    // The usual identity: "localhost" and 127.0.0.1 (made once).
    const ServerIdentity& localhost() const;

private:
    struct Keys;
    std::unique_ptr<Keys> keys_;
    std::string directory_;
    std::string caFile_;
    std::string caPEM_;
    mutable std::unique_ptr<ServerIdentity> localhost_;
};

}  // namespace peers
