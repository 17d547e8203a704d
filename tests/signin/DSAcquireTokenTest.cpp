#include <gtest/gtest.h>

#include <future>

#include "platform/sec/Keychain.h"
#include "services/peers/IdentityPeer.h"
#include "signin/DSAuthenticationContext.h"
#include "signin/DSAuthenticationRequest.h"
#include "signin/DSInstanceDiscovery.h"
#include "signin/DSKeychainTokenCache.h"
#include "signin/DSKeychainUtil.h"
#include "signin/DSTokenCache.h"
#include "tests/peers/LoopPump.h"
#include "tests/signin/SigninNetTest.h"
#include "tests/signin/SigninTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {

using peers::IdentityPeer;
using Result = std::shared_ptr<const DSAuthenticationResult>;

constexpr const char* kClient = "client-1";
constexpr const char* kResource = "https://graph.example";

class DSAcquireTokenTest : public signintest::SigninNetTest {
protected:
    void SetUp() override {
        SigninNetTest::SetUp();
        peer_.serveTokens("tenant.example");
        peer_.answerDiscovery(IdentityPeer::Discovery::Valid);
        context_ = DSAuthenticationContext::initWithAuthority(authority_, true, store_, nullptr);
        ASSERT_TRUE(context_);
    }

    // An item of the context's authority; expired when asked.
    std::shared_ptr<DSTokenCacheItem> seed(const std::string& user,
                                           const std::optional<std::string>& resource,
                                           const std::string& tokens, bool expired,
                                           const std::string& clientId = kClient) {
        auto item = signintest::tokenItem(user, resource, clientId, tokens);
        item->setAuthority(authority_);
        if (expired) item->setExpiresOn(ns::Date::now().dateByAddingTimeInterval(-10));
        store_->addOrUpdateItem(item.get(), std::nullopt, nullptr);
        return item;
    }

    Result silent(const std::optional<std::string>& user) {
        auto promise = std::make_shared<std::promise<Result>>();
        auto future = promise->get_future();
        auto calls = std::make_shared<std::atomic<int>>(0);
        context_->acquireTokenSilentWithResource(kResource, kClient, "x-dsauth-app://done", user,
                                                 [promise, calls](Result r) {
                                                     if (++*calls == 1) promise->set_value(r);
                                                 });
        EXPECT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        Result result = future.get();
        calls_ = calls;
        return result;
    }

    std::shared_ptr<DSTokenCacheItem> cached(const std::string& user,
                                             const std::optional<std::string>& resource,
                                             const std::string& clientId = kClient) {
        auto key = DSTokenCacheKey::keyWithAuthority(authority_, resource, clientId, nullptr);
        return store_->getItemWithKey(key.get(), DSUserInformation::normalizeUserId(user),
                                      std::nullopt, nullptr);
    }

    peers::HttpsServer server_{ca()};
    IdentityPeer peer_{server_};
    DSInstanceDiscovery discovery_{{peer_.authority()}};
    DSInstanceDiscovery::ScopedOverride useLoopback_{discovery_};
    std::string authority_ = server_.baseURL() + "/tenant.example";
    std::shared_ptr<DSTokenCache> store_ = std::make_shared<DSTokenCache>();
    std::shared_ptr<DSAuthenticationContext> context_;
    std::shared_ptr<std::atomic<int>> calls_;
};

TEST_F(DSAcquireTokenTest, ValidAccessTokenIsServedFromTheCacheWithoutATokenRequest) {
    seed("u@x", kResource, "1", /*expired=*/false);
    Result result = silent("u@x");
    ASSERT_EQ(result->status(), DS_SUCCEEDED);
    EXPECT_EQ(result->accessToken(), "at-1");
    EXPECT_TRUE(peer_.tokenForms().empty());
}

