#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <thread>

#include "platform/sec/Keychain.h"
#include "platform/sec/SecItem.h"
#include "platform/testing/InjectedFaults.h"
#include "signin/DSAuthenticationSettings.h"
#include "signin/DSKeychainTokenCache.h"
#include "signin/DSKeyedArchiver.h"
#include "tests/signin/SigninTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Golden.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManualRunLoop.h"
#include "tests/support/TempDir.h"

namespace {

using signintest::kAuthority;
using signintest::tokenItem;

class DSKeychainTokenCacheTest : public testsupport::ManualRunLoop {
protected:
    void SetUp() override {
        ManualRunLoop::SetUp();
        sec::Keychain::setDirectory(dir.path());
        cache = DSKeychainTokenCache::initWithGroup("test.group");
        ASSERT_TRUE(cache);
        // The first cache of the process schedules the daily purge; let it finish.
        loop().runUntilIdle();
    }
    void TearDown() override {
        loop().runUntilIdle();
        sec::Keychain::setDirectory(sec::Keychain::defaultDirectory());
        ManualRunLoop::TearDown();
    }

    size_t stored(const DSTokenCacheKey* key, const std::optional<std::string>& user) {
        return cache->getItemsWithKey(key, user, std::nullopt, nullptr)->size();
    }

    testsupport::TempDir dir;
    std::shared_ptr<DSKeychainTokenCache> cache;
};

TEST_F(DSKeychainTokenCacheTest, StoredAttributesOfAnItemWithoutResource) {
    auto item = tokenItem("u@x", std::nullopt);
    ASSERT_TRUE(cache->addOrUpdateItem(item.get(), std::nullopt, nullptr));
    EXPECT_EQ(cache->sharedGroup(), "LOCALDE421B8C38.test.group");
    ns::Value found;
    ASSERT_EQ(
        sec::SecItemCopyMatching({{sec::kSecClass, sec::kSecClassGenericPassword},
                                  {sec::kSecAttrAccessGroup, cache->sharedGroup()},
                                  {sec::kSecAttrGeneric, ns::Data::fromString("DirServices.SAL.1")},
                                  {sec::kSecReturnAttributes, true}},
                                 &found),
        sec::errSecSuccess);
    EXPECT_EQ(found[sec::kSecAttrService],
              ns::Value("DirServices.SAL.1|" + adBase64UrlEncode(kAuthority) +
                        "|CC3513A0-0E69-4B4D-97FC-DFB6C91EE132|" + adBase64UrlEncode("client-1")));
    EXPECT_EQ(found[sec::kSecAttrAccount], ns::Value(adBase64UrlEncode("u@x")));
    EXPECT_EQ(found[sec::kSecAttrAccessible],
              ns::Value(sec::kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly));
}

TEST_F(DSKeychainTokenCacheTest, AddUpdateAndReadByKeyAndUser) {
    auto first = tokenItem("u@x", "res");
    ASSERT_TRUE(cache->addOrUpdateItem(first.get(), std::nullopt, nullptr));
    auto second = tokenItem("u@x", "res", "client-1", "2");
    ASSERT_TRUE(cache->addOrUpdateItem(second.get(), std::nullopt, nullptr));
    auto key = first->extractKey();
    EXPECT_EQ(stored(key.get(), std::nullopt), 1u);
    auto got = cache->getItemWithKey(key.get(), "u@x", std::nullopt, nullptr);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->accessToken(), "at-2");
    // What a caller does with its copy stays with it.
    got->setAccessToken("changed");
    EXPECT_EQ(cache->getItemWithKey(key.get(), "u@x", std::nullopt, nullptr)->accessToken(),
              "at-2");
}

