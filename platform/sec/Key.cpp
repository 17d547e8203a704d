#include "platform/sec/Key.h"

#include <cstring>
#include <vector>

namespace sec {

namespace {

std::shared_ptr<Key> usable(std::unique_ptr<CryptoEngine::RSAKey> key) {
    if (!key || !Key::isUsableSize(key->bits())) return nullptr;
    return std::make_shared<Key>(std::move(key));
}

}  // namespace

Key::Key(std::unique_ptr<CryptoEngine::RSAKey> key) : key_(std::move(key)) {}

std::shared_ptr<Key> Key::fromPublicKeyData(const ns::Data& der) {
    auto engine = CryptoEngine::shared();
    if (der.empty() || !engine) return nullptr;
    return usable(engine->readRSAPublicKey(der));
}

std::shared_ptr<Key> Key::fromPrivateKeyData(const ns::Data& der) {
    auto engine = CryptoEngine::shared();
    if (der.empty() || !engine) return nullptr;
    auto key = usable(engine->readRSAPrivateKey(der));
    return key && key->isPrivate() ? key : nullptr;
}

std::shared_ptr<Key> Key::publicKey() const {
    return fromPublicKeyData(publicKeyData());
}

std::optional<ns::Data> Key::rawSign(const uint8_t* bytes, size_t length) const {
    const size_t size = blockSize();
    if (!isPrivate() || length > size) return std::nullopt;
    // Without padding the operation takes exactly one block: a short input is the same number
    // with leading zero bytes.
    std::vector<uint8_t> block(size, 0);
    if (length) std::memcpy(block.data() + (size - length), bytes, length);
    return key_->rawSign(block.data());
}

std::string Key::description() const {
    return "<Key: RSA " + std::to_string(bits()) + "-bit " + (isPrivate() ? "private" : "public") +
           ">";
}

}  // namespace sec