TEST_F(DSAcquireTokenTest, ExpiredTokenIsRefreshedAfterValidationAndStoredAsThreeEntries) {
    seed("u@x", kResource, "1", /*expired=*/true);
    peer_.grant("rt-1", {"u@x", "at-new", "rt-new", kResource});
    signintest::ScopedLogLines log;
    Result result = silent("u@x");
    ASSERT_EQ(result->status(), DS_SUCCEEDED)
        << (result->error() ? result->error()->description() : "");
    EXPECT_EQ(result->accessToken(), "at-new");
    EXPECT_EQ(calls_->load(), 1);

    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].path, IdentityPeer::kDiscoveryPath);
    EXPECT_EQ(requests[1].path, "/tenant.example/oauth2/token");
    // The token request reports the discovery exchange that came before it.
    EXPECT_EQ(requests[1].header("x-client-last-endpoint"), "instance");
    EXPECT_EQ(requests[1].header("client-request-id"), requests[0].header("client-request-id"));
    const auto form = peer_.tokenForms().at(0);
    EXPECT_EQ(form.at("grant_type"), "refresh_token");
    EXPECT_EQ(form.at("refresh_token"), "rt-1");
    EXPECT_EQ(form.at("client_id"), kClient);
    EXPECT_EQ(form.at("resource"), kResource);

    auto access = cached("u@x", kResource);
    ASSERT_TRUE(access);
    EXPECT_EQ(access->accessToken(), "at-new");
    EXPECT_FALSE(access->refreshToken());
    auto mrrt = cached("u@x", std::nullopt);
    ASSERT_TRUE(mrrt);
    EXPECT_EQ(mrrt->refreshToken(), "rt-new");
    auto family = cached("u@x", std::nullopt, "foci-1");
    ASSERT_TRUE(family);
    EXPECT_EQ(family->refreshToken(), "rt-new");

    // Tokens never reach a log line, at the most verbose level either.
    for (const char* secret : {"at-new", "rt-new", "rt-1", "eyJ"})
        EXPECT_FALSE(log.anyContains(secret)) << secret;
}

TEST_F(DSAcquireTokenTest, RejectedRefreshTokenIsTombstonedAndReported) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("Code: DS_ERROR_SERVER_REFRESH_TOKEN_REJECTED ");
    expectedLog.expect("Code: DS_ERROR_SERVER_USER_INPUT_NEEDED ");
    seed("u@x", kResource, "1", /*expired=*/true);
    Result result = silent("u@x");
    ASSERT_TRUE(result->error());
    EXPECT_EQ(result->error()->code(), DS_ERROR_SERVER_REFRESH_TOKEN_REJECTED);
    EXPECT_EQ(result->error()->protocolCode(), "invalid_grant");
    auto item = cached("u@x", kResource);
    EXPECT_TRUE(!item || !item->refreshToken());
    // The tombstone keeps the next attempt from redeeming the token again.
    const size_t before = peer_.tokenForms().size();
    Result again = silent("u@x");
    ASSERT_TRUE(again->error());
    EXPECT_EQ(again->error()->code(), DS_ERROR_SERVER_USER_INPUT_NEEDED);
    EXPECT_EQ(peer_.tokenForms().size(), before);
}

TEST_F(DSAcquireTokenTest, FallsBackToTheMultiResourceThenTheFamilyToken) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("Code: DS_ERROR_SERVER_REFRESH_TOKEN_REJECTED ");
    seed("u@x", std::nullopt, "mrrt", /*expired=*/false);  // rejected by the peer
    seed("u@x", std::nullopt, "frt", /*expired=*/false, "foci-1");
    peer_.grant("rt-frt", {"u@x", "at-f", "rt-f2", kResource});
    Result result = silent("u@x");
    ASSERT_EQ(result->status(), DS_SUCCEEDED)
        << (result->error() ? result->error()->description() : "");
    EXPECT_EQ(result->accessToken(), "at-f");
    const auto forms = peer_.tokenForms();
    ASSERT_EQ(forms.size(), 2u);
    EXPECT_EQ(forms[0].at("refresh_token"), "rt-mrrt");
    EXPECT_EQ(forms[1].at("refresh_token"), "rt-frt");
    EXPECT_EQ(forms[1].at("client_id"), kClient);
}

TEST_F(DSAcquireTokenTest, AnotherUsersTokensAreNeitherReturnedNorStored) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("Code: DS_ERROR_SERVER_WRONG_USER ");
    seed("a@x", kResource, "1", /*expired=*/true);
    peer_.grant("rt-1", {"b@x", "at-b", "rt-b", kResource});
    Result result = silent("a@x");
    ASSERT_TRUE(result->error());
    EXPECT_EQ(result->error()->code(), DS_ERROR_SERVER_WRONG_USER);
    EXPECT_FALSE(cached("b@x", kResource));
    EXPECT_EQ(cached("a@x", kResource)->refreshToken(), "rt-1");
}