TEST_F(DSKeychainTokenCacheTest, TwoUsersOfOneKeyAreKeptApart) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("Code: DS_ERROR_CACHE_MULTIPLE_USERS ");
    auto alice = tokenItem("alice@x", "res", "client-1", "a");
    auto bob = tokenItem("bob@x", "res", "client-1", "b");
    auto nobody = tokenItem(std::nullopt, "res", "client-1", "n");
    for (auto& item : {alice, bob, nobody})
        ASSERT_TRUE(cache->addOrUpdateItem(item.get(), {}, nullptr));
    auto key = alice->extractKey();
    std::optional<DSAuthenticationError> error;
    EXPECT_FALSE(cache->getItemWithKey(key.get(), std::nullopt, ns::UUID(), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), 300);
    EXPECT_EQ(cache->getItemWithKey(key.get(), "bob@x", {}, nullptr)->accessToken(), "at-b");
    EXPECT_EQ(cache->getItemWithKey(key.get(), "", {}, nullptr)->accessToken(), "at-n");

    // Removing the user-less item (no refresh token, so no tombstone) leaves the others.
    nobody->setRefreshToken(std::nullopt);
    ASSERT_TRUE(cache->removeItem(nobody.get(), nullptr));
    EXPECT_EQ(stored(key.get(), std::nullopt), 2u);
    EXPECT_EQ(cache->getItemWithKey(key.get(), "alice@x", {}, nullptr)->accessToken(), "at-a");
}

TEST_F(DSKeychainTokenCacheTest, RemovalLeavesATombstoneOnlyForRefreshTokens) {
    auto item = tokenItem("u@x", "res");
    ASSERT_TRUE(cache->addOrUpdateItem(item.get(), {}, nullptr));
    ASSERT_TRUE(cache->removeItem(item.get(), nullptr));
    auto key = item->extractKey();
    EXPECT_FALSE(cache->getItemWithKey(key.get(), "u@x", {}, nullptr));
    EXPECT_TRUE(cache->allItems(nullptr)->empty());
    auto tombstones = cache->allTombstones(nullptr);
    ASSERT_EQ(tombstones->size(), 1u);
    EXPECT_EQ((*tombstones)[0]->tombstone()->at("errorDetails"),
              ns::Value("Manually removed from cache."));
    EXPECT_FALSE((*tombstones)[0]->refreshToken());
    EXPECT_TRUE(item->refreshToken());  // the caller's item is left as it was

    auto noRefresh = tokenItem("u@x", "other");
    noRefresh->setRefreshToken(std::nullopt);
    ASSERT_TRUE(cache->addOrUpdateItem(noRefresh.get(), {}, nullptr));
    ASSERT_TRUE(cache->removeItem(noRefresh.get(), nullptr));
    EXPECT_EQ(stored(noRefresh->extractKey().get(), std::nullopt), 0u);
    EXPECT_TRUE(cache->removeItem(tokenItem("v@x", "never-stored").get(), nullptr));
}

// The count that a read logs is of the tokens it gives: a removed token's tombstone is not one.
TEST_F(DSKeychainTokenCacheTest, ReadLogsTheCountOfLiveTokensOnly) {
    signintest::ScopedLogLines lines;
    auto removed = tokenItem("u@x", "res");
    auto kept = tokenItem("u@x", "other");
    for (auto& item : {removed, kept}) ASSERT_TRUE(cache->addOrUpdateItem(item.get(), {}, nullptr));
    ASSERT_TRUE(cache->removeItem(removed.get(), nullptr));
    lines.clear();
    EXPECT_EQ(cache->allItems(nullptr)->size(), 1u);
    EXPECT_EQ(lines.count("Found 1 token(s) for query"), 1u);
    ASSERT_TRUE(cache->removeItem(kept.get(), nullptr));
    lines.clear();
    EXPECT_TRUE(cache->allItems(nullptr)->empty());
    EXPECT_EQ(cache->allTombstones(nullptr)->size(), 2u);
    EXPECT_EQ(lines.count("token(s)"), 0u);
    EXPECT_EQ(lines.count("No items were found for query"), 2u);
}

TEST_F(DSKeychainTokenCacheTest, UnreadableItemsAreSkipped) {
    signintest::ScopedLogLines lines;
    auto good = tokenItem("u@x", "res");
    ASSERT_TRUE(cache->addOrUpdateItem(good.get(), {}, nullptr));
    ns::Dictionary bad = cache->defaultKeychainQuery();
    bad[sec::kSecAttrService] = "junk";
    bad[sec::kSecAttrAccount] = "junk";
    bad[sec::kSecValueData] = ns::Data::fromString("not an archive");
    ASSERT_EQ(sec::SecItemAdd(bad), sec::errSecSuccess);
    EXPECT_EQ(cache->allItems(nullptr)->size(), 1u);
    EXPECT_TRUE(lines.anyContains("Failed to deserialize data from keychain"));
}

