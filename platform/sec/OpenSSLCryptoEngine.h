#pragma once

#include "platform/sec/CryptoEngine.h"

namespace sec {

// The cryptography engine on OpenSSL. Announced to the module loader as
// CryptoEngine::kClassName; its module keeps the library's shared state until the process is
// gone (no exit handler frees it under a thread still at work).
class OpenSSLCryptoEngine : public CryptoEngine {
public:
    std::unique_ptr<RSAKey> readRSAPublicKey(const ns::Data& der) const override;
    std::unique_ptr<RSAKey> readRSAPrivateKey(const ns::Data& der) const override;
    std::unique_ptr<RSAKey> generateRSA(int bits) const override;
};

}  // namespace sec
