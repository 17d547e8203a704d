#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/ns/Data.h"
#include "platform/ns/Object.h"
#include "platform/sec/CryptoEngine.h"

namespace sec {

// A key reference: one RSA key, public or private, owned for the life of the object.
class Key final : public ns::Object {
public:
    explicit Key(std::unique_ptr<CryptoEngine::RSAKey> key);

    // The key forms the keychain stores and gives out: PKCS#1 RSAPublicKey and RSAPrivateKey,
    // DER. Imports answer nullptr for anything else, including RSA keys of unusual sizes.
    static std::shared_ptr<Key> fromPublicKeyData(const ns::Data& der);
    static std::shared_ptr<Key> fromPrivateKeyData(const ns::Data& der);

    bool isPrivate() const { return key_->isPrivate(); }
    int bits() const { return key_->bits(); }
    // The modulus length in bytes: the size of one raw RSA block.
    size_t blockSize() const { return key_->blockSize(); }
    ns::Data publicKeyData() const { return key_->publicKeyData(); }
    // Only for a private key.
    std::optional<ns::Data> privateKeyData() const { return key_->privateKeyData(); }
    // The public half, as a key of its own.
    std::shared_ptr<Key> publicKey() const;

    // The raw private-key operation on one block: the input, read as a big-endian number
    // (shorter inputs are that number too), must be below the modulus; the output has
    // blockSize() bytes. Nothing for a public key or an input out of range.
    std::optional<ns::Data> rawSign(const uint8_t* bytes, size_t length) const;

    std::string description() const override;

    // Whether a key of this size is one this system uses.
    static bool isUsableSize(int bits) { return bits >= kMinimumBits && bits <= kMaximumBits; }

    static constexpr int kMinimumBits = 1024;
    static constexpr int kMaximumBits = 4096;

private:
    std::unique_ptr<CryptoEngine::RSAKey> key_;
};

}  // namespace sec
