// Token registration: the signed form body, the key=value reply, the transient error's retry
// schedule, and the registrar and token manager above it.
#include <gtest/gtest.h>

#include "sdk/instance_id/NEBInstanceIDAuthService.h"
#include "sdk/instance_id/NEBInstanceIDErrors.h"
#include "sdk/instance_id/NEBInstanceIDKeyPair.h"
#include "sdk/instance_id/NEBInstanceIDKeyPairStore.h"
#include "sdk/instance_id/NEBInstanceIDRegistrationClient.h"
#include "sdk/instance_id/NEBInstanceIDTokenManager.h"
#include "tests/sdk/instance_id/InstanceIDFixture.h"

namespace {

using Client = NEBInstanceIDRegistrationClient;
using iidtest::InstanceIDTest;
using peers::CheckinPeer;
using peers::RegistrationPeer;

TEST(RegistrationReplyTest, TokensAnswerTheirOwnRequestOrCarryACommand) {
    struct Case {
        const char* token;
        uint64_t requestID;
        std::optional<std::string> expected;
        Client::TokenCommand command;
    } cases[] = {
        {"5:abc", 5, "abc", Client::TokenCommand::None},
        {"5:abc", 6, std::nullopt, Client::TokenCommand::None},
        {"55:abc", 5, std::nullopt, Client::TokenCommand::None},
        {"5:a:b", 5, "a:b", Client::TokenCommand::None},
        {"|ID|1|SYNC|:tok", 9, "tok", Client::TokenCommand::Sync},
        {"|ID|1|RST|:tok", 9, "tok", Client::TokenCommand::Reset},
        {"|ID|1|X|tok", 9, "tok", Client::TokenCommand::None},
        {"|ID|1|SYNC", 9, std::nullopt, Client::TokenCommand::None},
        {"|", 9, std::nullopt, Client::TokenCommand::None},
    };
    for (const auto& c : cases) {
        auto parsed = Client::parseToken(c.token, c.requestID);
        EXPECT_EQ(parsed.token, c.expected) << c.token;
        EXPECT_EQ(parsed.command, c.command) << c.token;
    }
}

TEST(RegistrationReplyTest, ReplyLinesSplitAtTheFirstTwoEqualSigns) {
    auto fields = Client::parseFetchTokenResponse("token=1:a=b\nnoise\nError=X\nError=Y\n\n");
    EXPECT_EQ(fields, (std::map<std::string, std::string>{{"token", "1:a"}, {"Error", "Y"}}));
    EXPECT_TRUE(Client::isDeleteSuccess("deleted=abc"));
    EXPECT_FALSE(Client::isDeleteSuccess("Error=deleted="));
}

TEST(RegistrationFormTest, FreeTextCannotEndOrSplitAField) {
    struct Case {
        const char* value;
        const char* sent;
    } cases[] = {{"plain-1.0 +/", "plain-1.0 +/"},
                 {"a&b=c", "a%26b%3Dc"},
                 {"100%", "100%25"},
                 {"x\r\ny", "x%0D%0Ay"}};
    for (const auto& c : cases) EXPECT_EQ(Client::formValue(c.value), c.sent) << c.value;

    ns::Dictionary options{
        {"apns_token", "p_0a&x"}, {"nmp_app_id", 7}, {"apns_sandbox", true}, {"other", "x"}};
    EXPECT_EQ(Client::requestContentSuffixFromOptions(options),
              "&apns_token=p_0a%26x&nmp_app_id=7");
    ns::Dictionary skipped{{"apns_token", ns::Data::fromString("raw")},
                           {"nmp_app_id", ns::Dictionary{}}};
    EXPECT_EQ(Client::requestContentSuffixFromOptions(skipped), "");
}

class RegistrationTest : public InstanceIDTest {
protected:
    void SetUp() override {
        InstanceIDTest::SetUp();
        ASSERT_TRUE(NEBInstanceIDStore::createApplicationSupportSubDirectory(
            kNEBInstanceIDApplicationSupportSubDirectory));
        manager_ = std::make_shared<NEBInstanceIDTokenManager>(services_);
        checkin_->answer(CheckinPeer::credentials("4000000000000000001", "77"));
        bool done = false;
        auth()->fetchCheckinInfoWithHandler([&](auto, auto) { done = true; });
        ASSERT_TRUE(waitUntil([&] { return done; }));
        ASSERT_TRUE(auth()->hasValidCheckinInfo());
        auto pair = keyPairs_.loadKeyPair();
        ASSERT_TRUE(pair.ok());
        keyPair_ = *pair;
        registration_->expectAuthorization("4000000000000000001:77");
    }
    std::shared_ptr<NEBInstanceIDAuthService> auth() {
        return manager_->registrar()->authService();
    }
    bool waitingToRetry(const std::string& scope) {
        auto client = manager_->registrar()->registrationClientForAuthorizedEntity("sender", scope);
        return client && client->isWaitingToRetry();
    }

