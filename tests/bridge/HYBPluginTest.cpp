#include "bridge/HYBPlugin+HYBPluginResources.h"
#include "bridge/HYBPlugin.h"
#include "bridge/UIView+org_zovozu_hybrid_UIView_Extension.h"

#include <gtest/gtest.h>

#include "platform/ns/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Image.h"
#include "platform/wk/WebViewConfiguration.h"
#include "tests/bridge/support/BridgeFixture.h"

namespace bridgetest {
namespace {

class HYBPluginTest : public BridgeFixture {
protected:
    std::shared_ptr<EchoPlugin> echo() {
        return std::dynamic_pointer_cast<EchoPlugin>(controller().getCommandInstance("Echo"));
    }
};

TEST_F(HYBPluginTest, OnlyRegisteredActionsAreReachable) {
    EchoPlugin plugin;
    EXPECT_TRUE(plugin.respondsToAction("echo"));
    EXPECT_FALSE(plugin.respondsToAction("echo:"));
    for (const char* notAnAction : {"dispose", "pluginInitialize", "setCommandDelegate",
                                    "setViewController", "onReset", "handleOpenURL", ""}) {
        EXPECT_FALSE(plugin.respondsToAction(notAnAction)) << notAnAction;
        EXPECT_FALSE(plugin.performAction(notAnAction, HYBInvokedUrlCommand({}, "i", "E", "x")));
    }
    EXPECT_EQ(plugin.actionNames(),
              (std::vector<std::string>{"background", "echo", "echoArrayBuffer", "fail", "keep",
                                        "nested", "sleep"}));
}

TEST_F(HYBPluginTest, WithoutAnEngineThereIsNoWebView) {
    auto plugin = std::make_shared<EchoPlugin>();
    plugin->initWithWebViewEngine(nullptr);
    EXPECT_EQ(plugin->webView(), nullptr);
    EXPECT_EQ(plugin->className(), "bridgetest::EchoPlugin");
}

TEST_F(HYBPluginTest, RegisteredByTheControllerWithWeakLinks) {
    start();
    auto plugin = echo();
    ASSERT_TRUE(plugin);
    EXPECT_EQ(plugin->className(), "EchoPlugin");
    EXPECT_EQ(plugin->viewController(), controller_);
    EXPECT_EQ(plugin->commandDelegate(), controller().commandDelegate());
    EXPECT_EQ(plugin->webViewEngine(), controller().webViewEngine());
    EXPECT_EQ(plugin->webView(), controller().webView());
    EXPECT_EQ(plugin->initializeCount, 1);
    // The plug-in keeps none of them alive.
    std::weak_ptr<HYBViewController> weakController = controller_;
    std::weak_ptr<HYBCommandDelegate> weakDelegate = controller().commandDelegate();
    controller_.reset();
    EXPECT_TRUE(weakController.expired());
    EXPECT_TRUE(weakDelegate.expired());
    EXPECT_EQ(plugin->viewController(), nullptr);
    EXPECT_EQ(plugin->commandDelegate(), nullptr);
    EXPECT_EQ(plugin->webViewEngine(), nullptr);
}

TEST_F(HYBPluginTest, DisposeKeepsOnlyTheEngine) {
    start();
    auto plugin = echo();
    plugin->dispose();
    EXPECT_EQ(plugin->viewController(), nullptr);
    EXPECT_EQ(plugin->commandDelegate(), nullptr);
    EXPECT_EQ(plugin->webViewEngine(), controller().webViewEngine());
}

TEST_F(HYBPluginTest, ResetsOfOtherWebViewsDoNotReachThePlugin) {
    start();
    auto plugin = echo();
    auto other = wk::WebView::create({}, wk::WebViewConfiguration::create());
    ns::NotificationCenter::defaultCenter().post(HYBPluginResetNotification, other);
    EXPECT_EQ(plugin->resetCount, 0);
    ns::NotificationCenter::defaultCenter().post(HYBPluginResetNotification,
                                                 controller().webView());
    EXPECT_EQ(plugin->resetCount, 1);
    // A navigation of its own web view resets it too.
    engine().loadRequest(wk::URLRequest(*ns::URL::parse("https://example.com/")));
    loop().runUntilIdle();
    EXPECT_EQ(plugin->resetCount, 2);
}

TEST_F(HYBPluginTest, ApplicationNotificationsReachTheHooks) {
    start();
    auto plugin = echo();
    auto& center = ns::NotificationCenter::defaultCenter();
    center.post(ui::kApplicationWillTerminateNotification);
    center.post(ui::kApplicationDidReceiveMemoryWarningNotification);
    EXPECT_EQ(plugin->terminateCount, 1);
    EXPECT_EQ(plugin->memoryWarningCount, 1);
    // Objects of any kind are taken without harm by the default open-URL hooks.
    center.post(HYBPluginHandleOpenURLNotification, std::make_shared<ns::Object>());
    center.post(HYBPluginHandleOpenURLNotification,
                std::make_shared<ns::Box<ns::URL>>(*ns::URL::parse("app://x")));
    center.post(HYBPluginHandleOpenURLWithAppSourceAndAnnotationNotification,
                std::make_shared<ns::Object>());
    center.post(HYBPluginHandleOpenURLWithAppSourceAndAnnotationNotification,
                std::make_shared<ns::Box<ns::Dictionary>>(ns::Dictionary{{"url", 1}}));
}

TEST_F(HYBPluginTest, AGonePluginHearsNothing) {
    auto plugin = std::make_shared<EchoPlugin>();
    plugin->initWithWebViewEngine(nullptr);
    plugin.reset();
    ns::NotificationCenter::defaultCenter().post(ui::kApplicationWillTerminateNotification);
    ns::NotificationCenter::defaultCenter().post(HYBPluginResetNotification);
}

TEST_F(HYBPluginTest, HostQueriesAreAnsweredByNoneByDefault) {
    EchoPlugin plugin;
    EXPECT_FALSE(plugin.answersShouldOverrideLoad());
    EXPECT_FALSE(plugin.answersOverrideSchemeTask());
    EXPECT_FALSE(plugin.answersStopSchemeTask());
    EXPECT_FALSE(plugin.hasPendingOperation());
}

TEST_F(HYBPluginTest, ResourcesFromTheBundleNamedAfterTheClass) {
    EchoPlugin plugin;
    plugin.setClassName("EchoPlugin");
    EXPECT_EQ(pluginLocalizedString(plugin, "Hello"), std::nullopt);
    writeBundleFile("EchoPlugin.bundle/en.lproj/Localizable.strings", "\"Hello\" = \"Hi\";\n");
    EXPECT_EQ(pluginLocalizedString(plugin, "Hello"), "Hi");

    // Named images: "<class>.bundle/<name>", and nothing that leaves that bundle.
    EXPECT_FALSE(pluginImageResource(plugin, "icon"));
    auto context = ui::GraphicsContext::beginImageContext({3, 2}, true, 1.0);
    const auto png = ui::Image::imageWithBitmap(context->bitmap())->pngData();
    ASSERT_TRUE(png);
    writeBundleFile("EchoPlugin.bundle/icon.png", std::string(png->chars()));
    writeBundleFile("secret.png", std::string(png->chars()));
    auto icon = pluginImageResource(plugin, "icon");
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->size(), (ui::Size{3, 2}));
    EXPECT_FALSE(pluginImageResource(plugin, "../secret"));
    plugin.setClassName("../EchoPlugin");
    EXPECT_FALSE(pluginImageResource(plugin, "icon"));
}

TEST_F(HYBPluginTest, ScrollViewOfAWebViewOnly) {
    auto web = wk::WebView::create({}, wk::WebViewConfiguration::create());
    EXPECT_EQ(scrollView(*web), web->scrollView());
    EXPECT_TRUE(scrollView(*web));
    EXPECT_EQ(scrollView(*ui::View::create()), nullptr);
}

}  // namespace
}  // namespace bridgetest
