#include "platform/sec/KeyPair.h"

#include <openssl/evp.h>

namespace sec {

std::optional<KeyPair> KeyPair::generateRSA(int bits) {
    if (bits < Key::kMinimumBits || bits > Key::kMaximumBits) return std::nullopt;
    Key::PKey generated(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits)));
    if (!generated) return std::nullopt;
    KeyPair pair;
    pair.privateKey = std::make_shared<Key>(std::move(generated));
    pair.publicKey = pair.privateKey->publicKey();
    if (!pair.privateKey->isPrivate() || !pair.publicKey) return std::nullopt;
    return pair;
}

}  // namespace sec
