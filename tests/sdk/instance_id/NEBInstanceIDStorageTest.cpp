// Where instance identity keeps its state: keychain items (which survive a reinstall) and
// backup-excluded plists (which do not), in the layouts that earlier installations left.
#include <gtest/gtest.h>

#include <thread>

#include "platform/ns/FileManager.h"
#include "platform/sec/SecItem.h"
#include "platform/testing/InjectedFaults.h"
#include "sdk/instance_id/NEBInstanceIDCheckinStore.h"
#include "sdk/instance_id/NEBInstanceIDStore.h"
#include "sdk/instance_id/NEBInstanceIDTokenStore.h"
#include "tests/sdk/instance_id/InstanceIDFixture.h"
#include "tests/support/LogCapture.h"

namespace {

using iidtest::InstanceIDTest;

std::string iidDirectory() {
    return ns::Sandbox::applicationSupportDirectory() + "/" +
           kNEBInstanceIDApplicationSupportSubDirectory;
}

// The value data of the generic-password items of one generic attribute, by service/account.
std::map<std::string, std::string> itemsOf(const std::string& generic) {
    ns::Dictionary query{{sec::kSecClass, sec::kSecClassGenericPassword},
                         {sec::kSecAttrGeneric, generic},
                         {sec::kSecReturnAttributes, true},
                         {sec::kSecReturnData, true},
                         {sec::kSecMatchLimit, sec::kSecMatchLimitAll}};
    ns::Value result;
    std::map<std::string, std::string> items;
    if (sec::SecItemCopyMatching(query, &result) != sec::errSecSuccess) return items;
    for (const auto& item : *result.array()) {
        auto bytes = [&](const char* key) {
            const auto& v = item[key];
            return v.data() ? std::string(v.data()->chars()) : v.stringValue();
        };
        items[bytes(sec::kSecAttrService) + "/" + bytes(sec::kSecAttrAccount)] =
            bytes(sec::kSecValueData);
    }
    return items;
}

// Makes the plist path a directory with content, so that replacing it fails.
void blockPlist(const std::string& name) {
    std::filesystem::create_directories(iidDirectory() + "/" + name + ".plist/blocker");
}

class StorageTest : public InstanceIDTest {
protected:
    void SetUp() override {
        InstanceIDTest::SetUp();
        ASSERT_TRUE(NEBInstanceIDStore::createApplicationSupportSubDirectory(
            kNEBInstanceIDApplicationSupportSubDirectory));
    }
    NEBInstanceIDCheckinStore checkinStore() {
        return NEBInstanceIDCheckinStore(kNEBInstanceIDCheckinPlistName,
                                         kNEBInstanceIDApplicationSupportSubDirectory,
                                         sec::Keychain::shared());
    }
    static NEBInstanceIDCheckinPreferences preferences(std::string id, std::string secret) {
        NEBInstanceIDCheckinPreferences made(std::move(id), std::move(secret));
        made.updateWithCheckinPlistContents({{kNEBInstanceIDDigestKey, "dg"},
                                             {kNEBInstanceIDLastCheckinTimestampKey,
                                              NEBInstanceIDCurrentTimestampInMilliseconds()}});
        return made;
    }
};

TEST_F(StorageTest, KeychainFormOfCredentialsNeedsExactlyTwoNonEmptyParts) {
    struct Case {
        const char* text;
        bool parses;
    } cases[] = {{"1|2", true}, {"12", false}, {"1|2|3", false},
                 {"|2", false}, {"1|", false}, {"", false}};
    for (const auto& c : cases) {
        auto parsed = NEBInstanceIDCheckinPreferences::preferencesFromKeychainContents(c.text);
        EXPECT_EQ(parsed.has_value(), c.parses) << c.text;
    }
}

TEST_F(StorageTest, CheckinIsValidForTwentyFourHours) {
    const int64_t now = NEBInstanceIDCurrentTimestampInMilliseconds();
    struct Case {
        int64_t ageSeconds;
        bool valid;
    } cases[] = {{0, true}, {86399, true}, {86400, false}, {86401, false}, {-60, true}};
    for (const auto& c : cases) {
        NEBInstanceIDCheckinPreferences made("1", "2");
        made.updateWithCheckinPlistContents(
            {{kNEBInstanceIDLastCheckinTimestampKey, now - c.ageSeconds * 1000}});
        EXPECT_EQ(made.hasValidCheckinInfo(), c.valid) << c.ageSeconds;
    }
    NEBInstanceIDCheckinPreferences noSecret("1", "");
    noSecret.updateWithCheckinPlistContents({{kNEBInstanceIDLastCheckinTimestampKey, now}});
    EXPECT_FALSE(noSecret.hasValidCheckinInfo());
}

TEST_F(StorageTest, SavedCheckinSplitsIntoKeychainItemAndPlistAndJoinsAgain) {
    auto store = checkinStore();
    ASSERT_TRUE(store.saveCheckinPreferences(preferences("4000000000000000001", "77")).ok());
    auto items = itemsOf(kNEBInstanceIDCheckinKeychainGeneric);
    EXPECT_EQ(items["com.nebula.iid.checkin-service/com.nebula.iid.checkin-account"],
              "4000000000000000001|77");
    auto plist = ns::PropertyListSerialization::readFile(iidDirectory() + "/g-checkin.plist");
    ASSERT_TRUE(plist.ok());
    EXPECT_FALSE(plist->dictionary()->contains(kNEBInstanceIDDeviceAuthIdKey));
    EXPECT_EQ((*plist)[kNEBInstanceIDDigestKey].stringValue(), "dg");
    EXPECT_TRUE(ns::FileManager::defaultManager().isExcludedFromBackup(iidDirectory() +
                                                                       "/g-checkin.plist"));

    auto loaded = checkinStore().cachedCheckinPreferences();
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->deviceID(), "4000000000000000001");
    EXPECT_EQ(loaded->secretToken(), "77");
    EXPECT_EQ(loaded->digest(), "dg");
    EXPECT_TRUE(loaded->hasValidCheckinInfo());
}

