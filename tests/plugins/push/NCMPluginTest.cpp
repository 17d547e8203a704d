#include "plugins/push/NCMPlugin.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/dispatch/Queue.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/rt/ClassRegistry.h"
#include "plugins/push/NCMPushClasses.h"
#include "tests/bridge/support/BridgeFixture.h"
#include "tests/peers/LoopPump.h"

namespace {

class NCMPluginTest : public bridgetest::BridgeFixture {
protected:
    void SetUp() override {
        BridgeFixture::SetUp();
        NCMPushClasses::registerClasses(*classes_);
        writeConfig(defaultConfig(
            R"(<feature name="NCMPlugin"><param name="ios-package" value="NCMPlugin"/></feature>)"));
        start();
        NCMPlugin::getLastPush();  // nothing held over from another test
    }
    void call(const std::string& id, const std::string& action, ns::Array arguments = {}) {
        postPageCall(ns::Value(ns::Array{ns::Value(id), ns::Value("NCMPlugin"), ns::Value(action),
                                         ns::Value(std::move(arguments))}));
    }
    bool evaluated(const std::string& script) {
        return peers::runMainLoopUntil([&] {
            for (const auto& s : scripts()) {
                if (s == script) return true;
            }
            return false;
        });
    }
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
    NCMPlugin::holdPush(R"({"n":1})");
    NCMPlugin::holdPush(R"({"n":2})");
    call("r1", "registerNotification");
    EXPECT_TRUE(evaluated(R"(NCMPlugin.onNotificationReceived({"n":2});)"));
    EXPECT_TRUE(evaluated(callback("r1", 1, "null")));
    size_t before = scripts().size();
    call("r2", "registerNotification");
    EXPECT_TRUE(evaluated(callback("r2", 1, "null")));
    EXPECT_EQ(scripts().size(), before + 1);  // only the answer

    call("ready", "ready");
    EXPECT_TRUE(evaluated(callback("ready", 1, "null")));
    ASSERT_TRUE(NCMPlugin::ncmPlugin());
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

}  // namespace
