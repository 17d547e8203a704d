#include "sdk/instance_id/NEBInstanceIDKeyPair.h"

#include <vector>

#include "platform/sec/Digest.h"
#include "platform/sec/Keychain.h"
#include "platform/sec/SecItem.h"
#include "platform/sec/SecKey.h"
#include "sdk/instance_id/NEBInstanceIDErrors.h"
#include "sdk/instance_id/NEBInstanceIDLogger.h"
#include "toolbox/Foundation/NSDK_TBXStringEncoding.h"

NEBInstanceIDKeyPair::NEBInstanceIDKeyPair(std::shared_ptr<sec::Key> privateKey,
                                           std::shared_ptr<sec::Key> publicKey,
                                           ns::Data publicKeyData, ns::Data privateKeyData)
    : privateKey_(std::move(privateKey)),
      publicKey_(std::move(publicKey)),
      publicKeyData_(std::move(publicKeyData)),
      privateKeyData_(std::move(privateKeyData)) {}

ns::Dictionary NEBInstanceIDKeyPair::queryDictWithTag(std::string_view tag, bool addReturnAttr,
                                                      bool withTypeData) {
    ns::Dictionary query{{sec::kSecClass, sec::kSecClassKey},
                         {sec::kSecAttrApplicationTag, ns::Data::fromString(tag)},
                         {sec::kSecAttrKeyType, sec::kSecAttrKeyTypeRSA}};
    if (addReturnAttr) query[withTypeData ? sec::kSecReturnData : sec::kSecReturnRef] = true;
    return query;
}

std::optional<ns::Data> NEBInstanceIDKeyPair::keyDataWithTag(sec::Keychain& keychain,
                                                             std::string_view tag) {
    if (tag.empty()) return std::nullopt;
    ns::Value result;
    if (keychain.copyMatching(queryDictWithTag(tag, true, true), &result) != sec::errSecSuccess) {
        return std::nullopt;
    }
    if (const auto* data = result.data()) return *data;
    return std::nullopt;
}

std::shared_ptr<sec::Key> NEBInstanceIDKeyPair::cachedKeyRefWithTag(sec::Keychain& keychain,
                                                                    std::string_view tag,
                                                                    int32_t* status) {
    if (status) *status = sec::errSecParam;
    if (tag.empty()) return nullptr;
    std::shared_ptr<sec::Key> key;
    sec::OSStatus found = keychain.copyKey(queryDictWithTag(tag, true, false), &key);
    if (status) *status = found;
    if (found != sec::errSecSuccess) return nullptr;
    return key;
}

ns::Result<std::shared_ptr<NEBInstanceIDKeyPair>> NEBInstanceIDKeyPair::generateRSA2048KeyPair(
    sec::Keychain& keychain, std::string_view privateTag, std::string_view publicTag) {
    keychain.remove(queryDictWithTag(privateTag, false, false));
    keychain.remove(queryDictWithTag(publicTag, false, false));
    ns::Dictionary parameters{
        {sec::kSecAttrKeyType, sec::kSecAttrKeyTypeRSA},
        {sec::kSecAttrKeySizeInBits, 2048},
        {sec::kSecPrivateKeyAttrs,
         ns::Dictionary{{sec::kSecAttrIsPermanent, true},
                        {sec::kSecAttrApplicationTag, ns::Data::fromString(privateTag)}}},
        {sec::kSecPublicKeyAttrs,
         ns::Dictionary{{sec::kSecAttrIsPermanent, true},
                        {sec::kSecAttrApplicationTag, ns::Data::fromString(publicTag)}}},
    };
    std::shared_ptr<sec::Key> publicKey, privateKey;
    sec::OSStatus status = keychain.generateKeyPair(parameters, &publicKey, &privateKey);
    if (status != sec::errSecSuccess || !publicKey || !privateKey) {
        return ns::Error(kNEBInstanceIDDomain, status);
    }
    return std::make_shared<NEBInstanceIDKeyPair>(
        privateKey, publicKey, keyDataWithTag(keychain, publicTag).value_or(ns::Data()),
        keyDataWithTag(keychain, privateTag).value_or(ns::Data()));
}

