#include "platform/sec/KeyPair.h"

namespace sec {

std::optional<KeyPair> KeyPair::generateRSA(int bits) {
    auto engine = CryptoEngine::shared();
    if (!Key::isUsableSize(bits) || !engine) return std::nullopt;
    auto generated = engine->generateRSA(bits);
    if (!generated) return std::nullopt;
    KeyPair pair;
    pair.privateKey = std::make_shared<Key>(std::move(generated));
    pair.publicKey = pair.privateKey->publicKey();
    if (!pair.privateKey->isPrivate() || !pair.publicKey) return std::nullopt;
    return pair;
}

}  // namespace sec
