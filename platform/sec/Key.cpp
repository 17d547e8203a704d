#include "platform/sec/Key.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstring>
#include <functional>
#include <vector>

namespace sec {

namespace {

struct ContextDeleter {
    void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};

bool hasPrivateExponent(EVP_PKEY* key) {
    BIGNUM* d = nullptr;
    bool has = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_D, &d) == 1 && d;
    BN_clear_free(d);
    return has;
}

using Decoder = EVP_PKEY* (*)(int, EVP_PKEY**, const unsigned char**, long);

// The whole input one RSA key of a size this system uses, or nothing.
Key::PKey decodeRSA(const ns::Data& der, Decoder decoder) {
    if (der.empty()) return nullptr;
    const unsigned char* p = der.bytes();
    Key::PKey key(decoder(EVP_PKEY_RSA, nullptr, &p, long(der.length())));
    if (!key || p != der.bytes() + der.length() ||
        EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA) {
        return nullptr;
    }
    int bits = EVP_PKEY_get_bits(key.get());
    if (bits < Key::kMinimumBits || bits > Key::kMaximumBits) return nullptr;
    return key;
}

ns::Data derOf(int length, const std::function<int(unsigned char**)>& write) {
    if (length <= 0) return {};
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    unsigned char* p = bytes.data();
    if (write(&p) != length) return {};
    return ns::Data(std::move(bytes));
}

}  // namespace

void Key::PKeyDeleter::operator()(EVP_PKEY* key) const {
    EVP_PKEY_free(key);
}

Key::Key(PKey key) : key_(std::move(key)), private_(key_ && hasPrivateExponent(key_.get())) {}

std::shared_ptr<Key> Key::fromPublicKeyData(const ns::Data& der) {
    PKey key = decodeRSA(der, d2i_PublicKey);
    if (!key) return nullptr;
    return std::make_shared<Key>(std::move(key));
}

std::shared_ptr<Key> Key::fromPrivateKeyData(const ns::Data& der) {
    PKey key = decodeRSA(der, d2i_PrivateKey);
    if (!key) return nullptr;
    auto result = std::make_shared<Key>(std::move(key));
    return result->isPrivate() ? result : nullptr;
}

int Key::bits() const {
    return EVP_PKEY_get_bits(key_.get());
}

size_t Key::blockSize() const {
    return static_cast<size_t>(EVP_PKEY_get_size(key_.get()));
}

ns::Data Key::publicKeyData() const {
    EVP_PKEY* key = key_.get();
    return derOf(i2d_PublicKey(key, nullptr),
                 [key](unsigned char** p) { return i2d_PublicKey(key, p); });
}

std::optional<ns::Data> Key::privateKeyData() const {
    if (!private_) return std::nullopt;
    EVP_PKEY* key = key_.get();
    ns::Data der = derOf(i2d_PrivateKey(key, nullptr),
                         [key](unsigned char** p) { return i2d_PrivateKey(key, p); });
    if (der.empty()) return std::nullopt;
    return der;
}

std::shared_ptr<Key> Key::publicKey() const {
    return fromPublicKeyData(publicKeyData());
}

std::optional<ns::Data> Key::rawSign(const uint8_t* bytes, size_t length) const {
    const size_t size = blockSize();
    if (!private_ || length > size) return std::nullopt;
    // Without padding the operation takes exactly one block: a short input is the same number
    // with leading zero bytes.
    std::vector<uint8_t> block(size, 0);
    if (length) std::memcpy(block.data() + (size - length), bytes, length);
    std::unique_ptr<EVP_PKEY_CTX, ContextDeleter> context(
        EVP_PKEY_CTX_new_from_pkey(nullptr, key_.get(), nullptr));
    std::vector<uint8_t> signature(size);
    size_t signatureLength = size;
    if (!context || EVP_PKEY_sign_init(context.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_NO_PADDING) != 1 ||
        EVP_PKEY_sign(context.get(), signature.data(), &signatureLength, block.data(), size) != 1 ||
        signatureLength != size) {
        return std::nullopt;
    }
    return ns::Data(std::move(signature));
}

std::string Key::description() const {
    return "<Key: RSA " + std::to_string(bits()) + "-bit " + (private_ ? "private" : "public") +
           ">";
}

}  // namespace sec