ns::Result<std::shared_ptr<NEBInstanceIDKeyPair>> NEBInstanceIDKeyPair::keyPairForPrivateKeyTag(
    sec::Keychain& keychain, std::string_view privateTag, std::string_view publicTag) {
    if (privateTag.empty() || publicTag.empty()) {
        return NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeInvalidKeyPairTags);
    }
    sec::OSStatus privateStatus = sec::errSecSuccess, publicStatus = sec::errSecSuccess;
    auto privateKey = cachedKeyRefWithTag(keychain, privateTag, &privateStatus);
    auto publicKey = cachedKeyRefWithTag(keychain, publicTag, &publicStatus);
    if (!privateKey || !publicKey) {
        // A keychain that failed to answer is not a keychain without the pair: callers that
        // would replace a missing pair must not replace one they merely could not read.
        for (sec::OSStatus status : {privateStatus, publicStatus}) {
            if (status != sec::errSecSuccess && status != sec::errSecItemNotFound) {
                return ns::Error(kNEBInstanceIDDomain, status);
            }
        }
        return NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeMissingKeyPair);
    }
    return std::make_shared<NEBInstanceIDKeyPair>(
        privateKey, publicKey, keyDataWithTag(keychain, publicTag).value_or(ns::Data()),
        keyDataWithTag(keychain, privateTag).value_or(ns::Data()));
}

ns::Status NEBInstanceIDKeyPair::deleteKeyPair(sec::Keychain& keychain, std::string_view privateTag,
                                               std::string_view publicTag) {
    sec::OSStatus privateStatus = keychain.remove(queryDictWithTag(privateTag, false, false));
    sec::OSStatus publicStatus = keychain.remove(queryDictWithTag(publicTag, false, false));
    auto failed = [](sec::OSStatus s) {
        return s != sec::errSecSuccess && s != sec::errSecItemNotFound;
    };
    if (failed(privateStatus) && failed(publicStatus)) {
        NEBInstanceIDLoggerError("Error removing keypair status: %d", privateStatus);
        return NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeMissingKeyPair);
    }
    return {};
}

std::optional<std::string> NEBInstanceIDKeyPair::appIdentityWithKeyPair(
    const NEBInstanceIDKeyPair& keyPair) {
    if (!keyPair.publicKey()) {
        NEBInstanceIDLoggerError("Unable to create a valid asymmetric crypto key");
        return std::nullopt;
    }
    ns::Data digest = NEBInstanceIDSHA1(keyPair.publicKeyData());
    auto& bytes = digest.mutableVector();
    bytes[0] = static_cast<uint8_t>((bytes[0] & 0x0F) | 0x70);
    bytes.resize(8);
    return NEBInstanceIDWebSafeBase64(digest);
}

ns::Data NEBInstanceIDSHA1(const ns::Data& data) {
    return sec::sha1(data);
}

std::string NEBInstanceIDWebSafeBase64(const ns::Data& data) {
    static const auto& encoding = *new auto([] {
        auto made = NSDK_TBXStringEncoding::rfc4648Base64WebsafeStringEncoding();
        made->setDoPad(false);
        return made;
    }());
    return encoding->encode(data);
}

std::string NEBInstanceIDBase64With64CharacterLines(const ns::Data& data) {
    std::string flat = data.base64EncodedString();
    std::string lines;
    lines.reserve(flat.size() + flat.size() / 32 + 2);
    for (size_t offset = 0; offset < flat.size(); offset += 64) {
        if (offset) lines += "\r\n";
        lines.append(flat, offset, 64);
    }
    return lines;
}

std::string NEBInstanceIDStringByJoiningLines(std::initializer_list<std::string_view> lines) {
    std::string joined;
    bool first = true;
    for (auto line : lines) {
        if (!first) joined += '\n';
        joined.append(line);
        first = false;
    }
    return joined;
}

std::optional<ns::Data> NEBInstanceIDSignData(const sec::Key& privateKey, const ns::Data& data) {
    const size_t blockSize = sec::SecKeyGetBlockSize(privateKey);
    if (blockSize == 0) return std::nullopt;
    std::vector<uint8_t> block(blockSize);
    ns::Data signature;
    for (size_t offset = 0; offset < data.length(); offset += blockSize) {
        size_t chunk = std::min(blockSize, data.length() - offset);
        // Reset for every block: the call shrinks it to what it wrote.
        size_t signatureLength = blockSize;
        sec::OSStatus status =
            sec::SecKeyRawSign(privateKey, sec::kSecPaddingNone, data.bytes() + offset, chunk,
                               block.data(), &signatureLength);
        if (status != sec::errSecSuccess || signatureLength != blockSize) {
            NEBInstanceIDLoggerError("Failed to sign data, status %d", status);
            return std::nullopt;
        }
        signature.append(block.data(), signatureLength);
    }
    return signature;
}

std::optional<std::string> NEBInstanceIDSignParams(const sec::Key& privateKey,
                                                   std::string_view text) {
    auto signature = NEBInstanceIDSignData(privateKey, ns::Data::fromString(text));
    if (!signature || signature->empty()) {
        NEBInstanceIDLoggerError("Failed to encrypt params %@", NEBInstanceIDLogHash(text));
        return std::nullopt;
    }
    return NEBInstanceIDWebSafeBase64(*signature);
}
