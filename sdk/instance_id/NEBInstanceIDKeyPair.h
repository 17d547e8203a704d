#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Data.h"
#include "platform/ns/Result.h"
#include "platform/ns/Value.h"
#include "platform/sec/Key.h"
#include "platform/sec/Keychain.h"

// The installation's RSA 2048 key pair, kept as two permanent key items of a keychain (the SDK
// services' one) told apart by their application tags. The public key data is the PKCS#1
// RSAPublicKey DER form that the registration service reads.
class NEBInstanceIDKeyPair {
public:
    NEBInstanceIDKeyPair(std::shared_ptr<sec::Key> privateKey, std::shared_ptr<sec::Key> publicKey,
                         ns::Data publicKeyData, ns::Data privateKeyData);

    // Items left under the same tags are removed first, so that lookups never find a stale
    // half next to the new pair.
    static ns::Result<std::shared_ptr<NEBInstanceIDKeyPair>> generateRSA2048KeyPair(
        sec::Keychain& keychain, std::string_view privateTag, std::string_view publicTag);
    // Error 2001 when an item is missing, 2002 for an empty tag, the keychain's status when it
    // failed to answer.
    static ns::Result<std::shared_ptr<NEBInstanceIDKeyPair>> keyPairForPrivateKeyTag(
        sec::Keychain& keychain, std::string_view privateTag, std::string_view publicTag);
    static ns::Status deleteKeyPair(sec::Keychain& keychain, std::string_view privateTag,
                                    std::string_view publicTag);
    // The 11-character instance identifier; nothing without a public key.
    static std::optional<std::string> appIdentityWithKeyPair(const NEBInstanceIDKeyPair& keyPair);

    static ns::Dictionary queryDictWithTag(std::string_view tag, bool addReturnAttr,
                                           bool withTypeData);
    static std::optional<ns::Data> keyDataWithTag(sec::Keychain& keychain, std::string_view tag);
    static std::shared_ptr<sec::Key> cachedKeyRefWithTag(sec::Keychain& keychain,
                                                         std::string_view tag,
                                                         int32_t* status = nullptr);

    bool isValid() const { return privateKey_ && publicKey_; }
    const std::shared_ptr<sec::Key>& privateKey() const { return privateKey_; }
    const std::shared_ptr<sec::Key>& publicKey() const { return publicKey_; }
    const ns::Data& publicKeyData() const { return publicKeyData_; }
    const ns::Data& privateKeyData() const { return privateKeyData_; }

private:
    std::shared_ptr<sec::Key> privateKey_;
    std::shared_ptr<sec::Key> publicKey_;
    ns::Data publicKeyData_;
    ns::Data privateKeyData_;
};

ns::Data NEBInstanceIDSHA1(const ns::Data& data);
// URL- and filename-safe base 64 without padding.
std::string NEBInstanceIDWebSafeBase64(const ns::Data& data);
// Standard base 64 in lines of 64 characters joined by CR LF, none after the last line.
std::string NEBInstanceIDBase64With64CharacterLines(const ns::Data& data);
std::string NEBInstanceIDStringByJoiningLines(std::initializer_list<std::string_view> lines);
// The signature of the text's UTF-8 bytes, web-safe base 64 without padding; nothing on failure.
std::optional<std::string> NEBInstanceIDSignParams(const sec::Key& privateKey,
                                                   std::string_view text);
// The raw private-key operation over consecutive blocks of the key's size, each signature
// exactly one block; the last block of data is read as a big-endian number (left-padded with
// zeros). Nothing on failure; empty data gives empty data.
std::optional<ns::Data> NEBInstanceIDSignData(const sec::Key& privateKey, const ns::Data& data);
