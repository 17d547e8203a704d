#pragma once

#include <memory>
#include <optional>

#include "platform/sec/Key.h"

namespace sec {

// A freshly made RSA key pair: the private key and its public half.
struct KeyPair {
    std::shared_ptr<Key> publicKey;
    std::shared_ptr<Key> privateKey;

    // Bits outside Key::kMinimumBits..kMaximumBits, or a failing generator: nothing.
    static std::optional<KeyPair> generateRSA(int bits);
};

}  // namespace sec
