#include "plugins/device_storage/HYBStatusBar.h"

#include <gtest/gtest.h>

#include <string>

#include "bridge/HYBPlugin.h"
#include "bridge/HYBPluginResult.h"
#include "platform/dispatch/Clock.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/sys/DeviceFacts.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/Device.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/Window.h"
#include "platform/wk/WebView.h"
#include "plugins/device_storage/HYBDeviceStatePlugins.h"
#include "plugins/device_storage/HYBViewController+StatusBar.h"
#include "tests/bridge/support/BridgeFixture.h"

namespace {

using ns::Value;
using Style = ui::StatusBar::Style;

const std::string kStatusBarFeature =
    R"(<feature name="StatusBar"><param name="ios-package" value="HYBStatusBar"/>)"
    R"(<param name="onload" value="true"/></feature>)";

// A host whose root controller is in the key window, with the status bar plug-in started with
// it. The screen is 390 x 844 points.
class StatusBarTest : public bridgetest::BridgeFixture {
protected:
    void SetUp() override {
        BridgeFixture::SetUp();
        HYBDeviceStatePlugins::registerClasses(rt::ClassRegistry::shared());
    }
    void TearDown() override {
        stopHost();
        BridgeFixture::TearDown();
    }

    ns::ScopedSharedInstance<ui::StatusBar> statusBar_;
    ns::ScopedSharedInstance<ui::Screen> screen_;
    ns::ScopedSharedInstance<sys::DeviceFacts> deviceFacts_;
    ns::ScopedSharedInstance<ui::Device> device_;

    // Starts the host with these preferences (config.xml elements).
    void startHost(const std::string& preferences = "") {
        writeConfig(defaultConfig(kStatusBarFeature + preferences));
        controller_ = HYBViewController::create<HYBViewController>();
        window_ = ui::Window::create();
        window_->setRootViewController(controller_);
        window_->makeKeyAndVisible();
        loop().runUntilIdle();
    }
    // Takes the host off the screen and lets it go.
    void stopHost() {
        if (window_) window_->setHidden(true);
        window_.reset();
        controller_.reset();
        loop().runUntilIdle();
    }
    HYBStatusBar& plugin() {
        auto plugin =
            std::dynamic_pointer_cast<HYBStatusBar>(controller_->getCommandInstance("StatusBar"));
        if (!plugin) throw std::runtime_error("no status bar plug-in");
        return *plugin;
    }
    std::shared_ptr<wk::WebView> web() { return controller_->webView(); }
    ui::View& strip() { return *plugin().statusBarBackgroundView(); }
    bool stripShown() { return strip().superview() == web()->superview() && !strip().isHidden(); }
    // The page calls the action; the loop then runs to idle.
    void page(const std::string& action, ns::Array arguments = {},
              const std::string& callbackId = "StatusBar1") {
        postPageCall(Value::array({callbackId, "StatusBar", action, Value(std::move(arguments))}));
    }
    size_t scriptCount() { return scripts().size(); }
    std::string lastScript() { return scripts().empty() ? "" : scripts().back(); }
    static std::string event(const std::string& json) {
        return callback("StatusBar1", HYBResultStatusOK, json, true);
    }

