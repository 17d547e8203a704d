#include "platform/sec/SecKey.h"

#include <cstring>

#include "platform/sec/Key.h"
#include "platform/sec/Keychain.h"

namespace sec {

OSStatus SecKeyGeneratePair(const ns::Dictionary& parameters, std::shared_ptr<Key>* publicKey,
                            std::shared_ptr<Key>* privateKey) {
    return Keychain::shared().generateKeyPair(parameters, publicKey, privateKey);
}

size_t SecKeyGetBlockSize(const Key& key) {
    return key.blockSize();
}

OSStatus SecKeyRawSign(const Key& key, SecPadding padding, const uint8_t* dataToSign,
                       size_t dataToSignLength, uint8_t* signature, size_t* signatureLength) {
    if (padding != kSecPaddingNone || !signature || !signatureLength ||
        (!dataToSign && dataToSignLength) || *signatureLength < key.blockSize()) {
        return errSecParam;
    }
    auto result = key.rawSign(dataToSign, dataToSignLength);
    if (!result) return errSecParam;
    std::memcpy(signature, result->bytes(), result->length());
    *signatureLength = result->length();
    return errSecSuccess;
}

}  // namespace sec