TEST_F(StorageTest, OlderPlistCredentialsWinOnlyWithExactlySixEntries) {
    struct Case {
        size_t entries;  // the two older keys and filler
        const char* expectedID;
    } cases[] = {{6, "old"}, {5, "new"}, {7, "new"}};
    for (const auto& c : cases) {
        ASSERT_TRUE(checkinStore().saveCheckinPreferences(preferences("new", "s")).ok());
        ns::Dictionary plist{{kNEBInstanceIDDeviceAuthIdKey, "old"},
                             {kNEBInstanceIDSecretTokenKey, "os"}};
        for (size_t i = plist.size(); i < c.entries; ++i) plist["k" + std::to_string(i)] = "x";
        ASSERT_TRUE(ns::PropertyListSerialization::writeFileAtomically(
                        iidDirectory() + "/g-checkin.plist", ns::Value(plist),
                        ns::PropertyListSerialization::Format::Binary)
                        .ok());
        auto loaded = checkinStore().cachedCheckinPreferences();
        ASSERT_TRUE(loaded);
        EXPECT_EQ(loaded->deviceID(), c.expectedID) << c.entries << " entries";
    }
    // Without keychain credentials the older layout alone still gives a check-in.
    ASSERT_TRUE(checkinStore().removeCheckinPreferences().ok());
    ASSERT_TRUE(ns::PropertyListSerialization::writeFileAtomically(
                    iidDirectory() + "/g-checkin.plist",
                    ns::Value(ns::Dictionary{{kNEBInstanceIDDeviceAuthIdKey, "old"},
                                             {kNEBInstanceIDSecretTokenKey, "os"}}),
                    ns::PropertyListSerialization::Format::Binary)
                    .ok());
    auto loaded = checkinStore().cachedCheckinPreferences();
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->deviceID(), "old");
}