TEST_F(DSAcquireTokenTest, SilentWithNothingCachedNeedsUserInput) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("Code: DS_ERROR_SERVER_USER_INPUT_NEEDED ");
    Result result = silent(std::nullopt);
    ASSERT_TRUE(result->error());
    EXPECT_EQ(result->error()->code(), DS_ERROR_SERVER_USER_INPUT_NEEDED);
    EXPECT_EQ(peer_.tokenForms().size(), 0u);
}

TEST_F(DSAcquireTokenTest, FailedValidationEndsTheRequestBeforeAnyToken) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("Code: DS_ERROR_SERVER_USER_INPUT_NEEDED ");
    expectedLog.expect("Code: DS_ERROR_DEVELOPER_INVALID_ARGUMENT ");
    server_.stop();
    DSInstanceDiscovery refusing{{peer_.authority()}};
    DSInstanceDiscovery::ScopedOverride scope(refusing);
    seed("u@x", kResource, "1", /*expired=*/false);
    context_ = DSAuthenticationContext::initWithAuthority("https://sts.contoso.test/fds", true,
                                                          store_, nullptr);
    // An FDS authority is not validated (the stopped peer would fail it): the cache decides.
    EXPECT_EQ(silent("u@x")->error()->code(), DS_ERROR_SERVER_USER_INPUT_NEEDED);
    context_ = DSAuthenticationContext::initWithAuthority("http://sts.contoso.test/t", true, store_,
                                                          nullptr);
    Result result = silent("u@x");
    ASSERT_TRUE(result->error());
    EXPECT_EQ(result->error()->code(), DS_ERROR_DEVELOPER_INVALID_ARGUMENT);
}

// Each public variant hands the acquisition core its own API identifier; the silent ones
// never prompt.
TEST_F(DSAcquireTokenTest, EachVariantHandsItsApiIdentifier) {
    seed("u@x", kResource, "1", /*expired=*/false);
    signintest::ScopedLogLines log;
    int answered = 0;
    auto done = [&](Result r) {
        EXPECT_EQ(r->status(), DS_SUCCEEDED) << (r->error() ? r->error()->description() : "");
        ++answered;
    };
    const char* redirect = "x-dsauth-app://done";
    context_->acquireTokenWithResource(kResource, kClient, redirect, done);
    context_->acquireTokenWithResource(kResource, kClient, redirect, std::string("u@x"), done);
    context_->acquireTokenWithResource(kResource, kClient, redirect, std::string("u@x"),
                                       std::string("a=b"), done);
    context_->acquireTokenWithResource(kResource, kClient, redirect, DS_PROMPT_AUTO,
                                       std::string("u@x"), std::nullopt, done);
    context_->acquireTokenWithResource(kResource, kClient, redirect, DS_PROMPT_AUTO,
                                       DSUserIdentifier::identifierWithId("u@x"), std::nullopt,
                                       done);
    context_->acquireTokenSilentWithResource(kResource, kClient, redirect, done);
    context_->acquireTokenSilentWithResource(kResource, kClient, redirect, "u@x", done);
    ASSERT_TRUE(peers::runMainLoopUntil([&] { return answered == 7; }));
    for (const char* id : {"118", "121", "124", "127", "130", "7", "8"})
        EXPECT_EQ(log.count(std::string("[apiId ") + id + "]"), 1u) << id;
    EXPECT_TRUE(peer_.tokenForms().empty());

    EXPECT_FALSE(
        DSAuthenticationContext::isResponseFromBroker("com.directory.authenticator", std::nullopt));
    EXPECT_FALSE(DSAuthenticationContext::isResponseFromBroker(
        "com.other.app", ns::URL::parse("x-dsauth-app://done?x=1")));
    EXPECT_TRUE(DSAuthenticationContext::isResponseFromBroker(
        "com.directory.authenticator", ns::URL::parse("x-dsauth-app://done?x=1")));
    EXPECT_FALSE(
        DSAuthenticationContext::handleBrokerResponse(*ns::URL::parse("x-dsauth-app://done")));
}

