#include <gtest/gtest.h>

#include "signin/DSAuthenticationResult.h"
#include "signin/DSKeyedArchiver.h"
#include "signin/DSKeyedUnarchiver.h"
#include "signin/DSTokenCacheItem.h"
#include "signin/DSTokenCacheKey.h"
#include "tests/signin/SigninTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManualRunLoop.h"

namespace {

using signintest::kAuthority;
using signintest::tokenItem;

TEST(DSTokenCacheKeyTest, NormalisesAndComparesCanonicalForms) {
    auto key = DSTokenCacheKey::keyWithAuthority(
        "  HTTPS://Login.Directory.Example:443/Tenant/x/y?q=1 ", "  Resource-A ", " ABC-123 ");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->authority(), "https://login.directory.example:443/tenant");
    EXPECT_EQ(key->resource(), "resource-a");
    EXPECT_EQ(key->clientId(), "abc-123");
    auto same = DSTokenCacheKey::keyWithAuthority("https://login.directory.example:443/tenant",
                                                  "resource-a", "abc-123");
    EXPECT_EQ(*key, *same);
    EXPECT_EQ(key->hash(), same->hash());

    auto none = DSTokenCacheKey::keyWithAuthority(kAuthority, std::nullopt, "c");
    auto empty = DSTokenCacheKey::keyWithAuthority(kAuthority, "", "c");
    auto none2 = DSTokenCacheKey::keyWithAuthority(kAuthority, std::nullopt, "C");
    EXPECT_FALSE(*none == *empty);
    EXPECT_FALSE(*empty == *none);
    EXPECT_TRUE(*none == *none2);
    EXPECT_FALSE(*none == *DSTokenCacheKey::keyWithAuthority(kAuthority, "x", "c"));
}

TEST(DSTokenCacheKeyTest, RefusesUnusableAuthorityAndBlankClient) {
    signintest::ScopedLogLines lines;
    std::optional<DSAuthenticationError> error;
    for (const char* authority : {"http://login.directory.example/tenant",
                                  "https://login.directory.example", "https://h/", "not a url"}) {
        error.reset();
        EXPECT_FALSE(DSTokenCacheKey::keyWithAuthority(authority, "r", "c", &error)) << authority;
        ASSERT_TRUE(error);
        EXPECT_EQ(error->errorDetails(), "The argument 'authority' is invalid. Value:(null)");
    }
    error.reset();
    EXPECT_FALSE(DSTokenCacheKey::keyWithAuthority(kAuthority, "r", "   ", &error));
    EXPECT_EQ(error->errorDetails(), "The argument 'clientId' is invalid. Value:");
}

class DSTokenCacheItemTest : public testsupport::ManualRunLoop {};

TEST_F(DSTokenCacheItemTest, EqualityIgnoresTokensAndResourceOnlyOneWay) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("ERROR: InvalidArgumentException: other");
    auto a = tokenItem("u@x", "res");
    auto b = tokenItem("u@x", "res", "client-1", "2");
    b->setExpiresOn(std::nullopt);
    EXPECT_TRUE(a->isEqual(*b));
    auto noResource = tokenItem("u@x", std::nullopt);
    EXPECT_TRUE(noResource->isEqual(*a));
    EXPECT_FALSE(a->isEqual(*noResource));
    EXPECT_FALSE(a->isEqual(*tokenItem("v@x", "res")));
    EXPECT_TRUE(tokenItem(std::nullopt, "r")->isSameUser(tokenItem(std::nullopt, "r").get()));
    EXPECT_FALSE(a->isSameUser(tokenItem(std::nullopt, "res").get()));
    EXPECT_THROW(a->isSameUser(nullptr), ns::Exception);
}

