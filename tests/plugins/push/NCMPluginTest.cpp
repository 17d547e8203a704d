#include "plugins/push/NCMPlugin.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/dispatch/Queue.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ns/Object.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "plugins/push/NCMPushClasses.h"
#include "plugins/push/NCMPushPage.h"
#include "sdk/core/NEBServices.h"
#include "sdk/instance_id/NEBInstanceID.h"
#include "sdk/messaging/NEBMessaging.h"
#include "sdk/messaging/NEBMessagingPubSub.h"
#include "tests/bridge/support/BridgeFixture.h"
#include "tests/peers/LoopPump.h"

namespace {

class NCMPluginTest : public bridgetest::BridgeFixture {
protected:
    void SetUp() override {
        BridgeFixture::SetUp();
        // The library is not started unless a test starts it.
        NCMPushClasses::registerClasses(*classes_, page_, messaging_,
                                        [] { return std::optional<std::string>("T0"); });
        writeConfig(defaultConfig(
            R"(<feature name="NCMPlugin"><param name="ios-package" value="NCMPlugin"/></feature>)"));
        start();
    }
    void call(const std::string& id, const std::string& action, ns::Array arguments = {}) {
        postPageCall(ns::Value(ns::Array{ns::Value(id), ns::Value("NCMPlugin"), ns::Value(action),
                                         ns::Value(std::move(arguments))}));
    }
    bool evaluated(const std::string& script) {
        return peers::runMainLoopUntil([&] { return timesEvaluated(script) > 0; });
    }
    size_t timesEvaluated(const std::string& script) {
        auto all = scripts();
        return static_cast<size_t>(std::count(all.begin(), all.end(), script));
    }
    // The page as the plug-in's instance for pushes.
    void ready() {
        call("ready", "ready");
        ASSERT_TRUE(evaluated(callback("ready", 1, "null")));
    }

