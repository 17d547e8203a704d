#include "platform/sec/Key.h"

#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/rt/ClassRegistry.h"
#include "platform/rt/ModuleLoader.h"
#include "platform/sec/KeyPair.h"
#include "platform/sec/SecItem.h"
#include "platform/sec/SecKey.h"
#include "platform/testing/InjectedFaults.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "tests/platform/sec/KeychainTestSupport.h"
#include "tests/support/ChildProcess.h"

// The checks below use OpenSSL's own RSA structures on purpose: they are an independent reading
// of the bytes the key classes produce.
#pragma clang diagnostic ignored "-Wdeprecated-declarations"

namespace {

using namespace sec;
using sectest::bytes;

// One 2048-bit pair for every test here: generation is slow under the sanitizers.
const KeyPair& sharedPair() {
    static const KeyPair pair = *KeyPair::generateRSA(2048);
    return pair;
}

struct RSAFree {
    void operator()(RSA* rsa) const { RSA_free(rsa); }
};
using RSAPtr = std::unique_ptr<RSA, RSAFree>;

RSAPtr parsePublicDER(const ns::Data& der) {
    const unsigned char* p = der.bytes();
    RSAPtr rsa(d2i_RSAPublicKey(nullptr, &p, long(der.length())));
    if (p != der.bytes() + der.length()) return nullptr;
    return rsa;
}

// m = s^e mod n, computed by OpenSSL from the exported public key alone.
std::vector<uint8_t> recover(const ns::Data& publicDER, const std::vector<uint8_t>& signature) {
    RSAPtr rsa = parsePublicDER(publicDER);
    std::vector<uint8_t> out(RSA_size(rsa.get()));
    int n = RSA_public_decrypt(int(signature.size()), signature.data(), out.data(), rsa.get(),
                               RSA_NO_PADDING);
    out.resize(n < 0 ? 0 : size_t(n));
    return out;
}

std::vector<uint8_t> sign(const Key& key, const std::vector<uint8_t>& block) {
    std::vector<uint8_t> signature(SecKeyGetBlockSize(key));
    size_t length = signature.size();
    OSStatus status =
        SecKeyRawSign(key, kSecPaddingNone, block.data(), block.size(), signature.data(), &length);
    EXPECT_EQ(status, errSecSuccess);
    signature.resize(status == errSecSuccess ? length : 0);
    return signature;
}

TEST(Key, ExportsPKCS1PublicAndPrivateForms) {
    const KeyPair& pair = sharedPair();
    EXPECT_TRUE(pair.privateKey->isPrivate());
    EXPECT_FALSE(pair.publicKey->isPrivate());
    EXPECT_EQ(pair.privateKey->bits(), 2048);
    EXPECT_EQ(SecKeyGetBlockSize(*pair.publicKey), 256u);

    ns::Data publicDER = pair.publicKey->publicKeyData();
    RSAPtr rsa = parsePublicDER(publicDER);
    ASSERT_TRUE(rsa);
    EXPECT_EQ(RSA_bits(rsa.get()), 2048);
    EXPECT_EQ(pair.privateKey->publicKeyData(), publicDER);
    EXPECT_FALSE(pair.publicKey->privateKeyData());

    // RSAPrivateKey: SEQUENCE { INTEGER 0, INTEGER modulus ... } with no algorithm wrapper.
    auto privateDER = pair.privateKey->privateKeyData();
    ASSERT_TRUE(privateDER);
    const unsigned char* p = privateDER->bytes();
    RSAPtr parsed(d2i_RSAPrivateKey(nullptr, &p, long(privateDER->length())));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(p, privateDER->bytes() + privateDER->length());

    auto imported = Key::fromPrivateKeyData(*privateDER);
    ASSERT_TRUE(imported);
    EXPECT_TRUE(imported->isPrivate());
    EXPECT_EQ(imported->publicKeyData(), publicDER);
    auto importedPublic = Key::fromPublicKeyData(publicDER);
    ASSERT_TRUE(importedPublic);
    EXPECT_FALSE(importedPublic->isPrivate());
}

TEST(Key, ImportsRejectWhatTheyDidNotExport) {
    const KeyPair& pair = sharedPair();
    ns::Data publicDER = pair.publicKey->publicKeyData();
    ns::Data trailing = publicDER;
    trailing.append("\0", 1);
    ns::Data truncated(publicDER.bytes(), publicDER.length() - 1);
    for (const ns::Data& bad : {ns::Data(), bytes("not a key"), trailing, truncated}) {
        EXPECT_FALSE(Key::fromPublicKeyData(bad));
        EXPECT_FALSE(Key::fromPrivateKeyData(bad));
    }
    // A public key is not a private one.
    EXPECT_FALSE(Key::fromPrivateKeyData(publicDER));
    // Keys too small for this system's use.
    EVP_PKEY* small = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{512});
    ASSERT_TRUE(small);
    unsigned char* der = nullptr;
    const int length = i2d_PublicKey(small, &der);
    ASSERT_GT(length, 0);
    EXPECT_FALSE(Key::fromPublicKeyData(ns::Data(der, static_cast<size_t>(length))));
    OPENSSL_free(der);
    EVP_PKEY_free(small);
    EXPECT_FALSE(KeyPair::generateRSA(512));
}

