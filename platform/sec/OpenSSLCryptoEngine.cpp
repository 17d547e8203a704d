#include "platform/sec/OpenSSLCryptoEngine.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <functional>
#include <vector>

#include "platform/rt/ModuleLoader.h"

namespace sec {

namespace {

[[maybe_unused]] const bool kAnnounced = [] {
    // Before anything else of the library runs: its state stays until the process is gone.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
    rt::ModuleLoader::shared().announce(CryptoEngine::kClassName,
                                        [] { return std::make_shared<OpenSSLCryptoEngine>(); });
    return true;
}();

struct PKeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using PKey = std::unique_ptr<EVP_PKEY, PKeyFree>;

struct ContextFree {
    void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};

bool hasPrivateExponent(EVP_PKEY* key) {
    BIGNUM* d = nullptr;
    bool has = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_D, &d) == 1 && d;
    BN_clear_free(d);
    return has;
}

ns::Data derOf(int length, const std::function<int(unsigned char**)>& write) {
    if (length <= 0) return {};
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    unsigned char* p = bytes.data();
    if (write(&p) != length) return {};
    return ns::Data(std::move(bytes));
}

class OpenSSLRSAKey final : public CryptoEngine::RSAKey {
public:
    explicit OpenSSLRSAKey(PKey key)
        : key_(std::move(key)), private_(hasPrivateExponent(key_.get())) {}

    bool isPrivate() const override { return private_; }
    int bits() const override { return EVP_PKEY_get_bits(key_.get()); }
    size_t blockSize() const override { return static_cast<size_t>(EVP_PKEY_get_size(key_.get())); }

    ns::Data publicKeyData() const override {
        EVP_PKEY* key = key_.get();
        return derOf(i2d_PublicKey(key, nullptr),
                     [key](unsigned char** p) { return i2d_PublicKey(key, p); });
    }

    std::optional<ns::Data> privateKeyData() const override {
        if (!private_) return std::nullopt;
        EVP_PKEY* key = key_.get();
        ns::Data der = derOf(i2d_PrivateKey(key, nullptr),
                             [key](unsigned char** p) { return i2d_PrivateKey(key, p); });
        if (der.empty()) return std::nullopt;
        return der;
    }

    std::optional<ns::Data> rawSign(const uint8_t* block) const override {
        const size_t size = blockSize();
        std::unique_ptr<EVP_PKEY_CTX, ContextFree> context(
            EVP_PKEY_CTX_new_from_pkey(nullptr, key_.get(), nullptr));
        std::vector<uint8_t> signature(size);
        size_t signatureLength = size;
        if (!private_ || !context || EVP_PKEY_sign_init(context.get()) != 1 ||
            EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_NO_PADDING) != 1 ||
            EVP_PKEY_sign(context.get(), signature.data(), &signatureLength, block, size) != 1 ||
            signatureLength != size) {
            return std::nullopt;
        }
        return ns::Data(std::move(signature));
    }

private:
    PKey key_;
    bool private_;
};

using Decoder = EVP_PKEY* (*)(int, EVP_PKEY**, const unsigned char**, long);

// The whole input one RSA key, or nothing.
std::unique_ptr<CryptoEngine::RSAKey> readRSA(const ns::Data& der, Decoder decoder) {
    if (der.empty()) return nullptr;
    const unsigned char* p = der.bytes();
    PKey key(decoder(EVP_PKEY_RSA, nullptr, &p, long(der.length())));
    if (!key || p != der.bytes() + der.length() ||
        EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA) {
        return nullptr;
    }
    return std::make_unique<OpenSSLRSAKey>(std::move(key));
}

}  // namespace

std::unique_ptr<CryptoEngine::RSAKey> OpenSSLCryptoEngine::readRSAPublicKey(
    const ns::Data& der) const {
    return readRSA(der, d2i_PublicKey);
}

std::unique_ptr<CryptoEngine::RSAKey> OpenSSLCryptoEngine::readRSAPrivateKey(
    const ns::Data& der) const {
    return readRSA(der, d2i_PrivateKey);
}

std::unique_ptr<CryptoEngine::RSAKey> OpenSSLCryptoEngine::generateRSA(int bits) const {
    PKey generated(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits)));
    if (!generated) return nullptr;
    return std::make_unique<OpenSSLRSAKey>(std::move(generated));
}

}  // namespace sec