TEST_F(DSKeychainTokenCacheTest, DailyCleanDeletesOnlyExpiredTombstones) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("-testRemoveAll: being called in DSKeychainTokenCache");
    cache->testRemoveAll(nullptr);
    // First check ever: it is time, and the next time is a day ahead.
    EXPECT_TRUE(cache->cleanTombstoneIfNecessary());
    EXPECT_NEAR(cache->getTombstoneCleanTime()->timeIntervalSinceNow(), 86400, 1);
    EXPECT_FALSE(cache->cleanTombstoneIfNecessary());

    auto past = tokenItem("u@x", "past");
    auto none = tokenItem("u@x", std::nullopt);
    auto future = tokenItem("u@x", "future");
    auto live = tokenItem("u@x", "live");
    for (auto& item : {past, none, future, live})
        ASSERT_TRUE(cache->addOrUpdateItem(item.get(), {}, nullptr));
    for (auto& item : {past, none, future}) ASSERT_TRUE(cache->removeItem(item.get(), nullptr));
    clock().advanceSeconds(86400 + 1);
    // The future tombstone expires a day ahead of now.
    auto futureStone =
        cache->getItemsWithKey(future->extractKey().get(), "u@x", {}, nullptr)->at(0);
    futureStone->setExpiresOn(ns::Date::now().dateByAddingTimeInterval(3600));
    ASSERT_TRUE(cache->addOrUpdateItem(futureStone.get(), {}, nullptr));
    ASSERT_EQ(cache->allTombstones(nullptr)->size(), 3u);

    EXPECT_TRUE(cache->cleanTombstoneIfNecessary());
    auto left = cache->allTombstones(nullptr);
    ASSERT_EQ(left->size(), 1u);
    EXPECT_EQ((*left)[0]->resource(), "future");
    EXPECT_EQ(cache->allItems(nullptr)->size(), 1u);
}

TEST_F(DSKeychainTokenCacheTest, CleanTimeFarAheadCountsAsAbsent) {
    cache->storeTombstoneCleanTime(ns::Date::now().dateByAddingTimeInterval(86400 * 365));
    EXPECT_TRUE(cache->cleanTombstoneIfNecessary());
    EXPECT_NEAR(cache->getTombstoneCleanTime()->timeIntervalSinceNow(), 86400, 1);
}

TEST_F(DSKeychainTokenCacheTest, PurgeSparesALiveTokenWrittenOverATombstone) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("-testRemoveAll: being called in DSKeychainTokenCache");
    cache->testRemoveAll(nullptr);
    auto item = tokenItem("u@x", "res");
    ASSERT_TRUE(cache->addOrUpdateItem(item.get(), {}, nullptr));
    ASSERT_TRUE(cache->removeItem(item.get(), nullptr));
    clock().advanceSeconds(2 * 86400);
    // Right after the purge has listed the tombstones, the sign-in writes a live token into
    // the tombstone's slot.
    bool written = false;
    auto fresh = tokenItem("u@x", "res", "client-1", "fresh");
    ns::InjectedFaults points;
    points.at(DSKeychainTokenCache::kPurgeListedPoint, [&] {
        written = true;
        EXPECT_TRUE(cache->addOrUpdateItem(fresh.get(), {}, nullptr));
    });
    EXPECT_TRUE(cache->cleanTombstoneIfNecessary());
    ASSERT_TRUE(written);
    auto got = cache->getItemWithKey(item->extractKey().get(), "u@x", {}, nullptr);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->accessToken(), "at-fresh");
}

