#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/sys/DeviceFacts.h"
#include "platform/testing/FakeEngine.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/Device.h"
#include "platform/ui/Screen.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/TextField.h"
#include "platform/ui/Window.h"
#include "plugins/media_browser/HYBInAppBrowserNavigationController.h"
#include "plugins/media_browser/HYBWKInAppBrowserViewController.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManualRunLoop.h"

namespace {

using VC = HYBWKInAppBrowserViewController;

class InAppBrowserScreenTest : public testsupport::ManualRunLoop {
protected:
    std::shared_ptr<VC> make(const std::string& options) {
        return VC::initWithBrowserOptions(HYBInAppBrowserOptions::parseOptions(options), {});
    }
    // Puts the browser on screen and lets the page ask for a dialog; the alert shown for it.
    std::shared_ptr<ui::AlertController> dialog(const std::function<void(wk::FakeEngine&)>& ask) {
        window_ = ui::Window::create();
        window_->setRootViewController(browser_);
        window_->makeKeyAndVisible();
        ask(*wk::FakeEngine::of(*browser_->webView()));
        loop().runUntilIdle();
        return std::dynamic_pointer_cast<ui::AlertController>(browser_->presentedViewController());
    }
    void TearDown() override {
        if (window_) window_->setHidden(true);
        loop().runUntilIdle();
        ManualRunLoop::TearDown();
    }

    std::shared_ptr<VC> browser_;
    std::shared_ptr<ui::Window> window_;
    static inline std::shared_ptr<const wk::FakeEngine::DialogAnswer> answer_;
};

TEST_F(InAppBrowserScreenTest, BarsShareTheHeightAndKeepTheirPlace) {
    const double height = ui::Screen::main().bounds().height();
    auto browser = make("");
    EXPECT_EQ(browser->webView()->frame().height(), height - 65);
    EXPECT_EQ(browser->addressLabel()->frame().y(), height - 65);
    EXPECT_EQ(browser->toolbar()->frame().y(), height - 44);

    // Asking for the state a bar is in moves nothing.
    browser->showLocationBar(true);
    browser->showToolBar(true, "bottom");
    EXPECT_EQ(browser->webView()->frame().height(), height - 65);

    browser->showLocationBar(false);
    EXPECT_EQ(browser->webView()->frame().height(), height - 44);
    browser->showToolBar(false, "bottom");
    EXPECT_EQ(browser->webView()->frame().height(), height);
    browser->showToolBar(true, "top");
    EXPECT_EQ(browser->webView()->frame().y(), 44);
}

// "PreferredContentMode" picks the page's content mode on systems that have one; other values,
// and older systems, keep the recommended mode.
TEST_F(InAppBrowserScreenTest, PreferredContentModeChoosesThePagesMode) {
    ns::ScopedSharedInstance<sys::DeviceFacts> facts;
    using Mode = wk::WebpagePreferences::ContentMode;
    struct Case {
        const char* version;
        const char* value;
        Mode mode;
    };
    for (const Case& c :
         {Case{"17.0", "mobile", Mode::Mobile}, Case{"13.0", "desktop", Mode::Desktop},
          Case{"17.0", "Mobile", Mode::Recommended}, Case{"12.4", "mobile", Mode::Recommended}}) {
        SCOPED_TRACE(std::string(c.version) + " " + c.value);
        ui::Device::current().setSystemVersion(c.version);
        auto browser =
            VC::initWithBrowserOptions(HYBInAppBrowserOptions::parseOptions(""),
                                       ns::Dictionary{{"preferredcontentmode", c.value}});
        EXPECT_EQ(browser->configuration()->defaultWebpagePreferences()->preferredContentMode(),
                  c.mode);
    }
}

// Systems before 10.0 take media playback as all or nothing and know no viewport scale
// limits; those before 13.0 have no dark content style for the status bar.
TEST_F(InAppBrowserScreenTest, OlderSystemsGetTheSettingsTheyKnow) {
    ns::ScopedSharedInstance<sys::DeviceFacts> facts;
    struct Case {
        const char* version;
        const char* options;
        bool requiresAction;
        bool ignoresScaleLimits;
    };
    for (const Case& c :
         {Case{"9.3", "mediaplaybackrequiresuseraction=no,enableviewportscale=yes", false, false},
          Case{"9.3", "mediaplaybackrequiresuseraction=yes", true, false},
          Case{"10.0", "mediaplaybackrequiresuseraction=no,enableviewportscale=yes", false, true},
          Case{"10.0", "mediaplaybackrequiresuseraction=yes", true, false}}) {
        SCOPED_TRACE(std::string(c.version) + " " + c.options);
        ui::Device::current().setSystemVersion(c.version);
        const auto configuration = make(c.options)->configuration();
        EXPECT_EQ(configuration->mediaPlaybackRequiresUserAction(), c.requiresAction);
        // What the engine reads says the same.
        EXPECT_EQ(configuration->mediaTypesRequiringUserActionForPlayback(),
                  c.requiresAction ? wk::kAudiovisualMediaTypeAll : wk::kAudiovisualMediaTypeNone);
        EXPECT_EQ(configuration->ignoresViewportScaleLimits(), c.ignoresScaleLimits);
    }

    using Style = ui::StatusBar::Style;
    struct StyleCase {
        const char* version;
        std::optional<std::string> setting;
        Style style;
    };
    for (const StyleCase& c : {StyleCase{"13.0", "darkcontent", Style::DarkContent},
                               StyleCase{"12.4", "darkcontent", Style::Default},
                               StyleCase{"12.4", "lightcontent", Style::LightContent},
                               StyleCase{"17.0", "DarkContent", Style::Default},
                               StyleCase{"17.0", {}, Style::Default}}) {
        SCOPED_TRACE(std::string(c.version) + " " + c.setting.value_or("none"));
        ui::Device::current().setSystemVersion(c.version);
        ns::Dictionary settings;
        if (c.setting) settings["inappbrowserstatusbarstyle"] = *c.setting;
        auto browser =
            VC::initWithBrowserOptions(HYBInAppBrowserOptions::parseOptions(""), settings);
        EXPECT_EQ(browser->preferredStatusBarStyle(), c.style);
    }
}

TEST_F(InAppBrowserScreenTest, ToolbarItemsFollowTheOptions) {
    auto browser = make("lefttoright=yes");
    const auto& items = browser->toolbar()->items();
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[0], browser->backButton());
    EXPECT_EQ(items[4], browser->closeButton());

