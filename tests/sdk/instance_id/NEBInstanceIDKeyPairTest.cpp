// The installation's key pair: the instance identifier derived from it, signatures that an
// independent public-key operation verifies, and which pair survives a reinstall.
#include <gtest/gtest.h>

#include "platform/ns/FileManager.h"
#include "platform/sec/Keychain.h"
#include "platform/sec/SecItem.h"
#include "platform/testing/InjectedFaults.h"
#include "sdk/instance_id/NEBInstanceIDKeyPair.h"
#include "sdk/instance_id/NEBInstanceIDKeyPairStore.h"
#include "sdk/instance_id/NEBInstanceIDStore.h"
#include "tests/sdk/instance_id/InstanceIDFixture.h"

namespace {

using iidtest::InstanceIDTest;
using peers::RegistrationPeer;

class KeyPairTest : public InstanceIDTest {
protected:
    void SetUp() override {
        InstanceIDTest::SetUp();
        ASSERT_TRUE(NEBInstanceIDStore::createApplicationSupportSubDirectory(
            kNEBInstanceIDApplicationSupportSubDirectory));
    }
    static std::string keyPairPlist() {
        return ns::Sandbox::applicationSupportDirectory() + "/Nebula/NebulaInstanceID/" +
               kNEBInstanceIDKeyPairStoreFileName + ".plist";
    }
    static std::string identity(NEBInstanceIDKeyPairStore& store) {
        auto id = store.appIdentity();
        EXPECT_TRUE(id.ok());
        return id.ok() ? *id : std::string();
    }
};

TEST_F(KeyPairTest, IdentifierIsElevenWebSafeCharactersDerivedFromThePublicKey) {
    for (int i = 0; i < 4; ++i) {
        auto pair =
            NEBInstanceIDKeyPair::generateRSA2048KeyPair(sec::Keychain::shared(), "priv", "pub");
        ASSERT_TRUE(pair.ok());
        auto id = NEBInstanceIDKeyPair::appIdentityWithKeyPair(**pair);
        ASSERT_TRUE(id);
        EXPECT_EQ(id->size(), 11u);
        EXPECT_NE(std::string("cdef").find(id->front()), std::string::npos) << *id;
        EXPECT_EQ(id->find_first_not_of(
                      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
                  std::string::npos);
        EXPECT_EQ(*id, RegistrationPeer::appIDForPublicKey(
                           std::string((*pair)->publicKeyData().chars())));
    }
}

TEST_F(KeyPairTest, SignaturesAreWholeBlocksThatVerifyIndependently) {
    auto pair =
        NEBInstanceIDKeyPair::generateRSA2048KeyPair(sec::Keychain::shared(), "priv", "pub");
    ASSERT_TRUE(pair.ok());
    std::string der((*pair)->publicKeyData().chars());
    struct Case {
        size_t length;
        size_t blocks;
    } cases[] = {{1, 1}, {255, 1}, {256, 1}, {257, 2}, {600, 3}};
    for (const auto& c : cases) {
        // Text starting with a high byte is the worst case for a block read as a number.
        std::string text(c.length, 'x');
        text[0] = '~';
        auto signature = NEBInstanceIDSignData(*(*pair)->privateKey(), ns::Data::fromString(text));
        ASSERT_TRUE(signature) << c.length;
        EXPECT_EQ(signature->length(), c.blocks * 256) << c.length;
        EXPECT_EQ(RegistrationPeer::signatureProblem(der, text, std::string(signature->chars())),
                  std::nullopt)
            << c.length;
    }
    auto twoBlocks = NEBInstanceIDSignParams(*(*pair)->privateKey(), std::string(300, 'a'));
    ASSERT_TRUE(twoBlocks);
    EXPECT_EQ(twoBlocks->size(), 683u);
    EXPECT_FALSE(NEBInstanceIDSignParams(*(*pair)->privateKey(), ""));
}

TEST_F(KeyPairTest, LookupAndDeletionReportTheirCodes) {
    auto emptyTag =
        NEBInstanceIDKeyPair::keyPairForPrivateKeyTag(sec::Keychain::shared(), "", "pub");
    ASSERT_FALSE(emptyTag.ok());
    EXPECT_EQ(emptyTag.error().code(), 2002);
    auto missing =
        NEBInstanceIDKeyPair::keyPairForPrivateKeyTag(sec::Keychain::shared(), "priv", "pub");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code(), 2001);
    EXPECT_TRUE(NEBInstanceIDKeyPair::deleteKeyPair(sec::Keychain::shared(), "priv", "pub").ok());
}

TEST_F(KeyPairTest, GenerationReplacesStaleItemsUnderTheSameTags) {
    auto first =
        NEBInstanceIDKeyPair::generateRSA2048KeyPair(sec::Keychain::shared(), "priv", "pub");
    auto second =
        NEBInstanceIDKeyPair::generateRSA2048KeyPair(sec::Keychain::shared(), "priv", "pub");
    ASSERT_TRUE(first.ok() && second.ok());
    auto found =
        NEBInstanceIDKeyPair::keyPairForPrivateKeyTag(sec::Keychain::shared(), "priv", "pub");
    ASSERT_TRUE(found.ok());
    EXPECT_EQ((*found)->publicKeyData(), (*second)->publicKeyData());
    ns::Value all;
    ASSERT_EQ(
        sec::SecItemCopyMatching(ns::Dictionary{{sec::kSecClass, sec::kSecClassKey},
                                                {sec::kSecReturnAttributes, true},
                                                {sec::kSecMatchLimit, sec::kSecMatchLimitAll}},
                                 &all),
        sec::errSecSuccess);
    EXPECT_EQ(all.count(), 2u);
}

TEST_F(KeyPairTest, FirstStartMakesAPairThatLaterLaunchesKeep) {
    std::string id;
    {
        NEBInstanceIDKeyPairStore store(sec::Keychain::shared());
        id = identity(store);
    }
    auto plist = ns::PropertyListSerialization::readFile(keyPairPlist());
    ASSERT_TRUE(plist.ok());
    EXPECT_EQ((*plist)["|S|app_id"].stringValue(), id);
    EXPECT_EQ((*plist)["|S|cre"].int64(), NEBInstanceIDCurrentTimestampInSeconds());
    NEBInstanceIDKeyPairStore relaunched(sec::Keychain::shared());
    EXPECT_EQ(identity(relaunched), id);
}

TEST_F(KeyPairTest, PairWithoutRecordedCreationTimeIsReplaced) {
    std::string id;
    {
        NEBInstanceIDKeyPairStore store(sec::Keychain::shared());
        id = identity(store);
    }
    // A reinstall: the keychain keeps the pair, the plist is gone.
    ASSERT_TRUE(ns::Sandbox::simulateReinstall().ok());
    ASSERT_TRUE(NEBInstanceIDStore::createApplicationSupportSubDirectory(
        kNEBInstanceIDApplicationSupportSubDirectory));
    NEBInstanceIDKeyPairStore reinstalled(sec::Keychain::shared());
    std::string fresh = identity(reinstalled);
    EXPECT_NE(fresh, id);
    NEBInstanceIDKeyPairStore relaunched(sec::Keychain::shared());
    EXPECT_EQ(identity(relaunched), fresh);
}

TEST_F(KeyPairTest, LostKeychainItemsAreRegeneratedAndRecorded) {
    NEBInstanceIDKeyPairStore first(sec::Keychain::shared());
    std::string id = identity(first);
    ASSERT_TRUE(NEBInstanceIDKeyPair::deleteKeyPair(
                    sec::Keychain::shared(), NEBInstanceIDKeyPairStore::privateTagWithSubtype(""),
                    NEBInstanceIDKeyPairStore::publicTagWithSubtype(""))
                    .ok());
    NEBInstanceIDKeyPairStore relaunched(sec::Keychain::shared());
    std::string fresh = identity(relaunched);
    EXPECT_NE(fresh, id);
    auto plist = ns::PropertyListSerialization::readFile(keyPairPlist());
    EXPECT_EQ((*plist)["|S|app_id"].stringValue(), fresh);

    ASSERT_TRUE(relaunched.deleteSavedKeyPairWithSubtype("").ok());
    EXPECT_NE(identity(relaunched), fresh);
}

TEST_F(KeyPairTest, KeychainRefusingAccessLeavesTheRecordedIdentifierReadable) {
    std::string id;
    {
        NEBInstanceIDKeyPairStore store(sec::Keychain::shared());
        id = identity(store);
    }
    NEBInstanceIDKeyPairStore refused(sec::Keychain::shared());
    ns::InjectedFaults faults;
    ns::InjectedFaults::add("keychain", sec::errSecMissingEntitlement, 100);
    EXPECT_EQ(identity(refused), id);
    EXPECT_EQ(identity(refused), id);
    EXPECT_EQ(identity(refused), id);
    ns::InjectedFaults::clear();
    // After three refusals the store no longer tries the keychain in this process.
    auto load = refused.loadKeyPair();
    EXPECT_FALSE(load.ok());
}

}  // namespace

namespace {

TEST_F(KeyPairTest, TransientKeychainFailureKeepsThePairAndItsRecord) {
    std::string id;
    {
        NEBInstanceIDKeyPairStore store(sec::Keychain::shared());
        id = identity(store);
    }
    NEBInstanceIDKeyPairStore store(sec::Keychain::shared());
    ns::InjectedFaults faults;
    ns::InjectedFaults::add("keychain", sec::errSecInternalComponent, 2);
    EXPECT_FALSE(store.hasCachedKeyPairs());
    EXPECT_TRUE(ns::FileManager::defaultManager().fileExists(keyPairPlist()));
    ns::InjectedFaults::add("keychain", sec::errSecInternalComponent, 2);
    EXPECT_FALSE(store.loadKeyPair().ok());
    EXPECT_EQ(identity(store), id);
    EXPECT_TRUE(store.hasCachedKeyPairs());
}

}  // namespace