TEST_F(StorageTest, FailedPlistWriteRemovesOnlyTheKeychainItemThisSaveWrote) {
    ASSERT_TRUE(checkinStore().saveCheckinPreferences(preferences("1", "2")).ok());
    ASSERT_TRUE(
        ns::FileManager::defaultManager().removeItem(iidDirectory() + "/g-checkin.plist").ok());
    blockPlist("g-checkin");

    // The same credentials, already in the keychain: a failed plist keeps them.
    auto repeated = preferences("1", "2");
    repeated.setHasPreCachedAuthCredentials(true);
    EXPECT_FALSE(checkinStore().saveCheckinPreferences(repeated).ok());
    EXPECT_EQ(itemsOf(kNEBInstanceIDCheckinKeychainGeneric).size(), 1u);

    // New credentials: no keychain item may outlive the failed save.
    EXPECT_FALSE(checkinStore().saveCheckinPreferences(preferences("3", "4")).ok());
    EXPECT_TRUE(itemsOf(kNEBInstanceIDCheckinKeychainGeneric).empty());

    // One that cannot be taken back is said, with the keychain's reason.
    ns::InjectedFaults faults;
    ns::InjectedFaults::at("rename", [] { ns::InjectedFaults::add("keychain", sec::errSecIO); });
    EXPECT_FALSE(checkinStore().saveCheckinPreferences(preferences("5", "6")).ok());
    EXPECT_EQ(itemsOf(kNEBInstanceIDCheckinKeychainGeneric).size(), 1u);
    EXPECT_TRUE(
        recorder_->contains("Failed to remove checkin auth credentials from Keychain "
                            "Error Domain=com.nebula.iid Code=-36"));
}

TEST_F(StorageTest, SavingWithoutSecretWritesNothingAndRemovingWithoutItemDeletesPlist) {
    EXPECT_FALSE(checkinStore().saveCheckinPreferences(preferences("1", "")).ok());
    EXPECT_TRUE(itemsOf(kNEBInstanceIDCheckinKeychainGeneric).empty());
    EXPECT_FALSE(ns::FileManager::defaultManager().fileExists(iidDirectory() + "/g-checkin.plist"));

    ASSERT_TRUE(ns::PropertyListSerialization::writeFileAtomically(
                    iidDirectory() + "/g-checkin.plist", ns::Value(ns::Dictionary{{"a", 1}}),
                    ns::PropertyListSerialization::Format::Binary)
                    .ok());
    EXPECT_TRUE(checkinStore().removeCheckinPreferences().ok());
    EXPECT_FALSE(ns::FileManager::defaultManager().fileExists(iidDirectory() + "/g-checkin.plist"));
}

TEST_F(StorageTest, TokenValuesSplitAtTheFirstMarker) {
    struct Case {
        const char* value;
        std::optional<std::string> token;
        int64_t time;
    } cases[] = {
        {"1700000000|Token|abc", "abc", 1700000000},
        {"abc", std::nullopt, 0},
        {"|Token|abc", "abc", 0},
        {"5|Token|a|Token|b", "a|Token|b", 5},
        {"5|Token|", std::nullopt, 5},
        {"x5|Token|t", "t", 0},
        {"99999999999999999999|Token|t", "t", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NEBInstanceIDTokenStore::actualTokenFromCachedToken(c.value), c.token) << c.value;
        EXPECT_EQ(NEBInstanceIDTokenStore::cacheTimeForCachedToken(c.value), c.time) << c.value;
    }
}

TEST_F(StorageTest, TokenItemsAreStampedAndRemovedByScope) {
    auto tokens = NEBInstanceIDTokenStore::defaultStore(sec::Keychain::shared());
    ASSERT_TRUE(tokens->saveToken("t-default", "sender", "*"));
    ASSERT_TRUE(tokens->saveToken("t-ncm", "sender", "ncm"));
    ASSERT_TRUE(tokens->saveToken("auth", "sender", "iid-all"));
    ASSERT_TRUE(tokens->saveToken("t-other", "sender", "app-scope"));
    ASSERT_TRUE(checkinStore().saveCheckinPreferences(preferences("1", "2")).ok());
    auto items = itemsOf(kNEBInstanceIDTokenKeychainIdentifier);
    EXPECT_EQ(items["*/sender"],
              std::to_string(NEBInstanceIDCurrentTimestampInSeconds()) + "|Token|t-default");
    // "*" names the default scope's own item, never any item of the entity.
    EXPECT_EQ(tokens->tokenWithAuthorizedEntity("sender", "*"), "t-default");
    EXPECT_EQ(tokens->tokenWithAuthorizedEntity("sender", "iid-all"), "auth");

    // Messaging tokens (under their own scopes) go; the auth token and other scopes stay.
    ASSERT_TRUE(tokens->removeMSGTokens().ok());
    EXPECT_FALSE(tokens->tokenWithAuthorizedEntity("sender", "*"));
    EXPECT_FALSE(tokens->tokenWithAuthorizedEntity("sender", "ncm"));
    EXPECT_EQ(tokens->tokenWithAuthorizedEntity("sender", "iid-all"), "auth");
    EXPECT_EQ(tokens->tokenWithAuthorizedEntity("sender", "app-scope"), "t-other");

    // All tokens go; the check-in credentials of another generic attribute stay.
    ASSERT_TRUE(tokens->removeAllTokens().ok());
    EXPECT_TRUE(itemsOf(kNEBInstanceIDTokenKeychainIdentifier).empty());
    EXPECT_EQ(itemsOf(kNEBInstanceIDCheckinKeychainGeneric).size(), 1u);
}