    std::shared_ptr<ui::Window> window_;
};

TEST_F(StatusBarTest, VisibilityEventsGoToTheReadyCallback) {
    startHost();
    // Nothing is sent before the page is ready.
    const size_t before = scriptCount();
    plugin().updateIsVisible(false);
    loop().runUntilIdle();
    EXPECT_EQ(scriptCount(), before);

    page("_ready");
    EXPECT_EQ(lastScript(), event("true"));
    page("hide", {}, "StatusBar2");
    EXPECT_TRUE(ui::StatusBar::shared().isHidden());
    EXPECT_EQ(lastScript(), event("false"));
    page("show", {}, "StatusBar3");
    EXPECT_FALSE(ui::StatusBar::shared().isHidden());
    EXPECT_EQ(lastScript(), event("true"));

    // A reset of the page ends the event channel.
    ns::NotificationCenter::defaultCenter().post(HYBPluginResetNotification, web());
    const size_t afterReset = scriptCount();
    page("hide", {}, "StatusBar4");
    EXPECT_EQ(scriptCount(), afterReset);
}

TEST_F(StatusBarTest, TapsReachThePageAndMoveNothing) {
    startHost();
    auto fake = plugin().fakeScrollView();
    const ui::Point offset = fake->contentOffset();
    EXPECT_EQ(offset.y, 844);
    EXPECT_EQ(fake->contentSize(), (ui::Size{390, 1688}));
    const size_t before = scriptCount();
    EXPECT_FALSE(ui::StatusBar::shared().tap());
    loop().runUntilIdle();
    EXPECT_EQ(scriptCount(), before);

    page("_ready");
    EXPECT_FALSE(ui::StatusBar::shared().tap());
    loop().runUntilIdle();
    EXPECT_EQ(lastScript(), event(R"({"type":"tap"})"));
    EXPECT_EQ(fake->contentOffset(), offset);
}

TEST_F(StatusBarTest, ScrollToTopOfThePageIsASetting) {
    startHost();
    EXPECT_FALSE(web()->scrollView()->scrollsToTop());
    stopHost();
    startHost(R"(<preference name="StatusBarDefaultScrollToTop" value="true"/>)");
    EXPECT_TRUE(web()->scrollView()->scrollsToTop());
}

struct Geometry {
    bool overlays;
    double barHeight;
    double safeTop;
    const char* systemVersion;
    double webY;
};

class StatusBarGeometry : public StatusBarTest, public ::testing::WithParamInterface<Geometry> {};

TEST_P(StatusBarGeometry, WebViewStartsBelowWhatTheBarCovers) {
    const Geometry& g = GetParam();
    ui::Device::current().setSystemVersion(g.systemVersion);
    ui::StatusBar::shared().setHeight(g.barHeight);
    startHost();
    plugin().setStatusBarOverlaysWebView(g.overlays);
    web()->setSafeAreaInsets({g.safeTop, 0, 0, 0});
    plugin().resizeWebView();
    EXPECT_EQ(web()->frame(), ui::Rect(0, g.webY, 390, 844 - g.webY));
    EXPECT_EQ(controller_->view()->frame(), ui::Rect(0, 0, 390, 844));
    if (!g.overlays) {
        EXPECT_TRUE(stripShown());
        EXPECT_EQ(strip().frame(), ui::Rect(0, 0, 390, g.barHeight));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bars, StatusBarGeometry,
    ::testing::Values(Geometry{true, 20, 20, "11.0", 0}, Geometry{true, 40, 40, "17.0", 20},
                      Geometry{true, 20, 0, "17.0", 0}, Geometry{true, 47, 47, "17.0", 0},
                      Geometry{true, 47, 20, "17.0", 27}, Geometry{true, 20, 47, "17.0", 0},
                      Geometry{true, 40, 20, "10.3", 20}, Geometry{true, 10, 0, "10.3", 0},
                      Geometry{false, 20, 20, "17.0", 20}, Geometry{false, 47, 47, "17.0", 47}));

TEST_F(StatusBarTest, OverlaySwitchResizesOnlyOnAChange) {
    ui::StatusBar::shared().setHeight(20);
    startHost();
    EXPECT_TRUE(plugin().statusBarOverlaysWebView());
    const ui::Rect odd(5, 5, 100, 100);
    web()->setFrame(odd);
    page("overlaysWebView", {true});
    EXPECT_EQ(web()->frame(), odd);
    page("overlaysWebView", {Value("not a boolean")});
    EXPECT_EQ(web()->frame(), odd);

    page("overlaysWebView", {0});
    EXPECT_FALSE(plugin().statusBarOverlaysWebView());
    EXPECT_EQ(web()->frame(), ui::Rect(0, 20, 390, 824));
    EXPECT_TRUE(stripShown());
    page("overlaysWebView", {});
    EXPECT_TRUE(plugin().statusBarOverlaysWebView());
    EXPECT_EQ(strip().superview(), nullptr);
}

TEST_F(StatusBarTest, ReadyAppliesTheOverlaySetting) {
    ui::StatusBar::shared().setHeight(20);
    startHost(R"(<preference name="StatusBarOverlaysWebView" value="false"/>)");
    EXPECT_TRUE(plugin().statusBarOverlaysWebView());
    page("_ready");
    EXPECT_FALSE(plugin().statusBarOverlaysWebView());
    EXPECT_EQ(web()->frame(), ui::Rect(0, 20, 390, 824));
}

TEST_F(StatusBarTest, HideAndShowMoveTheWebViewAndTheStrip) {
    ui::StatusBar::shared().setHeight(20);
    startHost();
    page("overlaysWebView", {false});
    page("hide");
    EXPECT_FALSE(plugin().statusBarVisible());
    EXPECT_EQ(sb_hideStatusBar(*controller_), true);
    EXPECT_TRUE(ui::StatusBar::shared().isHidden());
    EXPECT_EQ(strip().superview(), nullptr);
    EXPECT_TRUE(strip().isHidden());
    EXPECT_EQ(web()->frame(), ui::Rect(0, 0, 390, 844));
    page("hide");
    EXPECT_FALSE(plugin().statusBarVisible());

    page("show");
    EXPECT_TRUE(plugin().statusBarVisible());
    EXPECT_FALSE(ui::StatusBar::shared().isHidden());
    EXPECT_TRUE(stripShown());
    EXPECT_EQ(strip().frame().size, (ui::Size{390, 20}));
    EXPECT_EQ(web()->frame(), ui::Rect(0, 20, 390, 824));
}

TEST_F(StatusBarTest, StylesThroughTheRootControllerOrTheBar) {
    startHost(R"(<preference name="StatusBarStyle" value="LightContent"/>)");
    EXPECT_EQ(sb_statusBarStyle(*controller_), Style::LightContent);
    EXPECT_EQ(ui::StatusBar::shared().style(), Style::LightContent);
    page("styleDefault");
    EXPECT_EQ(ui::StatusBar::shared().style(), Style::DarkContent);
    ui::Device::current().setSystemVersion("12.4");
    page("styleDefault");
    EXPECT_EQ(ui::StatusBar::shared().style(), Style::Default);
    page("styleLightContent");
    EXPECT_EQ(ui::StatusBar::shared().style(), Style::LightContent);
    plugin().setStatusBarStyle("blackOpaque");
    EXPECT_EQ(ui::StatusBar::shared().style(), Style::LightContent);
    plugin().setStatusBarStyle("DEFAULT");
    EXPECT_EQ(ui::StatusBar::shared().style(), Style::Default);

    // Without view-controller-based appearance the bar itself is set.
    stopHost();
    writeInfo({{"CFBundleExecutable", "App"}, {"UIViewControllerBasedStatusBarAppearance", false}});
    ui::StatusBar::shared().setViewControllerBasedAppearance(false);
    startHost();
    page("styleLightContent");
    page("hide");
    EXPECT_EQ(ui::StatusBar::shared().style(), Style::LightContent);
    EXPECT_TRUE(ui::StatusBar::shared().isHidden());
    EXPECT_EQ(sb_statusBarStyle(*controller_), std::nullopt);
    EXPECT_EQ(sb_hideStatusBar(*controller_), std::nullopt);
}

TEST_F(StatusBarTest, BackgroundColoursByNameFromTheColourTableOnly) {
    startHost();
    page("backgroundColorByName", {"red"});
    EXPECT_EQ(strip().backgroundColor(), ui::Color::redColor());
    page("backgroundColorByName", {"darkGray"});
    EXPECT_EQ(strip().backgroundColor(), ui::Color::darkGrayColor());
    // Page text never names an operation: anything outside the table changes nothing.
    for (const char* name :
         {"sparkly", "fromHex", "colorWithWhite:alpha:", "named", "", "Red", "redColor"}) {
        page("backgroundColorByName", {name});
        EXPECT_EQ(strip().backgroundColor(), ui::Color::darkGrayColor()) << name;
    }
    page("backgroundColorByName", {42});
    EXPECT_EQ(strip().backgroundColor(), ui::Color::blackColor());
}

TEST_F(StatusBarTest, BackgroundColoursByHex) {
    startHost(R"(<preference name="StatusBarBackgroundColor" value="#00FF00"/>)");
    EXPECT_EQ(strip().backgroundColor(), ui::Color::greenColor());
    page("backgroundColorByHexString", {"#FF8000"});
    const ui::Color orange(1, 128 / 255.0, 0);
    EXPECT_EQ(strip().backgroundColor(), orange);
    for (const char* ignored : {"#FFF", "FF8000FF", ""}) {
        page("backgroundColorByHexString", {ignored});
        EXPECT_EQ(strip().backgroundColor(), orange) << ignored;
    }
    page("backgroundColorByHexString", {Value()});
    EXPECT_EQ(strip().backgroundColor(), ui::Color::blackColor());

    // A named colour is not kept: a new strip takes the last hex colour.
    page("backgroundColorByHexString", {"#0000ff"});
    page("backgroundColorByName", {"red"});
    page("overlaysWebView", {false});
    EXPECT_EQ(strip().backgroundColor(), ui::Color::blueColor());
}

TEST_F(StatusBarTest, ResizesFollowTheViewAndTheBarAfterAMoment) {
    ui::StatusBar::shared().setHeight(20);
    startHost();
    page("overlaysWebView", {false});
    const ui::Rect odd(0, 3, 390, 3);
    web()->setFrame(odd);
    ns::NotificationCenter::defaultCenter().post(HYBViewWillAppearNotification);
    loop().runUntilIdle();
    EXPECT_EQ(web()->frame(), odd);
    loop().advanceBy(dispatch::seconds(0.1));
    EXPECT_EQ(web()->frame(), ui::Rect(0, 20, 390, 824));

    ui::StatusBar::shared().setHeight(40);
    EXPECT_EQ(strip().frame().height(), 20);
    loop().advanceBy(dispatch::seconds(0.1));
    EXPECT_EQ(strip().frame().height(), 40);
    EXPECT_EQ(web()->frame(), ui::Rect(0, 40, 390, 804));

    // A resize that comes due after the plug-in has gone does nothing.
    web()->setFrame(odd);
    ui::StatusBar::shared().setHeight(20);
    auto webView = web();
    std::weak_ptr<HYBPlugin> weakPlugin = controller_->getCommandInstance("StatusBar");
    stopHost();
    ASSERT_TRUE(weakPlugin.expired());
    loop().advanceBy(dispatch::seconds(0.1));
    EXPECT_EQ(webView->frame(), odd);
}

// The answers are the plain controller's own: no subclass is needed for hide and the styles.
TEST_F(StatusBarTest, AnswersBelongToTheControllerItself) {
    auto first = HYBViewController::create<HYBViewController>();
    EXPECT_EQ(sb_hideStatusBar(*first), std::nullopt);
    EXPECT_FALSE(first->prefersStatusBarHidden());
    EXPECT_EQ(first->preferredStatusBarStyle(), Style::Default);
    setSb_hideStatusBar(*first, true);
    setSb_statusBarStyle(*first, Style::LightContent);
    EXPECT_TRUE(first->prefersStatusBarHidden());
    EXPECT_EQ(first->preferredStatusBarStyle(), Style::LightContent);

    auto second = HYBViewController::create<HYBViewController>();
    EXPECT_FALSE(second->prefersStatusBarHidden());
    first.reset();
    auto third = HYBViewController::create<HYBViewController>();
    EXPECT_EQ(sb_hideStatusBar(*third), std::nullopt);
    EXPECT_EQ(sb_statusBarStyle(*third), std::nullopt);
}

}  // namespace
