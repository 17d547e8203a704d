#include <gtest/gtest.h>

#include "signin/DSTelemetry.h"
#include "signin/DSTokenCache.h"
#include "signin/DSTokenCacheAccessor.h"
#include "tests/signin/SigninTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManualRunLoop.h"

namespace {

using signintest::kAuthority;
using signintest::TestContext;
using signintest::tokenItem;

class RecordingDispatcher : public DSDispatcher {
public:
    void dispatchEvent(const std::vector<DSTelemetryProperty>& event) override {
        events.push_back(event);
    }
    std::optional<std::string> last(const std::string& name) const {
        for (const auto& p : events.back()) {
            if (p.name == name) return p.value;
        }
        return std::nullopt;
    }
    std::vector<std::vector<DSTelemetryProperty>> events;
};

class DSTokenCacheAccessorTest : public testsupport::ManualRunLoop {
protected:
    void SetUp() override {
        ManualRunLoop::SetUp();
        DSTelemetry::sharedInstance().registerDispatcher(dispatcher, false);
    }
    void TearDown() override {
        DSTelemetry::sharedInstance().registerDispatcher(nullptr, false);
        ManualRunLoop::TearDown();
    }

    std::shared_ptr<const DSAuthenticationResult> success(std::shared_ptr<DSTokenCacheItem> item,
                                                          bool mrrt) {
        return DSAuthenticationResult::resultFromTokenCacheItem(item, mrrt,
                                                                context.correlationId());
    }
    std::shared_ptr<const DSAuthenticationResult> rejected(const std::string& protocolCode) {
        return DSAuthenticationResult::resultFromError(
            DSAuthenticationError::errorFromAuthenticationError(203, protocolCode, "bad grant",
                                                                context.correlationId()));
    }

    std::shared_ptr<RecordingDispatcher> dispatcher = std::make_shared<RecordingDispatcher>();
    std::shared_ptr<DSTokenCache> store = std::make_shared<DSTokenCache>();
    DSTokenCacheAccessor accessor{store, kAuthority};
    TestContext context;
    std::shared_ptr<const DSUserIdentifier> user = DSUserIdentifier::identifierWithId("u@x");
};

TEST_F(DSTokenCacheAccessorTest, MultiResourceResponseWritesThreeEntries) {
    auto item = tokenItem("u@x", "res");
    item->setFamilyId("1");
    accessor.updateCacheToResult(success(item, true), nullptr, std::nullopt, context);
    EXPECT_EQ(item->refreshToken(), "rt-1");  // the caller's item is unchanged

    auto at = accessor.getATRTItemForUser(user.get(), "res", "client-1", context, nullptr);
    ASSERT_TRUE(at);
    EXPECT_EQ(at->accessToken(), "at-1");
    EXPECT_FALSE(at->refreshToken());
    auto mrrt = accessor.getMRRTItemForUser(user.get(), "client-1", context, nullptr);
    ASSERT_TRUE(mrrt);
    EXPECT_FALSE(mrrt->accessToken());
    EXPECT_FALSE(mrrt->resource());
    EXPECT_FALSE(mrrt->expiresOn());
    EXPECT_EQ(mrrt->refreshToken(), "rt-1");
    EXPECT_EQ(dispatcher->last("is_mrrt"), "yes");
    EXPECT_EQ(dispatcher->last("token_mrrt_status"), "tried");
    auto frt = accessor.getFRTItemForUser(user.get(), "1", context, nullptr);
    ASSERT_TRUE(frt);
    EXPECT_EQ(frt->clientId(), "foci-1");
    EXPECT_EQ(frt->refreshToken(), "rt-1");
    EXPECT_EQ(store->allItems(nullptr)->size(), 3u);
    EXPECT_EQ(DSTokenCacheAccessor::familyClientId(std::nullopt), "foci-1");
    EXPECT_EQ(DSTokenCacheAccessor::familyClientId("7"), "foci-7");
}

TEST_F(DSTokenCacheAccessorTest, SingleResourceResponseKeepsItsRefreshToken) {
    auto item = tokenItem("u@x", "res");
    accessor.updateCacheToResult(success(item, false), nullptr, std::nullopt, context);
    EXPECT_EQ(store->allItems(nullptr)->size(), 1u);
    EXPECT_EQ(accessor.getATRTItemForUser(user.get(), "res", "client-1", context, nullptr)
                  ->refreshToken(),
              "rt-1");
    EXPECT_EQ(dispatcher->last("status"), "succeeded");
    EXPECT_FALSE(accessor.getATRTItemForUser(user.get(), "other", "client-1", context, nullptr));
    EXPECT_EQ(dispatcher->last("status"), "failed");
    EXPECT_EQ(dispatcher->last("event_name"), "token_cache_lookup");
}

TEST_F(DSTokenCacheAccessorTest, InvalidResponsesAreNotStored) {
    signintest::ScopedLogLines lines;
    auto noAccessToken = tokenItem("u@x", "res");
    noAccessToken->setAccessToken(std::nullopt);
    accessor.updateCacheToResult(success(noAccessToken, false), nullptr, std::nullopt, context);
    accessor.updateCacheToResult(success(tokenItem("u@x", std::nullopt), false), nullptr,
                                 std::nullopt, context);
    EXPECT_TRUE(store->allItems(nullptr)->empty());
    EXPECT_EQ(lines.count("Told to update cache to an invalid token cache item"), 2u);
}

TEST_F(DSTokenCacheAccessorTest, RejectedRefreshTokenTombstonesTheItemHoldingIt) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("Code: DS_ERROR_SERVER_REFRESH_TOKEN_REJECTED ");
    auto item = tokenItem("u@x", "res");
    accessor.updateCacheToResult(success(item, false), nullptr, std::nullopt, context);
    auto cached = accessor.getATRTItemForUser(user.get(), "res", "client-1", context, nullptr);

