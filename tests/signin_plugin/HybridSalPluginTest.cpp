#include "signin/HybridSalPlugin.h"

#include <gtest/gtest.h>

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBPluginResult.h"
#include "platform/dispatch/Queue.h"
#include "platform/sec/Keychain.h"
#include "services/peers/IdentityPeer.h"
#include "signin/DSAuthenticationContext.h"
#include "signin/DSInstanceDiscovery.h"
#include "signin/DSKeychainTokenCache.h"
#include "signin/HybridSalUtils.h"
#include "tests/peers/LoopPump.h"
#include "tests/signin/SigninNetTest.h"
#include "tests/signin/SigninTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {

using peers::IdentityPeer;

// Keeps every result by callback id; background work runs on the global queue.
class Delegate : public HYBCommandDelegate {
public:
    std::optional<std::string> pathForResource(std::string_view) override { return std::nullopt; }
    std::shared_ptr<HYBPlugin> getCommandInstance(std::string_view) override { return nullptr; }
    void sendPluginResult(const std::shared_ptr<HYBPluginResult>& result,
                          const std::optional<std::string>& callbackId) override {
        std::lock_guard<std::mutex> guard(mutex_);
        results_.emplace_back(callbackId.value_or(""), result);
    }
    void evalJs(std::string) override {}
    void evalJs(std::string, bool) override {}
    void runInBackground(std::function<void()> block) override {
        dispatch::Queue::global().async(std::move(block));
    }
    ns::Dictionary settings() const override { return {}; }
    UrlTransformer urlTransformer() const override { return nullptr; }
    void setUrlTransformer(UrlTransformer) override {}

    std::vector<std::shared_ptr<HYBPluginResult>> resultsFor(const std::string& id) const {
        std::lock_guard<std::mutex> guard(mutex_);
        std::vector<std::shared_ptr<HYBPluginResult>> out;
        for (const auto& [callback, result] : results_)
            if (callback == id) out.push_back(result);
        return out;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<std::string, std::shared_ptr<HYBPluginResult>>> results_;
};

class HybridSalPluginTest : public signintest::SigninNetTest {
protected:
    void SetUp() override {
        SigninNetTest::SetUp();
        sec::Keychain::setDirectory(keychainDir_.path());
        plugin_->setCommandDelegate(delegate_);
        peer_.serveTokens("tenant.example");
        peer_.answerDiscovery(IdentityPeer::Discovery::Valid);
    }
    void TearDown() override {
        loop().runUntilIdle();
        DSLogger::setLogCallBack(nullptr);
        DSLogger::setLevel(savedLevel_);
        sec::Keychain::setDirectory(sec::Keychain::defaultDirectory());
        SigninNetTest::TearDown();
    }

    // Runs one page action and waits for its first result.
    std::shared_ptr<HYBPluginResult> call(const std::string& action, ns::Array arguments) {
        const std::string id = action + std::to_string(++calls_);
        HYBInvokedUrlCommand command(std::move(arguments), id, "DirectorySignIn", action);
        EXPECT_TRUE(plugin_->performAction(action, command)) << action;
        EXPECT_TRUE(peers::runMainLoopUntil([&] { return !delegate_->resultsFor(id).empty(); }));
        auto results = delegate_->resultsFor(id);
        return results.empty() ? nullptr : results.front();
    }
    static const ns::Value& field(const std::shared_ptr<HYBPluginResult>& r, const char* key) {
        return r->message()[key];
    }

