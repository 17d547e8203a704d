#include <gtest/gtest.h>

#include "platform/sec/Keychain.h"
#include "signin/DSAuthenticationContext.h"
#include "signin/DSAuthenticationRequest.h"
#include "signin/DSKeychainTokenCache.h"
#include "signin/DSTokenCache.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

// Here, with the plug-in's tests, because it makes the default keychain cache, which is made
// once per process.
namespace {

// The initialisers over a sharing group's keychain cache and over an archivable cache.
TEST(DSAuthenticationContextCacheTest, InitialisersPickTheirTokenCache) {
    testsupport::TempDir keychain;
    sec::Keychain::setDirectory(keychain.path());
    struct Keeper : DSTokenCacheDelegate {
        void willAccessCache(DSTokenCache&) override {}
        void didAccessCache(DSTokenCache&) override {}
        void willWriteCache(DSTokenCache&) override {}
        void didWriteCache(DSTokenCache&) override {}
    };
    auto keeper = std::make_shared<Keeper>();
    auto archived = DSAuthenticationContext::initWithAuthority(
        "https://h/t", false, std::shared_ptr<DSTokenCacheDelegate>(keeper), nullptr);
    ASSERT_TRUE(archived);
    auto cache = std::dynamic_pointer_cast<DSTokenCache>(archived->tokenCacheStore()->dataSource());
    ASSERT_TRUE(cache);
    EXPECT_EQ(cache->delegate(), keeper);

    auto shared = DSAuthenticationContext::initWithAuthority("https://h/t", true,
                                                             std::string("team.shared"), nullptr);
    ASSERT_TRUE(shared);
    auto group =
        std::dynamic_pointer_cast<DSKeychainTokenCache>(shared->tokenCacheStore()->dataSource());
    ASSERT_TRUE(group);
    EXPECT_TRUE(group->sharedGroup().ends_with(".team.shared")) << group->sharedGroup();
    EXPECT_TRUE(shared->validateAuthority());
    sec::Keychain::setDirectory(sec::Keychain::defaultDirectory());
}

// A request made from an authority alone: a new context over the default keychain cache,
// without authority validation.
TEST(DSAuthenticationContextCacheTest, RequestFromAnAuthorityAlone) {
    testsupport::TempDir keychain;
    sec::Keychain::setDirectory(keychain.path());
    auto request = DSAuthenticationRequest::requestWithAuthority(" https://h/t ");
    ASSERT_TRUE(request);
    ASSERT_TRUE(request->context());
    EXPECT_EQ(request->context()->authority(), "https://h/t");
    EXPECT_FALSE(request->context()->validateAuthority());
    EXPECT_EQ(request->context()->tokenCacheStore()->dataSource(),
              DSKeychainTokenCache::defaultKeychainCache());
    EXPECT_FALSE(request->requestParams()->clientId());

    testsupport::LogCapture expectedLog;
    expectedLog.expect("ERROR: context must not be nil!");
    EXPECT_FALSE(DSAuthenticationRequest::requestWithAuthority("  "));
    EXPECT_FALSE(DSAuthenticationRequest::requestWithAuthority(std::nullopt));
    sec::Keychain::setDirectory(sec::Keychain::defaultDirectory());
}

}  // namespace