    browser->setCloseButtonTitle("Fertig", std::nullopt, 4);
    ASSERT_EQ(browser->toolbar()->items().size(), 5u);
    EXPECT_EQ(browser->toolbar()->items()[4]->title(), "Fertig");
    EXPECT_EQ(browser->toolbar()->items()[4]->style(), ui::BarButtonItem::Style::Bordered);
    const ui::Color tint = *browser->closeButton()->tintColor();
    EXPECT_DOUBLE_EQ(tint.red(), 60 / 255.0);
    EXPECT_DOUBLE_EQ(tint.blue(), 230 / 255.0);

    EXPECT_EQ(make("hidenavigationbuttons=yes")->toolbar()->items().size(), 2u);
}

TEST_F(InAppBrowserScreenTest, PageDialogsAnswerThePage) {
    browser_ = make("");
    auto confirm = dialog([](wk::FakeEngine& page) { answer_ = page.confirm("Sure?"); });
    ASSERT_TRUE(confirm);
    EXPECT_EQ(confirm->message(), "Sure?");
    confirm->press("Cancel");
    loop().runUntilIdle();
    EXPECT_TRUE(answer_->answered);
    EXPECT_FALSE(answer_->confirmed);
    window_->setHidden(true);

    browser_ = make("");
    auto prompt = dialog([](wk::FakeEngine& page) { answer_ = page.prompt("Name?", "Ada"); });
    ASSERT_TRUE(prompt);
    ASSERT_EQ(prompt->textFields().size(), 1u);
    EXPECT_EQ(prompt->textFields()[0]->text(), "Ada");
    prompt->press("OK");
    loop().runUntilIdle();
    EXPECT_EQ(answer_->text, "Ada");
}