    accessor.updateCacheToResult(rejected("other_error"), cached.get(), "rt-1", context);
    EXPECT_TRUE(accessor.getATRTItemForUser(user.get(), "res", "client-1", context, nullptr));

    accessor.updateCacheToResult(rejected("invalid_grant"), cached.get(), "rt-1", context);
    EXPECT_FALSE(accessor.getATRTItemForUser(user.get(), "res", "client-1", context, nullptr));
    auto stones = store->allTombstones(nullptr);
    ASSERT_EQ(stones->size(), 1u);
    const ns::Dictionary& details = *(*stones)[0]->tombstone();
    EXPECT_EQ(details.at("correlationId"), ns::Value(context.correlationId()->UUIDString()));
    EXPECT_EQ(details.at("errorDetails"), ns::Value("bad grant"));
    EXPECT_EQ(details.at("protocolCode"), ns::Value("invalid_grant"));
    EXPECT_FALSE((*stones)[0]->refreshToken());
    EXPECT_FALSE((*stones)[0]->accessToken());
}

TEST_F(DSTokenCacheAccessorTest, RejectedTokenHeldOnlyByTheMRRTTombstonesTheMRRT) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("Code: DS_ERROR_SERVER_REFRESH_TOKEN_REJECTED ");
    auto item = tokenItem("u@x", "res");
    accessor.updateCacheToResult(success(item, true), nullptr, std::nullopt, context);
    auto at = accessor.getATRTItemForUser(user.get(), "res", "client-1", context, nullptr);
    accessor.updateCacheToResult(rejected("invalid_grant"), at.get(), "rt-1", context);
    EXPECT_TRUE(accessor.getATRTItemForUser(user.get(), "res", "client-1", context, nullptr));
    EXPECT_FALSE(accessor.getMRRTItemForUser(user.get(), "client-1", context, nullptr));
    EXPECT_EQ(dispatcher->last("token_mrrt_status"), "not_found");
    EXPECT_EQ(store->allTombstones(nullptr)->size(), 1u);
    // A refresh token no item holds any more changes nothing.
    accessor.updateCacheToResult(rejected("invalid_grant"), at.get(), "rt-1", context);
    EXPECT_EQ(store->allTombstones(nullptr)->size(), 1u);
}

TEST_F(DSTokenCacheAccessorTest, FDSLookupUsesTheUserlessSlot) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("ERROR: InvalidArgumentError: authority");
    expectedLog.expect("Code: DS_ERROR_DEVELOPER_INVALID_ARGUMENT ");
    auto item = tokenItem(std::nullopt, "res");
    ASSERT_TRUE(store->addOrUpdateItem(item.get(), {}, nullptr));
    auto found = accessor.getFDSUserTokenForResource("res", "client-1", context, nullptr);
    ASSERT_TRUE(found);
    EXPECT_EQ(dispatcher->last("token_type"), "FDS access token/refresh token");
    EXPECT_EQ(dispatcher->last("is_rt"), "yes");
    const size_t events = dispatcher->events.size();
    DSTokenCacheAccessor unusable(store, "http://insecure.example/tenant");
    EXPECT_FALSE(unusable.getFDSUserTokenForResource("res", "client-1", context, nullptr));
    EXPECT_EQ(dispatcher->events.size(), events);
}

TEST_F(DSTokenCacheAccessorTest, ExpiredItemsAreReturnedForTheCallerToJudge) {
    auto item = tokenItem("u@x", "res");
    accessor.updateCacheToResult(success(item, false), nullptr, std::nullopt, context);
    clock().advanceSeconds(3600 - 200);
    auto got = accessor.getATRTItemForUser(user.get(), "res", "client-1", context, nullptr);
    ASSERT_TRUE(got);
    EXPECT_TRUE(got->isExpired());
}

}  // namespace