// Between the purge's list and its delete, the slot was emptied and tombstoned again: the
// new tombstone has not expired and stays.
TEST_F(DSKeychainTokenCacheTest, PurgeSparesATombstoneRenewedAfterTheList) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("-testRemoveAll: being called in DSKeychainTokenCache");
    cache->testRemoveAll(nullptr);
    auto item = tokenItem("u@x", "res");
    ASSERT_TRUE(cache->addOrUpdateItem(item.get(), {}, nullptr));
    ASSERT_TRUE(cache->removeItem(item.get(), nullptr));
    clock().advanceSeconds(2 * 86400);
    ns::InjectedFaults points;
    points.at(DSKeychainTokenCache::kPurgeListedPoint, [&] {
        auto renewed = cache->getItemsWithKey(item->extractKey().get(), "u@x", {}, nullptr)->at(0);
        renewed->setExpiresOn(ns::Date::now().dateByAddingTimeInterval(3600));
        EXPECT_TRUE(cache->addOrUpdateItem(renewed.get(), {}, nullptr));
    });
    EXPECT_TRUE(cache->cleanTombstoneIfNecessary());
    auto left = cache->allTombstones(nullptr);
    ASSERT_EQ(left->size(), 1u);
    EXPECT_EQ((*left)[0]->resource(), "res");
}

// A token written while the purge is about to delete the tombstone it re-read waits for the
// delete, and so lands after it: the purge never takes a live token with it.
TEST_F(DSKeychainTokenCacheTest, WriterWaitsWhileThePurgeDeletes) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("-testRemoveAll: being called in DSKeychainTokenCache");
    cache->testRemoveAll(nullptr);
    auto item = tokenItem("u@x", "res");
    ASSERT_TRUE(cache->addOrUpdateItem(item.get(), {}, nullptr));
    ASSERT_TRUE(cache->removeItem(item.get(), nullptr));
    clock().advanceSeconds(2 * 86400);
    auto fresh = tokenItem("u@x", "res", "client-1", "fresh");
    std::future<bool> writer;
    ns::InjectedFaults points;
    points.at(DSKeychainTokenCache::kPurgeDeletingPoint, [&] {
        auto other = DSKeychainTokenCache::initWithGroup("test.group");
        writer = std::async(std::launch::async, [other, fresh] {
            return other->addOrUpdateItem(fresh.get(), {}, nullptr);
        });
        // A writer that does not wait for the purge's lock is done well within this; one that
        // waits is not, and is let through by the delete.
        EXPECT_EQ(writer.wait_for(std::chrono::milliseconds(250)), std::future_status::timeout);
    });
    EXPECT_TRUE(cache->cleanTombstoneIfNecessary());
    ASSERT_TRUE(writer.valid());
    EXPECT_TRUE(writer.get());
    auto got = cache->getItemWithKey(item->extractKey().get(), "u@x", {}, nullptr);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->accessToken(), "at-fresh");
}

// A write that the keychain answers with "not found" did not happen, and says so: not found
// is no failure for a read or a delete, but a write that finds nothing has stored nothing.
TEST_F(DSKeychainTokenCacheTest, WriteThatNeverLandsIsAFailure) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("Code: -2070 ");
    auto item = tokenItem("u@x", "res");
    ns::InjectedFaults faults;
    faults.add("keychain", sec::errSecItemNotFound);
    std::optional<DSAuthenticationError> error;
    EXPECT_FALSE(cache->addOrUpdateItem(item.get(), {}, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), DSKeychainErrorDomain);
    EXPECT_EQ(error->code(), sec::errSecInternalComponent);
    faults.clear();
    EXPECT_FALSE(cache->getItemWithKey(item->extractKey().get(), "u@x", {}, nullptr));
}

TEST_F(DSKeychainTokenCacheTest, BulkRemovalsByClientAndUser) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("-testRemoveAll: being called in DSKeychainTokenCache");
    auto withRefresh = tokenItem("u@x", "r1");
    auto withoutRefresh = tokenItem("v@x", "r2");
    withoutRefresh->setRefreshToken(std::nullopt);
    auto otherClient = tokenItem("u@x", "r1", "client-2");
    for (auto& item : {withRefresh, withoutRefresh, otherClient})
        ASSERT_TRUE(cache->addOrUpdateItem(item.get(), {}, nullptr));
    EXPECT_TRUE(cache->removeAllForClientId("client-1", nullptr));
    auto items = cache->allItems(nullptr);
    ASSERT_EQ(items->size(), 1u);
    EXPECT_EQ((*items)[0]->clientId(), "client-2");
    ASSERT_EQ(cache->allTombstones(nullptr)->size(), 1u);

    auto v = tokenItem("v@x", "r3", "client-2");
    ASSERT_TRUE(cache->addOrUpdateItem(v.get(), {}, nullptr));
    EXPECT_TRUE(cache->removeAllForUserId("u@x", "client-2", nullptr));
    items = cache->allItems(nullptr);
    ASSERT_EQ(items->size(), 1u);
    EXPECT_EQ((*items)[0]->userInformation()->userId(), "v@x");

    cache->testRemoveAll(nullptr);
    EXPECT_TRUE(cache->getItemsWithKey(nullptr, std::nullopt, {}, nullptr)->empty());
    EXPECT_FALSE(cache->getTombstoneCleanTime());
}

