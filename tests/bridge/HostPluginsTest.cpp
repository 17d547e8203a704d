#include <gtest/gtest.h>

#include "bridge/HYBAppDelegate.h"
#include "bridge/HYBGestureHandler.h"
#include "bridge/HYBHandleOpenURL.h"
#include "bridge/HYBLaunchScreen.h"
#include "bridge/HYBLogger.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/LongPressGestureRecognizer.h"
#include "platform/ui/ScrollView.h"
#include "tests/bridge/HostFixture.h"
#include "tests/support/LogCapture.h"

namespace {

using testsupport::LogCapture;

constexpr const char* kPlugins = R"(
    <feature name="Logger"><param name="ios-package" value="HYBLogger"/></feature>
    <feature name="LaunchScreen"><param name="ios-package" value="HYBLaunchScreen"/></feature>
    <feature name="HandleOpenURL"><param name="ios-package" value="HYBHandleOpenURL"/>
        <param name="onload" value="true"/></feature>
    <feature name="GestureHandler"><param name="ios-package" value="HYBGestureHandler"/>
        <param name="onload" value="true"/></feature>)";

class HostPluginsTest : public hosttest::HostFixture {
protected:
    void startWith(const std::string& elements, bool runToIdle = true) {
        writeConfig(kPlugins + elements);
        if (runToIdle) {
            start();
        } else {
            startWithoutRunning();
        }
    }
    void startWithoutRunning() {
        controller_ = HYBViewController::create();
        controller_->view();  // settings, engine, start-up plug-ins; the load is on its way
    }
    void call(const std::string& json) {
        ASSERT_TRUE(page().postMessageJSON("hybrid", json));
        loop().runUntilIdle();
    }
    bool anyCallbackEvaluated() const {
        for (const auto& script : page().evaluatedScripts()) {
            if (script.find("nativeCallback") != std::string::npos) return true;
        }
        return false;
    }
    std::vector<std::string> openURLScripts() const {
        std::vector<std::string> out;
        for (const auto& script : page().evaluatedScripts()) {
            if (script.find("handleOpenURL(") != std::string::npos) out.push_back(script);
        }
        return out;
    }
    static void announce(const std::string& text) {
        ns::NotificationCenter::defaultCenter().post(
            HYBPluginHandleOpenURLNotification,
            std::make_shared<ns::Box<ns::URL>>(*ns::URL::parse(text)));
    }
};

TEST_F(HostPluginsTest, LoggerWritesThePageLinesAndAnswersNothing) {
    startWith("");
    LogCapture log;
    call(R"(["Logger1","Logger","logLevel",["LOG","x"]])");
    call(R"(["Logger2","Logger","logLevel",["WARN","x"]])");
    call(R"(["Logger3","Logger","logLevel",["LOG"]])");
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"x", "WARN: x", "(null)"}));
    EXPECT_FALSE(anyCallbackEvaluated());
}

TEST_F(HostPluginsTest, LaunchScreenShowsAndHidesWithoutACallback) {
    startWith(R"(<preference name="AutoHideSplashScreen" value="false"/>)");
    call(R"(["LaunchScreen1","LaunchScreen","show",[]])");
    EXPECT_EQ(controller_->launchView()->alpha(), 1.0);
    call(R"(["LaunchScreen2","LaunchScreen","hide",[]])");
    EXPECT_EQ(controller_->launchView()->alpha(), 0.0);
    EXPECT_FALSE(anyCallbackEvaluated());
}

struct GestureCase {
    std::string preferences;
    std::optional<double> duration;  // nothing: no recognizer
};

class GestureHandlerTest : public HostPluginsTest,
                           public ::testing::WithParamInterface<GestureCase> {};

TEST_P(GestureHandlerTest, SuppressesLongPressesOnlyWhenAskedTo) {
    LogCapture log;
    startWith(GetParam().preferences);
    auto handler = std::dynamic_pointer_cast<HYBGestureHandler>(
        controller_->getCommandInstance("GestureHandler"));
    ASSERT_TRUE(handler);
    auto content = webView()->scrollView()->subviews().front();
    if (!GetParam().duration) {
        EXPECT_FALSE(handler->lpgr());
        EXPECT_TRUE(content->gestureRecognizers().empty());
        EXPECT_FALSE(log.contains("longpress"));
        return;
    }
    ASSERT_TRUE(handler->lpgr());
    EXPECT_EQ(handler->lpgr()->minimumPressDuration(), *GetParam().duration);
    EXPECT_EQ(handler->lpgr()->allowableMovement(), 200);
    ASSERT_EQ(content->gestureRecognizers().size(), 1u);
    EXPECT_EQ(content->gestureRecognizers()[0], handler->lpgr());
    handler->lpgr()->fire();  // swallowed: nothing happens
}

INSTANTIATE_TEST_SUITE_P(
    Preferences, GestureHandlerTest,
    ::testing::Values(GestureCase{R"(<preference name="SuppressesLongPressGesture" value="true"/>)",
                                  double{0.45f}},
                      GestureCase{R"(<preference name="SuppressesLongPressGesture" value="true"/>
                       <preference name="Suppresses3DTouchGesture" value="true"/>)",
                                  double{0.15f}},
                      GestureCase{
                          R"(<preference name="SuppressesLongPressGesture" value="false"/>)",
                          std::nullopt},
                      GestureCase{"", std::nullopt}));

TEST_F(HostPluginsTest, OpenURLScriptCarriesTheURLAsAStringLiteral) {
    EXPECT_EQ(HYBHandleOpenURL::openURLScript(*ns::URL::parse("myapp://path?q=it's&a=%22")),
              "document.addEventListener('deviceready',function(){if (typeof handleOpenURL === "
              "'function') { handleOpenURL(\"myapp://path?q=it's&a=%22\");}});");
}

TEST_F(HostPluginsTest, URLBeforeTheFirstLoadWaitsAndOnlyTheLatestIsDelivered) {
    startWith("", false);
    announce("myapp://first");
    announce("myapp://second");
    loop().runUntilIdle();
    const auto scripts = openURLScripts();
    ASSERT_EQ(scripts.size(), 1u);
    EXPECT_NE(scripts[0].find("handleOpenURL(\"myapp://second\")"), std::string::npos);
}

TEST_F(HostPluginsTest, URLAfterTheLoadIsDeliveredAtOnce) {
    startWith("");
    ui::Application application;
    HYBAppDelegate().openURL(application, *ns::URL::parse("myapp://later"), {});
    loop().runUntilIdle();
    const auto scripts = openURLScripts();
    ASSERT_EQ(scripts.size(), 1u);
    EXPECT_NE(scripts[0].find("handleOpenURL(\"myapp://later\")"), std::string::npos);
}

}  // namespace