// Before it appears and as its window changes size, the web view is placed under the status
// bar (and under a toolbar at the top); appearing again with the same status bar keeps its
// height.
TEST_F(InAppBrowserScreenTest, TheWebViewFollowsTheStatusBarAsItAppearsAndResizes) {
    ns::ScopedSharedInstance<ui::StatusBar> statusBar;
    ui::StatusBar::shared().setHidden(false);
    ui::StatusBar::shared().setHeight(20);
    browser_ = make("toolbarposition=top");
    window_ = ui::Window::create();
    window_->setRootViewController(ui::ViewController::create());
    window_->makeKeyAndVisible();
    // Presented as the plug-in presents it.
    auto navigation = HYBInAppBrowserNavigationController::create(browser_);
    navigation->setNavigationBarHidden(true);
    window_->rootViewController()->presentViewController(navigation, false);
    loop().runUntilIdle();
    EXPECT_EQ(browser_->toolbar()->frame().y(), 20);
    EXPECT_EQ(browser_->webView()->frame().y(), 64);
    const double height = browser_->webView()->frame().height();
    browser_->viewWillAppear(false);
    EXPECT_EQ(browser_->webView()->frame().height(), height);

    // A taller status bar and a new window size: the web view moves down and takes the width.
    testsupport::LogCapture log;
    ui::StatusBar::shared().setHeight(40);
    window_->transitionToSize({600, 700});
    loop().runUntilIdle();
    EXPECT_EQ(browser_->toolbar()->frame().y(), 40);
    EXPECT_EQ(browser_->webView()->frame().y(), 84);
    EXPECT_EQ(browser_->webView()->frame().width(), 600);
    EXPECT_TRUE(log.contains("Setting the WebView's frame to {{0, 84}, {600, "));
}

TEST_F(InAppBrowserScreenTest, FramesAreInvertedForALandscapeStatusBar) {
    ns::ScopedSharedInstance<ui::StatusBar> statusBar;
    auto navigation = HYBInAppBrowserNavigationController::create(make(""));
    const ui::Rect frame{5, 6, 320, 480};
    EXPECT_EQ(navigation->invertFrameIfNeeded(frame), ui::Rect(0, 0, 320, 480));
    for (auto orientation :
         {ui::InterfaceOrientation::LandscapeLeft, ui::InterfaceOrientation::LandscapeRight}) {
        ui::StatusBar::shared().setOrientation(orientation);
        EXPECT_EQ(navigation->invertFrameIfNeeded(frame), ui::Rect(0, 0, 480, 320));
    }
    ui::StatusBar::shared().setOrientation(ui::InterfaceOrientation::PortraitUpsideDown);
    EXPECT_EQ(navigation->invertFrameIfNeeded(frame), ui::Rect(0, 0, 320, 480));
}

TEST_F(InAppBrowserScreenTest, NavigationControllerRefusesStrayDismissals) {
    auto browser = make("");
    auto navigation = HYBInAppBrowserNavigationController::create(browser);
    EXPECT_TRUE(navigation->shouldAutorotate());
    EXPECT_EQ(navigation->supportedInterfaceOrientations(), ui::kInterfaceOrientationMaskPortrait);

    auto window = ui::Window::create();
    window->setRootViewController(ui::ViewController::create());
    window->makeKeyAndVisible();
    window->rootViewController()->presentViewController(navigation, false);
    loop().runUntilIdle();
    bool completed = false;
    navigation->dismissViewController(false, [&] { completed = true; });
    loop().runUntilIdle();
    EXPECT_FALSE(completed);
    EXPECT_EQ(window->rootViewController()->presentedViewController(), navigation);
    window->setHidden(true);
}

}  // namespace