TEST_F(DSKeychainTokenCacheTest, KeychainFailuresAreReportedWithTheStatus) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("Code: -34018 ");
    auto item = tokenItem("u@x", "res");
    ns::InjectedFaults faults;
    faults.add("keychain", sec::errSecMissingEntitlement);
    std::optional<DSAuthenticationError> error;
    EXPECT_FALSE(cache->addOrUpdateItem(item.get(), {}, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), DSKeychainErrorDomain);
    EXPECT_EQ(error->code(), sec::errSecMissingEntitlement);
    faults.add("keychain", sec::errSecMissingEntitlement);
    error.reset();
    EXPECT_FALSE(cache->allItems(&error));
    EXPECT_EQ(error->errorDetails(), "Keychain failed during \"retrieve items\" operation");
}

// Another process has added the item, with an accessibility of its own: this write replaces it
// whole, in one step, and the one item holds the new tokens under the cache's accessibility.
TEST_F(DSKeychainTokenCacheTest, AnItemAddedByAnotherWriterIsReplacedWhole) {
    auto first = tokenItem("u@x", "res");
    const auto key = first->extractKey();
    ns::Dictionary other = cache->queryDictionaryForKey(key.get(), "u@x", {});
    other[sec::kSecValueData] = *DSKeyedArchiver::archivedDataWithRootObject(first->encode());
    other[sec::kSecAttrAccessible] = sec::kSecAttrAccessibleAlways;
    ASSERT_EQ(sec::SecItemAdd(other), sec::errSecSuccess);
    auto second = tokenItem("u@x", "res", "client-1", "2");
    std::optional<DSAuthenticationError> error;
    EXPECT_TRUE(cache->addOrUpdateItem(second.get(), {}, &error));
    EXPECT_FALSE(error);
    EXPECT_EQ(stored(key.get(), "u@x"), 1u);
    EXPECT_EQ(cache->getItemWithKey(key.get(), "u@x", {}, nullptr)->accessToken(), "at-2");
    ns::Value found;
    ASSERT_EQ(sec::SecItemCopyMatching(cache->queryDictionaryForKey(
                                           key.get(), "u@x", {{sec::kSecReturnAttributes, true}}),
                                       &found),
              sec::errSecSuccess);
    EXPECT_EQ(found[sec::kSecAttrAccessible],
              ns::Value(sec::kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly));
}

TEST_F(DSKeychainTokenCacheTest, DefaultGroupIsFixedOnceTheDefaultCacheExists) {
    DSAuthenticationSettings::sharedInstance().setDefaultKeychainGroup("custom.group");
    EXPECT_EQ(DSAuthenticationSettings::sharedInstance().defaultKeychainGroup(), "custom.group");
    auto shared = DSKeychainTokenCache::defaultKeychainCache();
    ASSERT_TRUE(shared);
    EXPECT_EQ(shared->sharedGroup(), "LOCALDE421B8C38.custom.group");
    EXPECT_EQ(DSKeychainTokenCache::keychainCacheForGroup("custom.group"), shared);
    EXPECT_NE(DSKeychainTokenCache::keychainCacheForGroup("test.group"), shared);
    EXPECT_THROW(DSKeychainTokenCache::setDefaultKeychainGroup("other.group"), ns::Exception);
    EXPECT_EQ(DSKeychainTokenCache::defaultKeychainGroup(), "custom.group");
}