    testsupport::TempDir keychainDir_;
    peers::HttpsServer server_{ca()};
    IdentityPeer peer_{server_};
    DSInstanceDiscovery discovery_{{peer_.authority()}};
    DSInstanceDiscovery::ScopedOverride useLoopback_{discovery_};
    std::string authority_ = server_.baseURL() + "/tenant.example";
    std::shared_ptr<Delegate> delegate_ = std::make_shared<Delegate>();
    std::shared_ptr<HybridSalPlugin> plugin_ = std::make_shared<HybridSalPlugin>();
    int calls_ = 0;
    const DSLogLevel savedLevel_ = DSLogger::getLevel();
};

TEST_F(HybridSalPluginTest, ArgumentsOfTheWrongKindAnswerOneInvalidArgumentResult) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("Code: DS_ERROR_DEVELOPER_INVALID_ARGUMENT ");
    expectedLog.expect("ERROR: InvalidArgumentError: authority");
    const std::pair<const char*, ns::Array> calls[] = {
        {"createAsync", {ns::Value(42), ns::Value(true)}},
        {"createAsync", {ns::Value(), ns::Value(true)}},
        {"createAsync", {ns::Value(authority_), ns::Value("yes")}},
        {"acquireTokenSilentAsync",
         {ns::Value(authority_), ns::Value(true), ns::Value(ns::Array{})}},
        {"acquireTokenAsync",
         {ns::Value(authority_), ns::Value(false), ns::Value("r"), ns::Value("c")}},
        {"setLogLevel", {ns::Value("verbose")}},
        {"tokenCacheDeleteItem",
         {ns::Value(authority_), ns::Value(true), ns::Value(ns::Dictionary{})}},
    };
    for (const auto& [action, arguments] : calls) {
        auto result = call(action, arguments);
        ASSERT_TRUE(result) << action;
        EXPECT_EQ(result->status(), HYBResultStatusError) << action;
        EXPECT_EQ(field(result, "errorCode"), ns::Value("DS_ERROR_DEVELOPER_INVALID_ARGUMENT"))
            << action;
        EXPECT_FALSE(result->message().find("statusCode")) << action;
    }
}

// Argument errors are logged as they are made: what the page passed in them (user
// information in an authority, a secret in a wrongly typed value) stays out of every line.
TEST_F(HybridSalPluginTest, ArgumentErrorsKeepThePagesSecretsOutOfTheLog) {
    signintest::ScopedLogLines log;
    const std::string withUser = "https://alice:s3cret@" + server_.baseURL().substr(8) + "/t";
    auto refused = call("acquireTokenSilentAsync",
                        {ns::Value(withUser), ns::Value(true), ns::Value("r"), ns::Value("c")});
    ASSERT_TRUE(refused);
    EXPECT_EQ(field(refused, "errorCode"), ns::Value("DS_ERROR_DEVELOPER_INVALID_ARGUMENT"));
    auto wrongKind = call("createAsync", {ns::Value(ns::Dictionary{{"password", "s3cret"}})});
    ASSERT_TRUE(wrongKind);
    EXPECT_EQ(field(wrongKind, "errorCode"), ns::Value("DS_ERROR_DEVELOPER_INVALID_ARGUMENT"));
    // The cache keys' canonical form warns of what it refuses, without the user information.
    EXPECT_FALSE(DSInstanceDiscovery::canonicalizeAuthority("http://alice:s3cret@h/t"));
    EXPECT_FALSE(DSInstanceDiscovery::canonicalizeAuthority("https://alice:s3cret@h/t"));
    EXPECT_TRUE(log.anyContains("The argument 'authority' is invalid"));
    EXPECT_FALSE(log.anyContains("s3cret"));
    EXPECT_FALSE(log.anyContains("alice"));
    EXPECT_EQ(dsWithoutUserInfo("https://a@b:c@h:1/t?x=@y"), "https://h:1/t?x=@y");
    EXPECT_EQ(dsWithoutUserInfo("https://h/t@x"), "https://h/t@x");
}

