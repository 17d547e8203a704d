#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/ns/Data.h"
#include "platform/ns/Object.h"

namespace sec {

// The cryptography behind RSA keys. It is backed by the TLS library, which lives with it in a
// module of the program (rt::ModuleLoader), loaded the first time a key is read or made: a
// launch that needs none never maps the library. The module keeps the library's shared state
// until the process is gone, so that work of other threads still signing or making keys while
// the program exits finds it intact.
class CryptoEngine : public ns::Object {
public:
    static constexpr const char* kClassName = "SECCryptoEngine";

    // One RSA key, public or private, as the library holds it.
    class RSAKey {
    public:
        virtual ~RSAKey() = default;
        virtual bool isPrivate() const = 0;
        virtual int bits() const = 0;
        // The modulus length in bytes.
        virtual size_t blockSize() const = 0;
        // PKCS#1 RSAPublicKey, DER.
        virtual ns::Data publicKeyData() const = 0;
        // PKCS#1 RSAPrivateKey, DER; nothing for a public key.
        virtual std::optional<ns::Data> privateKeyData() const = 0;
        // The raw private-key operation on one block of blockSize() bytes.
        virtual std::optional<ns::Data> rawSign(const uint8_t* block) const = 0;
    };

    // The engine, its module loaded the first time; null when it cannot be loaded (a key is
    // then neither read nor made).
    static std::shared_ptr<const CryptoEngine> shared();

    ~CryptoEngine() override;

    // The whole input one RSA key in the DER form, or nothing.
    virtual std::unique_ptr<RSAKey> readRSAPublicKey(const ns::Data& der) const = 0;
    virtual std::unique_ptr<RSAKey> readRSAPrivateKey(const ns::Data& der) const = 0;
    virtual std::unique_ptr<RSAKey> generateRSA(int bits) const = 0;
};

}  // namespace sec