// In the host RSA keys come with the TLS library's module; without it no key is read or made,
// and the callers carry on with their "no key" answers.
TEST(Key, WithoutTheCryptographyModuleNoKeyIsReadOrMade) {
    const ns::Data publicDER = sharedPair().publicKey->publicKeyData();
    ns::ScopedSharedInstance<rt::ModuleLoader> loader;
    ns::ScopedSharedInstance<rt::ClassRegistry> registry;
    rt::ModuleLoader::shared().provide(CryptoEngine::kClassName, "/nonexistent/crypto.so");
    EXPECT_FALSE(Key::fromPublicKeyData(publicDER));
    EXPECT_FALSE(KeyPair::generateRSA(2048));
}

TEST(Key, RawSignatureIsRecoveredWithThePublicKeyAlone) {
    const KeyPair& pair = sharedPair();
    std::vector<uint8_t> block(256);
    for (size_t i = 0; i < block.size(); ++i) block[i] = uint8_t(i * 7 + 1);
    block[0] = 0x3f;  // below the modulus, whose top bit is set
    std::vector<uint8_t> signature = sign(*pair.privateKey, block);
    ASSERT_EQ(signature.size(), 256u);
    EXPECT_NE(signature, block);
    EXPECT_EQ(recover(pair.publicKey->publicKeyData(), signature), block);

    // A short chunk is the same number with leading zeros.
    std::vector<uint8_t> shortChunk{'h', 'e', 'l', 'l', 'o'};
    signature = sign(*pair.privateKey, shortChunk);
    ASSERT_EQ(signature.size(), 256u);
    std::vector<uint8_t> padded(251, 0);
    padded.insert(padded.end(), shortChunk.begin(), shortChunk.end());
    EXPECT_EQ(recover(pair.publicKey->publicKeyData(), signature), padded);
}

TEST(Key, RawSignRefusesWhatItCannotDo) {
    const KeyPair& pair = sharedPair();
    std::vector<uint8_t> out(256);
    size_t length = out.size();
    std::vector<uint8_t> tooBig(256, 0xff);  // above the modulus
    EXPECT_EQ(SecKeyRawSign(*pair.privateKey, kSecPaddingNone, tooBig.data(), tooBig.size(),
                            out.data(), &length),
              errSecParam);
    std::vector<uint8_t> tooLong(257, 0);
    EXPECT_EQ(SecKeyRawSign(*pair.privateKey, kSecPaddingNone, tooLong.data(), tooLong.size(),
                            out.data(), &length),
              errSecParam);
    EXPECT_EQ(SecKeyRawSign(*pair.publicKey, kSecPaddingNone, out.data(), 10, out.data(), &length),
              errSecParam);
    EXPECT_EQ(SecKeyRawSign(*pair.privateKey, 1, out.data(), 10, out.data(), &length), errSecParam);
    length = 255;
    EXPECT_EQ(SecKeyRawSign(*pair.privateKey, kSecPaddingNone, out.data(), 10, out.data(), &length),
              errSecParam);
}

class KeyItems : public sectest::KeychainTest {
protected:
    static ns::Dictionary tagQuery(const char* tag) {
        return {{kSecClass, kSecClassKey},
                {kSecAttrApplicationTag, bytes(tag)},
                {kSecAttrKeyType, kSecAttrKeyTypeRSA}};
    }
    static ns::Dictionary parameters(bool permanent) {
        return {{kSecAttrKeyType, kSecAttrKeyTypeRSA},
                {kSecAttrKeySizeInBits, 2048},
                {kSecPrivateKeyAttrs, ns::Dictionary{{kSecAttrIsPermanent, permanent},
                                                     {kSecAttrApplicationTag, bytes("id|K|")}}},
                {kSecPublicKeyAttrs, ns::Dictionary{{kSecAttrIsPermanent, permanent},
                                                    {kSecAttrApplicationTag, bytes("id|P|")}}}};
    }
};