TEST(DSAuthenticationContextTest, ArgumentsAreCheckedBeforeAnyRequest) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("ERROR: InvalidArgumentError: authority");
    expectedLog.expect("Code: DS_ERROR_DEVELOPER_INVALID_ARGUMENT ");
    std::optional<DSAuthenticationError> error;
    for (const char* blank : {"", "  "}) {
        error.reset();
        EXPECT_FALSE(DSAuthenticationContext::authenticationContextWithAuthority(std::string(blank),
                                                                                 false, &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), DS_ERROR_DEVELOPER_INVALID_ARGUMENT);
    }
    auto store = std::make_shared<DSTokenCache>();
    auto context = DSAuthenticationContext::initWithAuthority("https://h/t", false, store, nullptr);
    auto accessor = context->tokenCacheStore();
    context->setTokenCacheStore(store);
    EXPECT_EQ(context->tokenCacheStore(), accessor);
    context->setTokenCacheStore(std::make_shared<DSTokenCache>());
    EXPECT_NE(context->tokenCacheStore(), accessor);

    int calls = 0;
    Result seen;
    context->acquireTokenSilentWithResource(kResource, "  ", std::nullopt, [&](Result r) {
        ++calls;
        seen = r;
    });
    ASSERT_EQ(calls, 1);
    EXPECT_EQ(seen->error()->code(), DS_ERROR_DEVELOPER_INVALID_ARGUMENT);
    EXPECT_EQ(seen->error()->errorDetails(), "clientId cannot be nil");
    context->acquireTokenForAssertion(" ", 0, " ", kClient, std::nullopt, [&](Result r) {
        ++calls;
        seen = r;
    });
    ASSERT_EQ(calls, 2);
    EXPECT_EQ(seen->error()->errorDetails(), "assertion cannot be nil");
}