TEST_F(StorageTest, ReadsInTurnAnswerEachItemsCurrentValue) {
    NEBInstanceIDAuthKeychain keychain("g");
    ASSERT_TRUE(keychain.setPassword("one", "s", std::nullopt, "a").ok());
    ASSERT_TRUE(keychain.setPassword("two", "s", std::nullopt, "b").ok());
    ASSERT_TRUE(keychain.setPassword("three", "b", std::nullopt, "s").ok());
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(keychain.passwordForService("s", "a").value(), "one");
        EXPECT_EQ(keychain.passwordForService("s", "b").value(), "two");
        EXPECT_EQ(keychain.passwordForService("b", "s").value(), "three");
        EXPECT_EQ(keychain.passwordForService("s", "b").value(), "two");
    }
    ASSERT_TRUE(keychain.setPassword("two again", "s", std::nullopt, "b").ok());
    EXPECT_EQ(keychain.passwordForService("s", "b").value(), "two again");
    ASSERT_TRUE(keychain.removePasswordForService("s", "b").ok());
    EXPECT_FALSE(keychain.passwordForService("s", "b").ok());
    // Another object of the same generic attribute sees the same items.
    EXPECT_EQ(NEBInstanceIDAuthKeychain("g").passwordForService("s", "a").value(), "one");
}

TEST_F(StorageTest, ConcurrencyReadersOfDifferentItemsGetTheirOwn) {
    NEBInstanceIDAuthKeychain keychain("g");
    constexpr int kThreads = 4, kReads = 50;
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_TRUE(
            keychain
                .setPassword("v" + std::to_string(t), "s", std::nullopt, "a" + std::to_string(t))
                .ok());
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int n = 0; n < kReads; ++n) {
                auto read = keychain.passwordForService("s", "a" + std::to_string(t));
                ASSERT_TRUE(read.ok());
                EXPECT_EQ(*read, "v" + std::to_string(t));
            }
        });
    }
    for (auto& thread : threads) thread.join();
}

TEST_F(StorageTest, EmptyPasswordRemovesTheItemAndFails) {
    NEBInstanceIDAuthKeychain keychain("g");
    ASSERT_TRUE(keychain.setPassword("v", "s", std::nullopt, "a").ok());
    auto failed = keychain.setPassword("", "s", std::nullopt, "a");
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().code(), kNEBInstanceIDKeychainBadParameter);
    EXPECT_TRUE(itemsOf("g").empty());
}

TEST_F(StorageTest, PrintingTheItemsShowsNoSecretAndChangesNothing) {
    NEBInstanceIDAuthKeychain keychain("g");
    ASSERT_TRUE(keychain.setPassword("secret-value", "s", std::nullopt, "a").ok());
    testsupport::LogCapture log;
    NEBInstanceIDAuthKeychain::printKeychainItems();
    for (const auto& line : log.texts()) EXPECT_EQ(line.find("secret-value"), std::string::npos);
    for (const auto& line : recorder_->lines()) {
        EXPECT_EQ(line.find("secret-value"), std::string::npos);
    }
    EXPECT_EQ(keychain.passwordForService("s", "a").value(), "secret-value");
}

