#include <gtest/gtest.h>
#include <plist/plist.h>

#include "signin/DSKeyedArchiver.h"
#include "signin/DSKeyedUnarchiver.h"
#include "signin/DSTokenCache.h"
#include "tests/signin/SigninTestSupport.h"
#include "tests/support/ManualRunLoop.h"

namespace {

using signintest::tokenItem;

class RecordingDelegate : public DSTokenCacheDelegate {
public:
    void willAccessCache(DSTokenCache& cache) override {
        calls.push_back("willAccess");
        seen(cache);
    }
    void didAccessCache(DSTokenCache& cache) override {
        calls.push_back("didAccess");
        seen(cache);
    }
    void willWriteCache(DSTokenCache&) override { calls.push_back("willWrite"); }
    void didWriteCache(DSTokenCache&) override { calls.push_back("didWrite"); }
    void seen(DSTokenCache& cache) { itemsSeen.push_back(cache.serialize().has_value()); }
    std::vector<std::string> calls;
    std::vector<bool> itemsSeen;
};

ns::Data blobOf(const DSArchiveValue& root) {
    return *DSKeyedArchiver::archivedDataWithRootObject(root);
}

DSArchiveValue rootWith(DSArchiveValue version, DSArchiveValue tokenCache) {
    DSArchiveValue::Pairs pairs;
    if (!version.isNil()) pairs.emplace_back(DSArchiveValue::text("version"), std::move(version));
    if (!tokenCache.isNil())
        pairs.emplace_back(DSArchiveValue::text("tokenCache"), std::move(tokenCache));
    return DSArchiveValue::dictionary(std::move(pairs), false);
}

class DSTokenCacheTest : public testsupport::ManualRunLoop {};

TEST_F(DSTokenCacheTest, SerialisedCacheAnswersTheSameInAFreshCache) {
    DSTokenCache cache;
    auto a = tokenItem("alice@x", "r1");
    auto b = tokenItem("bob@x", "r1");
    auto mrrt = tokenItem(std::nullopt, std::nullopt);
    for (auto& item : {a, b, mrrt}) ASSERT_TRUE(cache.addOrUpdateItem(item.get(), {}, nullptr));
    std::optional<ns::Data> blob = cache.serialize();
    ASSERT_TRUE(blob);

    DSTokenCache fresh;
    std::optional<DSAuthenticationError> error;
    ASSERT_TRUE(fresh.deserialize(blob, &error)) << error->description();
    auto key = a->extractKey();
    EXPECT_EQ(fresh.getItemWithKey(key.get(), "alice@x", {}, nullptr)->accessToken(), "at-1");
    EXPECT_EQ(fresh.getItemsWithKey(key.get(), std::nullopt, {}, nullptr)->size(), 2u);
    EXPECT_TRUE(fresh.getItemWithKey(mrrt->extractKey().get(), "", {}, nullptr));
    EXPECT_EQ(fresh.allItems(nullptr)->size(), 3u);

    // The blob's root holds exactly the cache and the version 1.0.
    auto root = DSKeyedUnarchiver::unarchive(*blob, [] {
        auto classes = DSTokenCacheItem::archiveClasses();
        classes.insert(DSTokenCacheKey::kClassName);
        return classes;
    }());
    ASSERT_TRUE(root);
    ASSERT_EQ(root->pairs()->size(), 2u);
    EXPECT_EQ(root->member("version")->realValue(), 1.0);
    EXPECT_TRUE(root->member("tokenCache"));
}

TEST_F(DSTokenCacheTest, BadBlobsFailWithTheirMessagesAndKeepTheContent) {
    signintest::ScopedLogLines lines;
    DSTokenCache cache;
    auto kept = tokenItem("u@x", "r");
    ASSERT_TRUE(cache.addOrUpdateItem(kept.get(), {}, nullptr));
    auto emptyCache = DSArchiveValue::dictionary({}, true);
    DSArchiveValue::Pairs itemSlot{
        {DSArchiveValue::text("u@x"),
         DSArchiveValue::dictionary({{kept->extractKey()->encode(), DSArchiveValue::text("x")}},
                                    true)}};
    struct Case {
        const char* name;
        ns::Data blob;
        int64_t code;
        const char* details;
    } cases[] = {
        {"future version", blobOf(rootWith(DSArchiveValue::integer(2), emptyCache)), 301,
         "Cache is a future unsupported version."},
        {"no version", blobOf(rootWith({}, emptyCache)), 302, "Missing version number from cache."},
        {"array root", blobOf(DSArchiveValue::array({}, true)), 302,
         "Root level object of cache is not a NSDictionary!"},
        {"no cache", blobOf(rootWith(DSArchiveValue::real(1), {})), 302,
         "Missing token cache from data."},
        {"text in an item slot",
         blobOf(rootWith(DSArchiveValue::real(1),
                         DSArchiveValue::dictionary({{DSArchiveValue::text("tokens"),
                                                      DSArchiveValue::dictionary(itemSlot, true)}},
                                                    true))),
         302, "Token is not of the expected class type!"},
        {"not an archive", ns::Data::fromString("garbage"), 302,
         "Failed to unarchive data blob from -deserialize!"},
    };
    for (const Case& c : cases) {
        std::optional<DSAuthenticationError> error;
        EXPECT_FALSE(cache.deserialize(c.blob, &error)) << c.name;
        ASSERT_TRUE(error) << c.name;
        EXPECT_EQ(error->code(), c.code) << c.name;
        EXPECT_EQ(error->errorDetails(), c.details) << c.name;
    }
    EXPECT_TRUE(cache.getItemWithKey(kept->extractKey().get(), "u@x", {}, nullptr));

    // Older versions pass; a cache without "tokens" is accepted and then written to.
    ASSERT_TRUE(
        cache.deserialize(blobOf(rootWith(DSArchiveValue::real(0.5), emptyCache)), nullptr));
    EXPECT_TRUE(cache.allItems(nullptr)->empty());
    ASSERT_TRUE(cache.addOrUpdateItem(kept.get(), {}, nullptr));
    EXPECT_EQ(cache.allItems(nullptr)->size(), 1u);
    EXPECT_TRUE(cache.deserialize(std::nullopt, nullptr));
    EXPECT_FALSE(cache.serialize());
}

TEST_F(DSTokenCacheTest, RemovalDropsEmptyUsersAndCopiesStayApart) {
    DSTokenCache cache;
    auto item = tokenItem("u@x", "r");
    ASSERT_TRUE(cache.addOrUpdateItem(item.get(), {}, nullptr));
    auto got = cache.getItemWithKey(item->extractKey().get(), "u@x", {}, nullptr);
    got->setAccessToken("changed");
    item->setAccessToken("changed too");
    EXPECT_EQ(cache.getItemWithKey(item->extractKey().get(), "u@x", {}, nullptr)->accessToken(),
              "at-1");
    EXPECT_TRUE(cache.removeItem(item.get(), nullptr));
    EXPECT_TRUE(cache.removeItem(item.get(), nullptr));
    EXPECT_EQ(cache.description(), "DSTokenCache: { }");
}

TEST_F(DSTokenCacheTest, DelegateIsToldInOrderAndANewOneStartsEmpty) {
    DSTokenCache cache;
    ASSERT_TRUE(cache.addOrUpdateItem(tokenItem("u@x", "r").get(), {}, nullptr));
    auto delegate = std::make_shared<RecordingDelegate>();
    cache.setDelegate(delegate);
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"willAccess", "didAccess"}));
    EXPECT_EQ(delegate->itemsSeen, (std::vector<bool>{false, false}));
    cache.setDelegate(delegate);
    EXPECT_EQ(delegate->calls.size(), 2u);
    cache.allItems(nullptr);
    cache.addOrUpdateItem(tokenItem("u@x", "r").get(), {}, nullptr);
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"willAccess", "didAccess", "willAccess",
                                                         "didAccess", "willWrite", "didWrite"}));
}

}  // namespace