// In a process of its own, so that the class is used there for the first time: the first use
// writes the library's version to the system log, and later uses do not.
TEST(DSAuthenticationContextDeathTest, FirstUseLogsTheVersionOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            testsupport::LogCapture log;
            const size_t before = log.count("SAL version");
            DSAuthenticationContext::isResponseFromBroker("com.other.app", std::nullopt);
            const bool first = log.texts() == std::vector<std::string>{"SAL version 2.3.1"};
            DSAuthenticationContext::initWithAuthority("https://h/t", false,
                                                       std::make_shared<DSTokenCache>(), nullptr);
            DSAuthenticationContext::isResponseFromBroker("com.other.app", std::nullopt);
            std::exit(before == 0 && first && log.count("SAL version") == 1 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// What the factory with a sharing group and no validate flag makes and says; empty when all is
// as it should be.
std::string sharedGroupFactoryFaults() {
    testsupport::TempDir keychain;
    sec::Keychain::setDirectory(keychain.path());
    signintest::ScopedLogLines log;
    std::string faults;
    std::optional<DSAuthenticationError> error;
    if (DSAuthenticationContext::authenticationContextWithAuthoritySharedGroup(" ", "other.group",
                                                                               &error) ||
        !error || error->code() != DS_ERROR_DEVELOPER_INVALID_ARGUMENT)
        faults += "a blank authority is not refused; ";
    log.clear();
    error.reset();
    auto context = DSAuthenticationContext::authenticationContextWithAuthoritySharedGroup(
        "https://login.example/tenant.example", "other.group", &error);
    if (!context || error) return faults + "no context";
    if (!context->validateAuthority()) faults += "the authority is not validated; ";
    auto cache =
        std::dynamic_pointer_cast<DSKeychainTokenCache>(context->tokenCacheStore()->dataSource());
    // The group is the application's team's: a group of that name of another team is not it.
    const auto team = DSKeychainUtil::keychainTeamId();
    if (!team || !cache || cache->sharedGroup() != *team + ".other.group")
        faults += "not over the group's keychain cache; ";
    // Its own API entry comes first, then those of the operations it hands on to.
    const auto lines = log.lines();
    if (lines.empty() || lines.front().level != DS_LOG_LEVEL_VERBOSE ||
        lines.front().message.find("SAL API call [Version - 2.3.1]") == std::string::npos ||
        !lines.front().info ||
        lines.front().info->find("In function: authenticationContextWithAuthoritySharedGroup, "
                                 "file line #") != 0)
        faults += "no API entry line of its own; ";
    if (log.count("SAL API call") != 3) faults += "not three API entry lines; ";
    sec::Keychain::setDirectory(sec::Keychain::defaultDirectory());
    return faults;
}

// In a process of its own: the default keychain cache, once made, is the process's.
TEST(DSAuthenticationContextDeathTest, SharedGroupFactoryValidatesOverTheGroupsCache) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const std::string faults = sharedGroupFactoryFaults();
            std::fprintf(stderr, "%s", faults.c_str());
            std::exit(faults.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// The factories without an error out-parameter: a request of a context with empty parameters,
// and the initialiser's refusals as ERROR lines with code 2.
TEST(DSAuthenticationRequestTest, FactoriesWithoutErrorOutParameter) {
    signintest::ScopedLogLines log;
    auto context = DSAuthenticationContext::initWithAuthority(
        "https://h/t", true, std::make_shared<DSTokenCache>(), nullptr);
    const auto id = ns::UUID::fromString("0b7c1c55-2b43-4b8e-9a3f-5f6c8d1e2a90");
    context->setCorrelationId(id);
    auto bare = DSAuthenticationRequest::requestWithContext(context);
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->context(), context);
    EXPECT_FALSE(bare->requestParams()->authority());
    EXPECT_FALSE(bare->requestParams()->clientId());
    EXPECT_EQ(bare->correlationId(), id);
    bare->setUserId("u@x");
    EXPECT_EQ(bare->requestParams()->identifier()->userId(), "u@x");
    EXPECT_TRUE(log.lines().empty());

    auto params = std::make_shared<DSRequestParameters>();
    EXPECT_FALSE(DSAuthenticationRequest::requestWithContext(nullptr));
    EXPECT_FALSE(DSAuthenticationRequest::initWithContext(nullptr, params));
    EXPECT_FALSE(DSAuthenticationRequest::initWithContext(context, params));
    EXPECT_FALSE(DSAuthenticationRequest::initWithContext(context, nullptr));
    params->setClientId("");
    EXPECT_TRUE(DSAuthenticationRequest::initWithContext(context, params));
    std::vector<std::pair<std::string, int64_t>> refusals;
    for (const auto& line : log.lines()) {
        EXPECT_EQ(line.level, DS_LOG_LEVEL_ERROR);
        refusals.emplace_back(line.message.substr(line.message.find("] ") + 2), line.code);
    }
    using Refusal = std::pair<std::string, int64_t>;
    EXPECT_EQ(refusals, (std::vector<Refusal>{{"context must not be nil!", 2},
                                              {"context must not be nil!", 2},
                                              {"[requestParams clientId] must not be nil!", 2},
                                              {"[requestParams clientId] must not be nil!", 2}}));
}

TEST(DSAuthenticationRequestTest, ExclusionLockAdmitsOnePromptAtATime) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("Code: DS_ERROR_UI_MULTLIPLE_INTERACTIVE_REQUESTS ");
    auto context = DSAuthenticationContext::initWithAuthority(
        "https://h/t", false, std::make_shared<DSTokenCache>(), nullptr);
    auto params = std::make_shared<DSRequestParameters>();
    params->setClientId(kClient);
    auto first = DSAuthenticationRequest::requestWithContext(context, params, nullptr);
    auto second = DSAuthenticationRequest::requestWithContext(context, params->copy(), nullptr);
    Result refused;
    ASSERT_TRUE(first->takeExclusionLock([&](Result r) { refused = r; }));
    EXPECT_EQ(DSAuthenticationRequest::currentModalRequest(), first);
    EXPECT_FALSE(second->takeExclusionLock([&](Result r) { refused = r; }));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->error()->code(), DS_ERROR_UI_MULTLIPLE_INTERACTIVE_REQUESTS);
    DSAuthenticationRequest::releaseExclusionLock();
    EXPECT_FALSE(DSAuthenticationRequest::currentModalRequest());
    EXPECT_TRUE(second->takeExclusionLock([](Result) {}));
    DSAuthenticationRequest::releaseExclusionLock();

    // Options are frozen once the request has started; the log component is not.
    first->setScope("before");
    first->ensureRequest();
    first->setScope("after");
    first->setLogComponent("component");
    EXPECT_EQ(first->scope(), "before");
    EXPECT_EQ(first->logComponent(), "component");
    EXPECT_EQ(first->correlationId(), first->correlationId());
}

}  // namespace