TEST_F(StorageTest, CacheKeysSplitBackIntoEntityAndScope) {
    struct Case {
        const char* entity;
        const char* scope;
        bool splits;
    } cases[] = {{"a", "b", true}, {"a|x", "b", false}, {"123", "*", true}};
    for (const auto& c : cases) {
        auto key = NEBInstanceIDTokenStore::cacheKeyForAuthorizedEntity(c.entity, c.scope);
        auto entity = NEBInstanceIDStore::authorizedEntityInTokenCacheKey(key);
        auto scope = NEBInstanceIDStore::scopeInTokenCacheKey(key);
        EXPECT_EQ(entity.has_value(), c.splits) << key;
        if (c.splits) {
            EXPECT_EQ(*entity, c.entity);
            EXPECT_EQ(*scope, c.scope);
        } else {
            EXPECT_FALSE(scope);
        }
    }
}

TEST_F(StorageTest, PlistInBothFoldersIsReadFromDocumentsAndBothStay) {
    std::string documents = ns::Sandbox::documentsDirectory() + "/p.plist";
    std::string support = iidDirectory() + "/p.plist";
    for (const auto& [path, value] :
         {std::pair{documents, "docs"}, std::pair{support, "support"}}) {
        ASSERT_TRUE(ns::PropertyListSerialization::writeFileAtomically(
                        path, ns::Value(ns::Dictionary{{"v", value}}),
                        ns::PropertyListSerialization::Format::Binary)
                        .ok());
    }
    NEBInstanceIDBackupExcludedPlist plist("p", kNEBInstanceIDApplicationSupportSubDirectory);
    EXPECT_EQ(plist.contentAsDictionary()->at("v").stringValue(), "docs");
    EXPECT_TRUE(ns::FileManager::defaultManager().fileExists(documents));
    EXPECT_TRUE(ns::FileManager::defaultManager().fileExists(support));

    // Only in Documents: moved into Application Support.
    ASSERT_TRUE(ns::FileManager::defaultManager().removeItem(support).ok());
    NEBInstanceIDBackupExcludedPlist moved("p", kNEBInstanceIDApplicationSupportSubDirectory);
    EXPECT_TRUE(moved.fileInApplicationSupport());
    EXPECT_FALSE(ns::FileManager::defaultManager().fileExists(documents));
    EXPECT_EQ(moved.contentAsDictionary()->at("v").stringValue(), "docs");
}

TEST_F(StorageTest, ReinstallDeletesOldTokensAtTheServerOnceAndForgetsTheKeychain) {
    // An earlier installation left credentials and tokens in the keychain; the sandbox is new.
    ASSERT_TRUE(checkinStore().saveCheckinPreferences(preferences("9007199254740993", "55")).ok());
    ASSERT_TRUE(NEBInstanceIDTokenStore::defaultStore(sec::Keychain::shared())
                    ->saveToken("old", "sender", "*"));
    ASSERT_TRUE(
        ns::FileManager::defaultManager().removeItem(iidDirectory() + "/g-checkin.plist").ok());
    registration_->answer(peers::RegistrationPeer::text("deleted=1\n"));

    auto store = NEBInstanceIDStore::defaultStore(services_);
    ASSERT_TRUE(waitUntil([&] { return registration_->count() == 1; }));
    auto request = registration_->requests().front();
    EXPECT_EQ(request.authorization, "AidLogin 9007199254740993:55");
    EXPECT_EQ(request.field("X-scope"), "ncm");
    EXPECT_EQ(request.field("device"), "9007199254740993");
    EXPECT_TRUE(request.isDelete());
    EXPECT_TRUE(itemsOf(kNEBInstanceIDCheckinKeychainGeneric).empty());
    EXPECT_TRUE(itemsOf(kNEBInstanceIDTokenKeychainIdentifier).empty());
    EXPECT_EQ(store->currentSavedLibraryVersion(), "1.0.8");

    // The next creation in this installation does nothing.
    auto again = NEBInstanceIDStore::defaultStore(services_);
    loop().runUntilIdle();
    EXPECT_EQ(registration_->count(), 1u);
}

TEST_F(StorageTest, UpdateFromABuildWithoutLibraryVersionKeepsTheCredentials) {
    ASSERT_TRUE(checkinStore().saveCheckinPreferences(preferences("1", "2")).ok());
    auto store = NEBInstanceIDStore::defaultStore(services_);
    loop().runUntilIdle();
    EXPECT_EQ(registration_->count(), 0u);
    EXPECT_EQ(store->cachedCheckinPreferences()->deviceID(), "1");
    EXPECT_TRUE(store->hasSavedLibraryVersion());
}

}  // namespace