    struct Outcome {
        bool done = false;
        std::optional<std::string> token;
        std::optional<ns::Error> error;
    };
    std::shared_ptr<Outcome> fetch(const std::string& scope, ns::Dictionary options = {}) {
        auto outcome = std::make_shared<Outcome>();
        manager_->fetchNewTokenWithAuthorizedEntity("sender", scope, keyPair_, options,
                                                    [outcome](auto token, auto error) {
                                                        outcome->token = token;
                                                        outcome->error = error;
                                                        outcome->done = true;
                                                    });
        return outcome;
    }
    std::shared_ptr<Outcome> fetchAndWait(const std::string& scope, ns::Dictionary options = {}) {
        auto outcome = fetch(scope, std::move(options));
        EXPECT_TRUE(waitUntil([&] { return outcome->done; }));
        return outcome;
    }

    NEBInstanceIDKeyPairStore keyPairs_{sec::Keychain::shared()};
    std::shared_ptr<NEBInstanceIDKeyPair> keyPair_;
    std::shared_ptr<NEBInstanceIDTokenManager> manager_;
};

TEST_F(RegistrationTest, SignedRequestIsVerifiedByTheServiceAndItsTokenCached) {
    registerMessaging();
    registration_->answer(RegistrationPeer::token("", "auth-1"));
    auto outcome =
        fetchAndWait("*", {{"apns_token", "p_0aff"}, {"apns_sandbox", false}, {"x", "y"}});
    ASSERT_FALSE(outcome->error) << outcome->error->description();
    auto request = registration_->requests().at(0);
    EXPECT_EQ(registration_->problems(), std::vector<std::string>{});
    EXPECT_EQ(outcome->token, "tok-" + request.field("X-kid"));
    EXPECT_EQ(request.app, iidtest::kBundleID);
    EXPECT_EQ(request.info, "v1");
    EXPECT_EQ(request.field("sender"), "sender");
    EXPECT_EQ(request.field("X-subtype"), "sender");
    EXPECT_EQ(request.field("X-scope"), "*");
    EXPECT_EQ(request.field("device"), "4000000000000000001");
    EXPECT_EQ(request.field("app_ver"), "1.0");
    EXPECT_EQ(request.field("plat"), "2");
    EXPECT_EQ(request.field("X-msg_ver"), "ncm-1.2.0");
    EXPECT_EQ(request.field("apns_token"), "p_0aff");
    EXPECT_FALSE(request.fields.count("x"));

    auto cached = manager_->tokenWithAuthorizedEntity(
        "sender", "*", {{"apns_token", "p_0aff"}, {"apns_sandbox", false}});
    EXPECT_TRUE(cached.isValid());
    EXPECT_EQ(cached.token(), *outcome->token);

    // The auth token that came with it is the entity's credential from now on, and a newer one
    // replaces it at once.
    registration_->expectAuthorization("auth-1");
    registration_->answer(RegistrationPeer::token("", "auth-2"));
    EXPECT_FALSE(fetchAndWait("app-scope")->error);
    registration_->expectAuthorization("auth-2");
    registration_->answer(RegistrationPeer::token(""));
    EXPECT_FALSE(fetchAndWait("other-scope")->error);
    EXPECT_EQ(registration_->problems(), std::vector<std::string>{});
}

TEST_F(RegistrationTest, RequestGoesOutWithAnEmptySignatureWhenSigningFails) {
    NEBInstanceIDKeyPair publicOnly(nullptr, keyPair_->publicKey(), keyPair_->publicKeyData(), {});
    std::string content = Client::publicKeyContent(publicOnly);
    EXPECT_EQ(content.substr(content.size() - 5), "&sig=");
    EXPECT_NE(content.find("&appid=" + *NEBInstanceIDKeyPair::appIdentityWithKeyPair(*keyPair_)),
              std::string::npos);
}

TEST_F(RegistrationTest, UnusableRepliesFailWithCodeZeroAndCacheNothing) {
    struct Case {
        const char* name;
        RegistrationPeer::Answer answer;
    } cases[] = {
        {"token for another request", RegistrationPeer::text("token=999999:t\n")},
        {"short command form", RegistrationPeer::text("token=|ID|1|SYNC\n")},
        {"empty body", RegistrationPeer::text("")},
        {"no token, no error", RegistrationPeer::text("foo=bar\n")},
        {"other error", RegistrationPeer::text("Error=INVALID_SENDER\n")},
        {"word inside a piece", RegistrationPeer::text("Error=PHONE_REGISTRATION_ERRORS\n")},
        {"server error", RegistrationPeer::text("token=1:x", 500)},
        {"oversized", RegistrationPeer::text(std::string(
                          NEBRequestPolicies().registration.maximumResponseSize + 1, 'x'))},
    };
    for (auto& c : cases) {
        registration_->answer(c.answer);
        auto outcome = fetchAndWait("app-scope");
        EXPECT_FALSE(outcome->token) << c.name;
        ASSERT_TRUE(outcome->error) << c.name;
        if (std::string(c.name) != "oversized") EXPECT_EQ(outcome->error->code(), 0) << c.name;
        EXPECT_FALSE(manager_->tokenWithAuthorizedEntity("sender", "app-scope", {}).isValid())
            << c.name;
    }
}

// The request carries the device's credentials: a redirect that would send it in the clear
// ends the exchange instead, and the request fails.
TEST_F(RegistrationTest, ARedirectToPlainHttpIsNotFollowed) {
    peers::HttpsServer plain(peers::HttpsServer::Options{});
    plain.on("", "/iid/register", peers::HttpResponse::text(200, "token=1:stolen\n"));
    peers::HttpsServer redirecting(*ca_);
    redirecting.on("POST", "/iid/register",
                   peers::HttpResponse::redirect(307, plain.baseURL() + "/iid/register"));
    NEBServiceHosts::setRegistrationServerURL(redirecting.baseURL());
    auto outcome = fetchAndWait("app-scope");
    EXPECT_FALSE(outcome->token);
    EXPECT_TRUE(outcome->error);
    EXPECT_EQ(redirecting.requests().size(), 1u);
    EXPECT_TRUE(plain.requests().empty());
    plain.stop();
    redirecting.stop();
}

TEST_F(RegistrationTest, PhoneRegistrationErrorIsRetriedOnADoublingDelayPerClient) {
    registration_->answer(RegistrationPeer::text("Error=PHONE_REGISTRATION_ERROR\n"));
    registration_->answer(RegistrationPeer::text("Error=X:PHONE_REGISTRATION_ERROR\n"));
    registration_->answer(RegistrationPeer::text("Error=PHONE_REGISTRATION_ERROR\n"));
    registration_->answer(RegistrationPeer::token(""));
    auto outcome = fetch("app-scope");
    for (double wait : {1.0, 2.0, 4.0}) {
        ASSERT_TRUE(waitUntil([&] { return waitingToRetry("app-scope"); }));
        size_t before = registration_->count();
        // While it waits, the client counts as busy.
        auto second = fetchAndWait("app-scope");
        EXPECT_EQ(second->error->code(), 5);
        advance(wait - 0.25);
        EXPECT_EQ(registration_->count(), before) << wait;
        advance(0.25);
        ASSERT_TRUE(waitUntil([&] { return registration_->count() == before + 1; })) << wait;
    }
    ASSERT_TRUE(waitUntil([&] { return outcome->done; }));
    EXPECT_TRUE(outcome->token);
    // Another client has retries of its own.
    registration_->answer(RegistrationPeer::text("Error=PHONE_REGISTRATION_ERROR\n"));
    registration_->answer(RegistrationPeer::token(""));
    auto other = fetch("other-scope");
    ASSERT_TRUE(waitUntil([&] { return waitingToRetry("other-scope"); }));
    advance(1);
    ASSERT_TRUE(waitUntil([&] { return other->done; }));
    EXPECT_TRUE(other->token);
}

TEST_F(RegistrationTest, TenthRetryIsTheLast) {
    registration_->answer(RegistrationPeer::text("Error=PHONE_REGISTRATION_ERROR\n"));
    auto outcome = fetch("app-scope");
    double wait = 1;
    for (int retry = 0; retry < 10; ++retry, wait *= 2) {
        ASSERT_TRUE(waitUntil([&] { return waitingToRetry("app-scope"); })) << retry;
        advance(wait);
    }
    ASSERT_TRUE(waitUntil([&] { return outcome->done; }));
    EXPECT_EQ(registration_->count(), 11u);
    EXPECT_EQ(outcome->error->code(), 0);
}

TEST_F(RegistrationTest, StalenessFollowsAppVersionAndDeviceToken) {
    ASSERT_FALSE(fetchAndWait("*", {{"apns_token", "p_01"}, {"apns_sandbox", false}})->error);
    struct Case {
        const char* name;
        const char* appVersion;
        ns::Dictionary options;
        bool allowMissing;
        int64_t status;
    } cases[] = {
        {"same", "1.0", {{"apns_token", "p_01"}, {"apns_sandbox", false}}, false, 1},
        {"device token changed",
         "1.0",
         {{"apns_token", "p_02"}, {"apns_sandbox", false}},
         false,
         2},
        {"device token gone", "1.0", {}, false, 2},
        {"other server type", "1.0", {{"apns_token", "p_01"}, {"apns_sandbox", true}}, false, 2},
        {"changes allowed", "1.0", {{"apns_token", "p_02"}, {"apns_sandbox", false}}, true, 1},
        {"app updated", "1.1", {{"apns_token", "p_01"}, {"apns_sandbox", false}}, false, 2},
    };
    for (auto& c : cases) {
        writeInfo({{"CFBundleIdentifier", iidtest::kBundleID},
                   {"CFBundleShortVersionString", c.appVersion}});
        manager_->setAllowMissingAPNSToken(c.allowMissing);
        EXPECT_EQ(manager_->tokenWithAuthorizedEntity("sender", "*", c.options).status(), c.status)
            << c.name;
    }
    // A scope that messaging does not use ignores the device token.
    writeInfo({{"CFBundleIdentifier", iidtest::kBundleID}, {"CFBundleShortVersionString", "1.0"}});
    manager_->setAllowMissingAPNSToken(false);
    ASSERT_FALSE(fetchAndWait("app-scope")->error);
    EXPECT_EQ(manager_->tokenWithAuthorizedEntity("sender", "app-scope", {{"apns_token", "p_09"}})
                  .status(),
              1);

    // Invalidation removes the stale messaging tokens themselves.
    ns::Dictionary changed{{"apns_token", "p_02"}, {"apns_sandbox", false}};
    EXPECT_TRUE(manager_->invalidateCachedTokenWithAuthorizedEntity("sender", "*", changed));
    EXPECT_FALSE(manager_->instanceIDStore()->tokenWithAuthorizedEntity("sender", "*"));
    EXPECT_EQ(manager_->tokenWithAuthorizedEntity("sender", "*", changed).status(), 0);
}

TEST_F(RegistrationTest, FirstRunAnswersStaleUntilAFetchSavesTheVersion) {
    EXPECT_EQ(manager_->tokenWithAuthorizedEntity("sender", "app-scope", {}).status(), 2);
    ASSERT_FALSE(fetchAndWait("app-scope")->error);
    EXPECT_EQ(manager_->tokenWithAuthorizedEntity("sender", "app-scope", {}).status(), 1);
}

TEST_F(RegistrationTest, SecondFetchWhileTheFirstRunsIsRefused) {
    registration_->answer(RegistrationPeer::hang());
    auto first = fetch("app-scope");
    ASSERT_TRUE(waitUntil([&] { return registration_->count() == 1; }));
    auto second = fetchAndWait("app-scope");
    EXPECT_EQ(second->error->code(), 5);
    manager_->registrar()->stopAllRequests();
    ASSERT_TRUE(waitUntil([&] { return first->done; }));
    EXPECT_TRUE(first->error);
}

TEST_F(RegistrationTest, DeletingANeverCachedTokenStillAsksTheService) {
    registration_->answer(RegistrationPeer::text("deleted=1\n"));
    std::optional<std::optional<ns::Error>> result;
    manager_->deleteTokenWithAuthorizedEntity("sender", "app-scope", keyPair_,
                                              [&](auto error) { result = error; });
    ASSERT_TRUE(waitUntil([&] { return result.has_value(); }));
    EXPECT_FALSE(*result);
    auto request = registration_->requests().at(0);
    EXPECT_TRUE(request.isDelete());
    EXPECT_EQ(request.field("X-scope"), "app-scope");
    EXPECT_FALSE(request.fields.count("sender"));
    EXPECT_EQ(registration_->problems(), std::vector<std::string>{});
}

TEST_F(RegistrationTest, ADeleteWithoutCredentialsOrWithoutConfirmationFails) {
    std::optional<std::optional<ns::Error>> refused;
    NEBInstanceIDRegistrationClient::deleteMSGTokenOnAppResetWithDeviceID(
        "", "77", NEBRequestPolicies().registration, [&](auto error) { refused = error; });
    EXPECT_FALSE(refused) << "answered within the call rather than on the main queue";
    ASSERT_TRUE(waitUntil([&] { return refused.has_value(); }));
    ASSERT_TRUE(*refused);
    EXPECT_EQ((*refused)->code(), kNEBInstanceIDErrorCodeInvalidRequest);
    EXPECT_EQ(registration_->count(), 0u);

    registration_->answer(RegistrationPeer::text("Error=NOT_DELETED\n"));
    std::optional<std::optional<ns::Error>> unconfirmed;
    manager_->deleteTokenWithAuthorizedEntity("sender", "app-scope", keyPair_,
                                              [&](auto error) { unconfirmed = error; });
    ASSERT_TRUE(waitUntil([&] { return unconfirmed.has_value(); }));
    ASSERT_TRUE(*unconfirmed);
    EXPECT_EQ((*unconfirmed)->code(), kNEBInstanceIDErrorCodeUnknown);
}

}  // namespace
