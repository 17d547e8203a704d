#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/ns/Value.h"
#include "platform/sec/SecBase.h"

namespace sec {

class Key;

using SecPadding = uint32_t;
// The caller has padded (or digested) the data itself: the bare RSA operation.
inline constexpr SecPadding kSecPaddingNone = 0;

// Generates an RSA pair with the parameters kSecAttrKeyType (kSecAttrKeyTypeRSA),
// kSecAttrKeySizeInBits and the per-key dictionaries kSecPublicKeyAttrs / kSecPrivateKeyAttrs
// (kSecAttrIsPermanent, kSecAttrApplicationTag, ...). Permanent keys become key items of the
// process's keychain, whose data is the PKCS#1 DER form of the key.
OSStatus SecKeyGeneratePair(const ns::Dictionary& parameters, std::shared_ptr<Key>* publicKey,
                            std::shared_ptr<Key>* privateKey);

// The key's block: the modulus length in bytes (256 for a 2048-bit key).
size_t SecKeyGetBlockSize(const Key& key);

// The raw private-key operation on data of at most one block. `*signatureLength` gives the room
// at `signature` and receives the length written (one block).
OSStatus SecKeyRawSign(const Key& key, SecPadding padding, const uint8_t* dataToSign,
                       size_t dataToSignLength, uint8_t* signature, size_t* signatureLength);

}  // namespace sec