TEST_F(DSKeychainTokenCacheTest, TokenNamesForLogs) {
    auto at = tokenItem("u@x", "res");
    EXPECT_EQ(DSKeychainTokenCache::getTokenNameForLog(*at), "AT+RT");
    at->setExpiresOn(ns::Date::now());
    at->setRefreshToken(std::nullopt);
    EXPECT_EQ(DSKeychainTokenCache::getTokenNameForLog(*at), "expired AT");
    EXPECT_EQ(DSKeychainTokenCache::getTokenNameForLog(*tokenItem("u", std::nullopt)), "MRRT");
    EXPECT_EQ(DSKeychainTokenCache::getTokenNameForLog(*tokenItem("u", std::nullopt, "foci-1")),
              "FRT");

    // An item's own line: at VERBOSE, after the message, its tokens only as hashes.
    signintest::ScopedLogLines lines;
    DSKeychainTokenCache::logItem(*tokenItem("u@x", "res"), "Checked", std::nullopt);
    ASSERT_EQ(lines.lines().size(), 1u);
    const auto line = lines.lines()[0];
    EXPECT_EQ(line.level, DS_LOG_LEVEL_VERBOSE);
    EXPECT_NE(line.message.find("] Checked (authority="), std::string::npos) << line.message;
    EXPECT_NE(line.message.find(*DSLogger::getHash("at-1")), std::string::npos) << line.message;
    EXPECT_EQ(line.message.find("at-1"), std::string::npos) << line.message;
}