TEST_F(KeyItems, PermanentPairsBecomeKeyItemsAddressedByTag) {
    std::shared_ptr<Key> publicKey;
    std::shared_ptr<Key> privateKey;
    ASSERT_EQ(keychain.generateKeyPair(parameters(true), &publicKey, &privateKey), errSecSuccess);
    ASSERT_TRUE(publicKey && privateKey);

    ns::Dictionary query = tagQuery("id|P|");
    query[kSecReturnData] = true;
    ns::Value result;
    ASSERT_EQ(keychain.copyMatching(query, &result), errSecSuccess);
    EXPECT_EQ(*result.data(), publicKey->publicKeyData());

    query = tagQuery("id|K|");
    query[kSecReturnData] = true;
    ASSERT_EQ(keychain.copyMatching(query, &result), errSecSuccess);
    EXPECT_EQ(*result.data(), *privateKey->privateKeyData());

    query = tagQuery("id|K|");
    query[kSecReturnRef] = true;
    std::shared_ptr<Key> stored;
    ASSERT_EQ(keychain.copyKey(query, &stored), errSecSuccess);
    ASSERT_TRUE(stored && stored->isPrivate());
    std::vector<uint8_t> block{1, 2, 3};
    EXPECT_EQ(sign(*stored, block), sign(*privateKey, block));

    // The same tags again collide with the stored pair, and nothing half-made is left.
    EXPECT_EQ(keychain.generateKeyPair(parameters(true), nullptr, nullptr), errSecDuplicateItem);
    EXPECT_EQ(dataOfAll({{kSecClass, kSecClassKey}}).size(), 2u);

    EXPECT_EQ(keychain.remove(tagQuery("id|K|")), errSecSuccess);
    EXPECT_EQ(keychain.copyKey(query, &stored), errSecItemNotFound);
    EXPECT_EQ(keychain.remove(tagQuery("id|P|")), errSecSuccess);
}

TEST_F(KeyItems, GenerationChecksItsParametersAndKeepsTemporaryKeysOut) {
    ASSERT_EQ(keychain.generateKeyPair(parameters(false), nullptr, nullptr), errSecSuccess);
    EXPECT_TRUE(dataOfAll({{kSecClass, kSecClassKey}}).empty());

    auto without = [](const char* key) {
        ns::Dictionary p = parameters(true);
        p.erase(key);
        return p;
    };
    EXPECT_EQ(keychain.generateKeyPair(without(kSecAttrKeyType), nullptr, nullptr), errSecParam);
    EXPECT_EQ(keychain.generateKeyPair(without(kSecAttrKeySizeInBits), nullptr, nullptr),
              errSecParam);
    ns::Dictionary odd = parameters(true);
    odd[kSecAttrKeySizeInBits] = 100;
    EXPECT_EQ(keychain.generateKeyPair(odd, nullptr, nullptr), errSecParam);
    odd = parameters(true);
    odd[kSecPrivateKeyAttrs] = ns::Dictionary{{kSecAttrService, "s"}};
    EXPECT_EQ(keychain.generateKeyPair(odd, nullptr, nullptr), errSecParam);

    ns::InjectedFaults::add("keychain", errSecMissingEntitlement, 1);
    EXPECT_EQ(keychain.generateKeyPair(parameters(true), nullptr, nullptr),
              errSecMissingEntitlement);
}

TEST_F(KeyItems, ProcessFunctionsGenerateAndFindKeys) {
    Keychain::setDirectory(dir.path() / "shared");
    std::shared_ptr<Key> publicKey;
    ASSERT_EQ(SecKeyGeneratePair(parameters(true), &publicKey, nullptr), errSecSuccess);
    ns::Dictionary query = tagQuery("id|P|");
    query[kSecReturnRef] = true;
    std::shared_ptr<Key> found;
    ASSERT_EQ(SecItemCopyMatching(query, &found), errSecSuccess);
    EXPECT_EQ(found->publicKeyData(), publicKey->publicKeyData());
    ns::Value notAKey;
    EXPECT_EQ(SecItemCopyMatching(query, &notAKey), errSecParam);
}

// A process that leaves while another thread is still making a key pair: the main thread
// returns through exit() (its handlers run) a moment after the generator started.
[[noreturn]] void leaveWhileAKeyIsMade(int started, const std::vector<std::string>&) {
    // A process that hangs on its way out (a lock freed under a waiter) ends by the alarm,
    // which the test sees as a failure like a crash.
    ::alarm(20);
    std::thread([started] {
        for (bool told = false;; told = true) {
            if (!told) {
                char byte = 1;
                if (::write(started, &byte, 1) != 1) ::_exit(3);
            }
            (void)KeyPair::generateRSA(2048);
        }
    }).detach();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::exit(0);
}
const testsupport::ChildRegistration kLeaver("KeyTest.leaveWhileAKeyIsMade", &leaveWhileAKeyIsMade);

// The TLS library's state stays until the process is gone (the cryptography engine keeps it
// from the start): without that, about one such exit in four crashes or hangs; twenty in a
// row are clean.
TEST(CryptoLibraryTest, LeavingWhileAKeyPairIsMadeEndsCleanly) {
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        int started[2];
        ASSERT_EQ(::pipe(started), 0);
        const pid_t child = testsupport::startChild("KeyTest.leaveWhileAKeyIsMade", started[1], {});
        ASSERT_GT(child, 0);
        ::close(started[1]);
        char byte = 0;
        (void)::read(started[0], &byte, 1);
        ::close(started[0]);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
}

}  // namespace