    std::shared_ptr<NCMPushPage> page_ = std::make_shared<NCMPushPage>();
    std::shared_ptr<NEBMessaging> messaging_ = std::make_shared<NEBMessaging>(
        NEBServices::standard(), [] { return std::optional<NEBMessagingCheckinPreferences>(); });
};

TEST_F(NCMPluginTest, TopicActionsWithoutATopicAnswerOKWithNoMessage) {
    call("c1", "subscribeToTopic");
    EXPECT_TRUE(evaluated(callback("c1", 1, "null")));
    call("c2", "unsubscribeFromTopic", {ns::Value(7)});
    EXPECT_TRUE(evaluated(callback("c2", 1, "null")));
}

// A notification opened before the page is ready reaches the page that asks for it, and only
// once; the most recently opened one wins.
TEST_F(NCMPluginTest, HeldPushGoesToTheAskingPageOnce) {
    page_->holdPush(R"({"n":1})");
    page_->holdPush(R"({"n":2})");
    call("r1", "registerNotification");
    EXPECT_TRUE(evaluated(NCMPlugin::messageScript(R"({"n":2})")));
    EXPECT_TRUE(evaluated(callback("r1", 1, "null")));
    size_t before = scripts().size();
    call("r2", "registerNotification");
    EXPECT_TRUE(evaluated(callback("r2", 1, "null")));
    EXPECT_EQ(scripts().size(), before + 1);  // only the answer

    EXPECT_FALSE(page_->isPageReady());
    call("ready", "ready");
    EXPECT_TRUE(evaluated(callback("ready", 1, "null")));
    EXPECT_TRUE(page_->isPageReady());
}

// The page's token comes from instance identity's default token.
TEST_F(NCMPluginTest, GetTokenAnswersTheDefaultToken) {
    call("t1", "getToken");
    EXPECT_TRUE(evaluated(callback("t1", 1, R"("T0")")));
}

// The page's topic actions reach the messaging library's topics the way they say, and each
// answers with its topic.
TEST_F(NCMPluginTest, TopicActionsReachTheLibraryAndAnswerWithTheirTopic) {
    messaging_->start();
    ns::NotificationCenter::defaultCenter().post(kNEBInstanceIDTokenNotification,
                                                 std::make_shared<ns::Box<std::string>>("T1"));
    call("s1", "subscribeToTopic", {ns::Value("news")});
    ASSERT_TRUE(evaluated(callback("s1", 1, R"("news")")));
    call("s2", "subscribeToTopic", {ns::Value("sport")});
    ASSERT_TRUE(evaluated(callback("s2", 1, R"("sport")")));
    call("u1", "unsubscribeFromTopic", {ns::Value("news")});
    ASSERT_TRUE(evaluated(callback("u1", 1, R"("news")")));
    loop().runUntilIdle();
    ns::Dictionary wanted = messaging_->pubsub()->cache()->allTopics();
    EXPECT_TRUE(wanted.contains("/topics/sport"));
    EXPECT_FALSE(wanted.contains("/topics/news"));
    EXPECT_EQ(wanted.size(), 1u);
}

// A notification opened while the application was in the background reaches the page when it
// comes back to the foreground, once.
TEST_F(NCMPluginTest, HeldPushIsDeliveredOnceOnReturnToTheForeground) {
    ready();
    page_->holdPush(R"({"n":3})");
    page_->appEnterBackground();
    EXPECT_EQ(timesEvaluated(NCMPlugin::messageScript(R"({"n":3})")), 0u);
    page_->appEnterForeground();
    page_->appEnterForeground();
    loop().runUntilIdle();
    EXPECT_EQ(timesEvaluated(NCMPlugin::messageScript(R"({"n":3})")), 1u);
}

// A message that must reach the page waits for it, and counts as delivered only once the
// page's callback has run with it.
TEST_F(NCMPluginTest, MessagesWaitForAListeningPageAndAreConfirmedOnce) {
    std::vector<std::string> confirmed;
    auto deliver = [&](const std::string& json) {
        page_->deliverMessage(json, json,
                              [&confirmed](const std::string& id) { confirmed.push_back(id); });
    };
    // The page answers false while it has no callback, then runs it; the first evaluation of
    // the third fails on the way (the page's process went).
    bool listening = false;
    bool failedOnce = false;
    engine().fake().setScriptResponder(
        [&](const std::string& script) -> std::optional<ns::Result<ns::Value>> {
            if (script.find("JSON.parse") == std::string::npos) return ns::Value();
            if (!listening) return ns::Value(false);
            if (script.find("fails") != std::string::npos && !std::exchange(failedOnce, true)) {
                return ns::Error("WKErrorDomain", 4, {{ns::kLocalizedDescriptionKey, "gone"}});
            }
            return ns::Value(true);
        });
    deliver(R"({"n":1})");
    deliver(R"({"n":2})");
    loop().runUntilIdle();
    EXPECT_EQ(page_->waitingMessageCount(), 2u);
    EXPECT_EQ(timesEvaluated(NCMPlugin::messageScript(R"({"n":1})")), 0u);

    ready();  // before the page set its callback up
    loop().runUntilIdle();
    EXPECT_EQ(timesEvaluated(NCMPlugin::messageScript(R"({"n":1})")), 1u);
    EXPECT_TRUE(confirmed.empty());
    EXPECT_EQ(page_->waitingMessageCount(), 2u);

    listening = true;
    call("r", "registerNotification");
    ASSERT_TRUE(evaluated(callback("r", 1, "null")));
    deliver(R"({"n":"fails"})");
    loop().runUntilIdle();
    EXPECT_EQ(confirmed, (std::vector<std::string>{R"({"n":1})", R"({"n":2})"}));
    EXPECT_EQ(page_->waitingMessageCount(), 1u);
    EXPECT_EQ(timesEvaluated(NCMPlugin::messageScript(R"({"n":2})")), 2u);
    call("r2", "registerNotification");
    ASSERT_TRUE(evaluated(callback("r2", 1, "null")));
    EXPECT_EQ(confirmed,
              (std::vector<std::string>{R"({"n":1})", R"({"n":2})", R"({"n":"fails"})"}));
    EXPECT_EQ(page_->waitingMessageCount(), 0u);
}

// A message never overtakes those that wait for the page: one that arrives while others wait
// (they found the page not listening) waits behind them, even once the page listens.
TEST_F(NCMPluginTest, AMessageArrivingWhileOthersWaitGoesAfterThem) {
    std::vector<std::string> confirmed;
    auto deliver = [&](const std::string& json) {
        page_->deliverMessage(json, json,
                              [&confirmed](const std::string& id) { confirmed.push_back(id); });
    };
    bool listening = false;
    engine().fake().setScriptResponder(
        [&](const std::string& script) -> std::optional<ns::Result<ns::Value>> {
            if (script.find("JSON.parse") == std::string::npos) return ns::Value();
            return ns::Value(listening);
        });
    ready();
    deliver(R"({"n":1})");
    deliver(R"({"n":2})");
    loop().runUntilIdle();
    ASSERT_EQ(page_->waitingMessageCount(), 2u);

    listening = true;
    deliver(R"({"n":3})");
    loop().runUntilIdle();
    EXPECT_TRUE(confirmed.empty());
    EXPECT_EQ(timesEvaluated(NCMPlugin::messageScript(R"({"n":3})")), 0u);
    call("r", "registerNotification");
    ASSERT_TRUE(evaluated(callback("r", 1, "null")));
    loop().runUntilIdle();
    EXPECT_EQ(confirmed, (std::vector<std::string>{R"({"n":1})", R"({"n":2})", R"({"n":3})"}));
}

// The instance that ran `ready` may have no engine (its page's view went): a message handed to
// it goes back to wait for the next ready page, neither lost nor counted as delivered.
TEST_F(NCMPluginTest, AMessageForAPlugInWithoutAnEngineWaitsForTheNextReadyPage) {
    std::vector<std::string> confirmed;
    auto detached = std::make_shared<NCMPlugin>(page_, messaging_, nullptr);
    page_->setReadyPlugin(detached);
    page_->deliverMessage(R"({"n":1})", "m1",
                          [&confirmed](const std::string& id) { confirmed.push_back(id); });
    loop().runUntilIdle();
    EXPECT_TRUE(confirmed.empty());
    EXPECT_EQ(page_->waitingMessageCount(), 1u);

    engine().fake().setScriptResponder(
        [](const std::string&) -> std::optional<ns::Result<ns::Value>> { return ns::Value(true); });
    ready();
    loop().runUntilIdle();
    EXPECT_EQ(confirmed, std::vector<std::string>{"m1"});
    EXPECT_EQ(timesEvaluated(NCMPlugin::messageScript(R"({"n":1})")), 1u);
    EXPECT_EQ(page_->waitingMessageCount(), 0u);
}

TEST(NCMPluginScripts, TokenIsAlwaysOneStringLiteral) {
    EXPECT_EQ(NCMPlugin::tokenRefreshScript("abc"), R"(NCMPlugin.onTokenRefreshReceived("abc");)");
    EXPECT_EQ(NCMPlugin::tokenRefreshScript(std::nullopt),
              "NCMPlugin.onTokenRefreshReceived(null);");
    std::string hostile = "x');alert(1);//\\\n\xE2\x80\xA8\xE2\x80\xA9\"";
    std::string script = NCMPlugin::tokenRefreshScript(hostile);
    std::string literal = script.substr(std::string("NCMPlugin.onTokenRefreshReceived(").size());
    literal = literal.substr(0, literal.size() - 2);
    auto read = ns::JSONSerialization::read(literal, {.fragmentsAllowed = true});
    ASSERT_TRUE(read.ok()) << script;
    EXPECT_EQ(read.value().stringValue(), hostile);
    EXPECT_EQ(script.find("\xE2\x80\xA8"), std::string::npos);
    EXPECT_EQ(script.find('\n'), std::string::npos);
}

TEST(NCMPluginScripts, MessageJSONKeepsWhatJSONCanHoldAndNeverFails) {
    ns::Dictionary message{
        {"text", ns::Value("a\xE2\x80\xA8"
                           "b</script>")},
        {"bytes", ns::Value(ns::Data::fromString("\x01\xFF"))},
        {"when", ns::Value(ns::Date::fromTimeIntervalSince1970(5))},
        {"nan", ns::Value(std::nan(""))},
        {"nested", ns::Value::array({ns::Value(ns::Data::fromString("z")), ns::Value(1)})}};
    std::string json = NCMPlugin::messageJSON(message);
    EXPECT_EQ(json.find("\xE2\x80\xA8"), std::string::npos);
    auto read = ns::JSONSerialization::read(json);
    ASSERT_TRUE(read.ok()) << json;
    const ns::Value& value = read.value();
    EXPECT_EQ(value.find("text")->stringValue(),
              "a\xE2\x80\xA8"
              "b</script>");
    EXPECT_EQ(value.find("bytes")->stringValue(), "Af8=");
    EXPECT_EQ(value.find("when"), nullptr);
    EXPECT_EQ(value.find("nan"), nullptr);
    EXPECT_EQ(value.find("nested")->at(0).stringValue(), "eg==");

    // Text only: written as it stands, with the same escapes.
    std::string plain = NCMPlugin::messageJSON({{"t", ns::Value("a\xE2\x80\xA9\"")}});
    EXPECT_EQ(plain, R"({"t":"a\u2029\""})");
}

// The id goes in once, under its key, wherever that key sorts among the message's, and takes
// the place of one the message carries itself.
TEST(NCMPluginScripts, MessageJSONCarriesTheIdOnce) {
    const std::string key = NCMPlugin::kMessageIDKey;
    const struct {
        const char* name;
        ns::Dictionary message;
    } cases[] = {
        {"before the others", {{"z", ns::Value("1")}}},
        {"after the others", {{"a", ns::Value("1")}}},
        {"in place of the message's own",
         {{"a", ns::Value("1")}, {key, ns::Value("old")}, {"z", ns::Value("2")}}},
    };
    for (const auto& c : cases) {
        const std::string json = NCMPlugin::messageJSON(c.message, "m1");
        size_t keys = 0;
        for (size_t at = json.find('"' + key + '"'); at != std::string::npos;
             at = json.find('"' + key + '"', at + 1)) {
            ++keys;
        }
        EXPECT_EQ(keys, 1u) << c.name << ": " << json;
        auto read = ns::JSONSerialization::read(json);
        ASSERT_TRUE(read.ok()) << c.name;
        EXPECT_EQ(read.value().find(key)->stringValue(), "m1") << c.name;
    }
}

}  // namespace