TEST_F(DSKeychainTokenCacheTest, ConcurrencyWritersOfManyUsersLoseNothing) {
    constexpr int kThreads = 4, kPerThread = 8;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // Each thread its own cache object of the same group, as separate contexts have.
            auto mine = DSKeychainTokenCache::initWithGroup("test.group");
            for (int i = 0; i < kPerThread; ++i) {
                auto item = tokenItem(ns::format("user%d@x", t), ns::format("r%d", i % 3),
                                      "client-1", ns::format("%d-%d", t, i));
                EXPECT_TRUE(mine->addOrUpdateItem(item.get(), {}, nullptr));
                if (i % 4 == 3) EXPECT_TRUE(mine->removeItem(item.get(), nullptr));
                mine->getItemsWithKey(item->extractKey().get(), std::nullopt, {}, nullptr);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    // Per user: r0, r1, r2 written; the last write of r1 (i=7) was removed into a tombstone.
    auto all = cache->getItemsWithKey(nullptr, std::nullopt, {}, nullptr);
    EXPECT_EQ(all->size(), static_cast<size_t>(kThreads * 3));
    EXPECT_EQ(cache->allTombstones(nullptr)->size(), static_cast<size_t>(kThreads));
}

TEST_F(DSKeychainTokenCacheTest, ReadsFollowTheStoredBytesWhoeverWroteThem) {
    auto item = tokenItem("u@x", "res", "client-1", "1");
    ASSERT_TRUE(cache->addOrUpdateItem(item.get(), {}, nullptr));
    auto key = item->extractKey();
    ASSERT_EQ(cache->getItemWithKey(key.get(), "u@x", {}, nullptr)->accessToken(), "at-1");
    // Another process of the group rewrites the item behind this cache's back.
    auto newer = tokenItem("u@x", "res", "client-1", "2");
    ASSERT_EQ(sec::SecItemUpdate(cache->queryDictionaryForKey(key.get(), "u@x", {}),
                                 {{sec::kSecValueData,
                                   *DSKeyedArchiver::archivedDataWithRootObject(newer->encode())}}),
              sec::errSecSuccess);
    for (int read = 0; read < 2; ++read) {
        auto got = cache->getItemWithKey(key.get(), "u@x", {}, nullptr);
        ASSERT_TRUE(got);
        EXPECT_EQ(got->accessToken(), "at-2");
        EXPECT_EQ(got->refreshToken(), "rt-2");
    }
    // A write through another cache object of the group is seen by this one at once.
    auto other = DSKeychainTokenCache::initWithGroup("test.group");
    ASSERT_TRUE(other->removeItem(newer.get(), nullptr));
    EXPECT_FALSE(cache->getItemWithKey(key.get(), "u@x", {}, nullptr));
}

// Many users read again and again, then changed, removed and damaged behind the cache's back:
// each read answers what the keychain holds now, never what was decoded before.
TEST_F(DSKeychainTokenCacheTest, ManyUsersReadAgainFollowTheKeychainBehindTheCachesBack) {
    constexpr int kUsers = 40;
    auto user = [](int n) { return ns::format("user%d@x", n); };
    std::vector<std::shared_ptr<DSTokenCacheItem>> items;
    for (int n = 0; n < kUsers; ++n) {
        items.push_back(tokenItem(user(n), "res", "client-1", std::to_string(n)));
        ASSERT_TRUE(cache->addOrUpdateItem(items.back().get(), {}, nullptr));
    }
    const auto key = items[0]->extractKey();
    auto read = [&](int n) { return cache->getItemWithKey(key.get(), user(n), {}, nullptr); };
    for (int round = 0; round < 2; ++round) {
        for (int n = 0; n < kUsers; ++n)
            ASSERT_EQ(read(n)->accessToken(), "at-" + std::to_string(n));
    }
    auto slot = [&](int n) { return cache->queryDictionaryForKey(key.get(), user(n), {}); };
    auto newer = tokenItem(user(7), "res", "client-1", "new");
    ASSERT_EQ(sec::SecItemUpdate(slot(7),
                                 {{sec::kSecValueData,
                                   *DSKeyedArchiver::archivedDataWithRootObject(newer->encode())}}),
              sec::errSecSuccess);
    ASSERT_EQ(sec::SecItemDelete(slot(13)), sec::errSecSuccess);
    ASSERT_EQ(sec::SecItemUpdate(slot(21),
                                 {{sec::kSecValueData, ns::Data::fromString("bplist00 damaged")}}),
              sec::errSecSuccess);
    signintest::ScopedLogLines lines;
    for (int round = 0; round < 2; ++round) {
        auto changed = read(7);
        ASSERT_TRUE(changed);
        EXPECT_EQ(changed->accessToken(), "at-new");
        EXPECT_EQ(changed->refreshToken(), "rt-new");
        EXPECT_FALSE(read(13));
        EXPECT_FALSE(read(21));
        EXPECT_EQ(read(30)->accessToken(), "at-30");
    }
    EXPECT_EQ(lines.count("Failed to deserialize data from keychain"), 2u);
}

// Users whose items differ in a few bytes only (same tokens, ids one character apart or one a
// prefix of the other) each get their own item, in any order of reading.
TEST_F(DSKeychainTokenCacheTest, UsersWithSimilarIdsGetTheirOwnItems) {
    const std::vector<std::string> users{"user1@x", "user2@x", "user11@x", "user1@xx"};
    for (const auto& name : users)
        ASSERT_TRUE(cache->addOrUpdateItem(tokenItem(name, "res").get(), {}, nullptr));
    const auto key = tokenItem(users[0], "res")->extractKey();
    for (int round = 0; round < 2; ++round) {
        for (size_t i = 0; i < users.size(); ++i) {
            const std::string& name = round == 0 ? users[i] : users[users.size() - 1 - i];
            auto got = cache->getItemWithKey(key.get(), name, {}, nullptr);
            ASSERT_TRUE(got) << name;
            EXPECT_EQ(got->userInformation()->userId(), name);
            EXPECT_EQ(got->userInformation()->rawIdToken(), signintest::idTokenFor(name));
        }
    }
}

TEST_F(DSKeychainTokenCacheTest, ItemsWhoseIdTokenWarnsWarnOnEveryRead) {
    auto item = tokenItem(std::nullopt, "res");
    item->setUserInformation(DSUserInformation::initWithIdToken(signintest::idToken(
        ns::Value::dict({{"alg", "none"}}), ns::Value::dict({{"upn", "u@x"}}))));
    ASSERT_TRUE(cache->addOrUpdateItem(item.get(), {}, nullptr));
    signintest::ScopedLogLines lines;
    for (int read = 0; read < 3; ++read) {
        auto got = cache->getItemWithKey(item->extractKey().get(), "u@x", {}, nullptr);
        ASSERT_TRUE(got);
        EXPECT_EQ(got->userInformation()->userId(), "u@x");
    }
    EXPECT_EQ(lines.count("The id_token type is missing."), 3u);
}

TEST_F(DSKeychainTokenCacheTest, ConcurrencyReadersNeverGoBackToAnOlderItem) {
    constexpr int kVersions = 40, kReaders = 3;
    auto first = tokenItem("u@x", "res", "client-1", "0");
    ASSERT_TRUE(cache->addOrUpdateItem(first.get(), {}, nullptr));
    const auto key = first->extractKey();
    std::atomic<bool> writing{true};
    std::vector<std::thread> readers;
    for (int r = 0; r < kReaders; ++r) {
        readers.emplace_back([&, r] {
            // One reader shares the writer's cache object, the others have their own.
            auto mine = r == 0 ? cache : DSKeychainTokenCache::initWithGroup("test.group");
            int seen = 0;
            while (writing.load()) {
                auto got = mine->getItemWithKey(key.get(), "u@x", {}, nullptr);
                ASSERT_TRUE(got);
                const int version = std::stoi(got->accessToken()->substr(3));
                EXPECT_EQ(got->refreshToken(), "rt-" + std::to_string(version));
                EXPECT_GE(version, seen);
                seen = version;
            }
            auto last = mine->getItemWithKey(key.get(), "u@x", {}, nullptr);
            EXPECT_EQ(last->accessToken(), "at-" + std::to_string(kVersions));
        });
    }
    for (int v = 1; v <= kVersions; ++v) {
        auto item = tokenItem("u@x", "res", "client-1", std::to_string(v));
        EXPECT_TRUE(cache->addOrUpdateItem(item.get(), {}, nullptr));
    }
    writing = false;
    for (auto& reader : readers) reader.join();
}

constexpr int kItemsOfTheKilledWriter = 6;

// The child of KillDuringWritesLeavesEachItemOldOrNew: rewrites the items in the keychain
// folder args[0] for ever, telling after the third round.
[[noreturn]] void rewriteItemsUntilKilled(int ready, const std::vector<std::string>& args) {
    // The same application as the test's, never left.
    new testsupport::ScopedMainBundle();
    sec::Keychain::setDirectory(args.at(0));
    auto cache = DSKeychainTokenCache::initWithGroup("test.group");
    if (!cache) _exit(2);
    for (int round = 1;; ++round) {
        for (int i = 0; i < kItemsOfTheKilledWriter; ++i) {
            auto item = tokenItem("u@x", ns::format("r%d", i), "client-1", ns::format("%d", round));
            cache->addOrUpdateItem(item.get(), {}, nullptr);
        }
        if (round == 3) {
            const char signal = 'r';
            (void)!write(ready, &signal, 1);
        }
    }
}
const testsupport::ChildRegistration kItemsWriter(
    "DSKeychainTokenCacheTest.rewriteItemsUntilKilled", &rewriteItemsUntilKilled);

// A writer killed at any instant leaves every item as it was or as it was being written.
TEST_F(DSKeychainTokenCacheTest, KillDuringWritesLeavesEachItemOldOrNew) {
    constexpr int kItems = kItemsOfTheKilledWriter;
    for (int i = 0; i < kItems; ++i) {
        auto item = tokenItem("u@x", ns::format("r%d", i), "client-1", "0");
        ASSERT_TRUE(cache->addOrUpdateItem(item.get(), {}, nullptr));
    }
    // The child opens the keychain file on its own, as another process would.
    sec::Keychain::setDirectory(dir.path());
    int pipefd[2];
    ASSERT_EQ(pipe(pipefd), 0);
    const pid_t child = testsupport::startChild("DSKeychainTokenCacheTest.rewriteItemsUntilKilled",
                                                pipefd[1], {dir.str()});
    ASSERT_GT(child, 0);
    close(pipefd[1]);
    char ready = 0;
    ASSERT_EQ(read(pipefd[0], &ready, 1), 1);
    close(pipefd[0]);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    auto items = cache->allItems(nullptr);
    ASSERT_EQ(items->size(), static_cast<size_t>(kItems));
    for (const auto& item : *items) {
        const std::string at = item->accessToken().value_or("");
        const std::string rt = item->refreshToken().value_or("");
        ASSERT_TRUE(at.starts_with("at-")) << at;
        EXPECT_EQ(rt, "rt-" + at.substr(3));  // both tokens of one write, never mixed
        EXPECT_GE(std::stoi(at.substr(3)), 3);
    }
}

}  // namespace