TEST_F(HybridSalPluginTest, FirstContextForAnAuthorityWins) {
    ASSERT_EQ(call("createAsync", {ns::Value(authority_), ns::Value(false)})->status(),
              HYBResultStatusOK);
    ASSERT_EQ(call("createAsync", {ns::Value(authority_), ns::Value(true)})->status(),
              HYBResultStatusOK);
    auto context = HybridSalPlugin::getOrCreateAuthContext(authority_, true);
    EXPECT_FALSE(context->validateAuthority());

    EXPECT_EQ(HybridSalPlugin::credentialsTypeFor("x-dsauth-app://done"), 0);
    for (const char* other : {"https://app/done", "done", "::"})
        EXPECT_EQ(HybridSalPlugin::credentialsTypeFor(std::string(other)), 1) << other;
    EXPECT_EQ(HybridSalPlugin::credentialsTypeFor(std::nullopt), 1);
    EXPECT_EQ(HybridSalUtils::errorCodeName(600), std::nullopt);
    EXPECT_EQ(HybridSalUtils::errorCodeName(-1), "DS_ERROR_UNEXPECTED");
    // The page's table is the library's and the broker codes that only it names, ends included.
    EXPECT_EQ(HybridSalUtils::errorCodeName(505), "DS_ERROR_TOKENBROKER_DECRYPTION_FAILED");
    EXPECT_EQ(HybridSalUtils::errorCodeName(506), "DS_ERROR_TOKENBROKER_NOT_A_BROKER_RESPONSE");
    EXPECT_EQ(HybridSalUtils::errorCodeName(511),
              "DS_ERROR_TOKENBROKER_NOT_SUPPORTED_IN_EXTENSION");
    EXPECT_EQ(HybridSalUtils::errorCodeName(512), std::nullopt);
    EXPECT_EQ(DSAuthenticationError::stringForADErrorCode(506), "506");
}

TEST_F(HybridSalPluginTest, SilentAcquisitionRefreshesThenTheCacheIsReadDeletedAndCleared) {
    auto cache = DSKeychainTokenCache::defaultKeychainCache();
    auto item = signintest::tokenItem("u@x", "https://graph.example", "client-1", "1");
    item->setAuthority(authority_);
    item->setExpiresOn(ns::Date::now().dateByAddingTimeInterval(-10));
    ASSERT_TRUE(cache->addOrUpdateItem(item.get(), std::nullopt, nullptr));
    peer_.grant("rt-1", {"u@x", "at-new", "rt-new", "https://graph.example"});

    auto logger = std::make_shared<HYBInvokedUrlCommand>(ns::Array{}, "logger", "S", "setLogger");
    plugin_->performAction("setLogger", *logger);
    call("setLogLevel", {ns::Value(4)});

    auto result = call("acquireTokenSilentAsync",
                       {ns::Value(authority_), ns::Value(true), ns::Value("https://graph.example"),
                        ns::Value("client-1"), ns::Value("u@x")});
    ASSERT_EQ(result->status(), HYBResultStatusOK) << result->message().description();
    EXPECT_EQ(field(result, "statusCode"), ns::Value(0));
    EXPECT_EQ(field(result, "accessToken"), ns::Value("at-new"));
    EXPECT_EQ(field(result, "userInfo")["userId"], ns::Value("u@x"));

    // Every log line went to the logger's callback, kept, and none carries a token.
    const auto lines = delegate_->resultsFor("logger");
    EXPECT_FALSE(lines.empty());
    for (const auto& line : lines) {
        EXPECT_TRUE(line->keepCallback());
        const std::string text = line->message().description();
        for (const char* secret : {"at-new", "rt-new", "rt-1", "eyJ"})
            EXPECT_EQ(text.find(secret), std::string::npos) << text;
    }
    DSLogger::setLogCallBack(nullptr);

    auto items = call("tokenCacheReadItems", {});
    ASSERT_EQ(items->status(), HYBResultStatusOK);
    EXPECT_EQ(items->message().count(), 3u);  // access, multi-resource and family tokens

    // Only the item of that resource, client and user goes.
    call("tokenCacheDeleteItem",
         {ns::Value(authority_), ns::Value(true), ns::Value(authority_),
          ns::Value("https://graph.example"), ns::Value("client-1"), ns::Value("u@x")});
    EXPECT_EQ(call("tokenCacheReadItems", {})->message().count(), 2u);
    EXPECT_EQ(call("tokenCacheClear", {})->status(), HYBResultStatusOK);
    EXPECT_EQ(call("tokenCacheReadItems", {})->message().count(), 0u);
}

}  // namespace