TEST_F(DSTokenCacheItemTest, ExpiryUsesTheBufferAndMultiResourceRule) {
    auto item = tokenItem("u@x", "res");
    item->setExpiresOn(ns::Date::now().dateByAddingTimeInterval(299));
    EXPECT_TRUE(item->isExpired());
    item->setExpiresOn(ns::Date::now().dateByAddingTimeInterval(301));
    EXPECT_FALSE(item->isExpired());
    clock().advanceSeconds(2);
    EXPECT_TRUE(item->isExpired());
    item->setExpiresOn(std::nullopt);
    EXPECT_FALSE(item->isExpired());

    auto mrrt = tokenItem("u@x", std::nullopt);
    EXPECT_TRUE(mrrt->isMultiResourceRefreshToken());
    mrrt->setAccessToken("at");
    EXPECT_FALSE(mrrt->isMultiResourceRefreshToken());
    EXPECT_FALSE(item->isMultiResourceRefreshToken());
}

TEST_F(DSTokenCacheItemTest, DescriptionHashesTokens) {
    auto item = tokenItem("u@x", "res");
    item->setAccessToken("abc");
    item->setRefreshToken(std::nullopt);
    const std::string text = item->description();
    EXPECT_NE(text.find("accessToken=ba7816b"), std::string::npos) << text;
    EXPECT_NE(text.find("refreshToken=(nil)"), std::string::npos) << text;
    EXPECT_EQ(text.find("abc "), std::string::npos);
    auto result = DSAuthenticationResult::resultFromTokenCacheItem(item, true, ns::UUID());
    EXPECT_EQ(result->accessToken(), "abc");
    EXPECT_EQ(result->description().find("=abc"), std::string::npos);
    EXPECT_FALSE(DSAuthenticationResult::resultFromError(
                     DSAuthenticationError::errorQuietWithAuthenticationError(1, {}, {}))
                     ->accessToken());
}

TEST_F(DSTokenCacheItemTest, ArchiveRoundTripNamesTheStoredClass) {
    auto item = tokenItem("u@x", "res");
    item->setFamilyId("1");
    item->setSessionKey(ns::Data::fromString("\x01\x02"));
    item->setAdditionalServer(
        ns::Dictionary{{"ext", 5}, {"nested", ns::Value::array({true, nullptr})}});
    std::optional<ns::Data> blob = DSKeyedArchiver::archivedDataWithRootObject(item->encode());
    ASSERT_TRUE(blob);
    EXPECT_NE(blob->chars().find("DSTokenCacheStoreItem"), std::string::npos);
    auto root = DSKeyedUnarchiver::unarchive(*blob, DSTokenCacheItem::archiveClasses());
    ASSERT_TRUE(root) << root.error().description();
    auto back = DSTokenCacheItem::decode(*root);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->isEqual(*item));
    EXPECT_EQ(back->hash(), item->hash());
    EXPECT_EQ(back->accessToken(), item->accessToken());
    EXPECT_EQ(back->refreshToken(), item->refreshToken());
    EXPECT_EQ(back->sessionKey(), item->sessionKey());
    EXPECT_EQ(back->familyId(), "1");
    EXPECT_NEAR(back->expiresOn()->timeIntervalSince1970(),
                item->expiresOn()->timeIntervalSince1970(), 1e-3);
    EXPECT_EQ(back->additionalServer(), item->additionalServer());
    EXPECT_EQ(back->userInformation()->userId(), "u@x");
    EXPECT_FALSE(back->tombstone());
}

TEST_F(DSTokenCacheItemTest, TombstoneDropsTokensAndCopiesAreIndependent) {
    auto item = tokenItem("u@x", "res");
    item->setSessionKey(ns::Data::fromString("k"));
    auto copy = item->copy();
    copy->makeTombstone({{"errorDetails", "gone"}});
    EXPECT_FALSE(copy->accessToken());
    EXPECT_FALSE(copy->refreshToken());
    EXPECT_FALSE(copy->sessionKey());
    EXPECT_EQ(copy->tombstone()->at("errorDetails"), ns::Value("gone"));
    EXPECT_TRUE(item->accessToken());
    EXPECT_FALSE(item->tombstone());
}

}  // namespace
