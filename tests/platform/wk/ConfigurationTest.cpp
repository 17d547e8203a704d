#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/wk/EngineRegistry.h"
#include "tests/platform/wk/WebViewFixture.h"

namespace {

using ::testing::ElementsAre;
using wktest::url;

class ConfigurationTest : public wktest::WebViewTest {};

TEST_F(ConfigurationTest, AWebViewCopiesSettingsButSharesItsParts) {
    configuration->setAllowsInlineMediaPlayback(true);
    auto view = makeWebView();
    EXPECT_NE(view->configuration(), configuration);
    EXPECT_TRUE(view->configuration()->allowsInlineMediaPlayback());
    configuration->setAllowsInlineMediaPlayback(false);
    EXPECT_TRUE(view->configuration()->allowsInlineMediaPlayback());

    EXPECT_EQ(view->configuration()->userContentController(),
              configuration->userContentController());
    EXPECT_EQ(view->configuration()->preferences(), configuration->preferences());
    EXPECT_EQ(view->configuration()->processPool(), configuration->processPool());
    EXPECT_EQ(view->configuration()->websiteDataStore(), wk::WebsiteDataStore::defaultDataStore());
    configuration->preferences()->setMinimumFontSize(12);
    EXPECT_EQ(view->configuration()->preferences()->minimumFontSize(), 12);
}

TEST_F(ConfigurationTest, DefaultsAreThePlatformsAndViewsHaveAScrollView) {
    EXPECT_EQ(configuration->mediaTypesRequiringUserActionForPlayback(),
              wk::kAudiovisualMediaTypeAll);
    EXPECT_TRUE(configuration->allowsAirPlayForMediaPlayback());
    EXPECT_FALSE(configuration->suppressesIncrementalRendering());
    EXPECT_EQ(configuration->applicationNameForUserAgent(), "Mobile/15E148");
    EXPECT_EQ(configuration->defaultWebpagePreferences()->preferredContentMode(),
              wk::WebpagePreferences::ContentMode::Recommended);
    EXPECT_TRUE(configuration->preferences()->javaScriptEnabled());
    EXPECT_NE(wk::WebViewConfiguration().processPool(), configuration->processPool());

    auto view = makeWebView();
    ASSERT_EQ(view->subviews().size(), 1u);
    EXPECT_EQ(view->subviews()[0], view->scrollView());
    EXPECT_EQ(view->scrollView()->subviews().size(), 1u) << "the content view";
    view->setFrame({0, 0, 100, 200});
    EXPECT_EQ(view->scrollView()->frame(), ui::Rect(0, 0, 100, 200));
    EXPECT_FALSE(view->allowsBackForwardNavigationGestures());
    EXPECT_TRUE(view->allowsLinkPreview());
}

TEST_F(ConfigurationTest, DataStoreRemovesCookiesAndKeepsTheRequest) {
    auto store = wk::WebsiteDataStore::nonPersistentDataStore();
    EXPECT_FALSE(store->isPersistent());
    auto& cookies = store->httpCookieStore();
    cookies.setCookie({.name = "session", .value = "1", .domain = "example.com"});
    cookies.setCookie({.name = "kept",
                       .value = "2",
                       .domain = "example.com",
                       .expiresDate = ns::Date::distantFuture()});
    cookies.setCookie({.name = "session", .value = "3", .domain = "example.com"});  // replaces
    std::vector<wk::HTTPCookie> seen;
    cookies.getAllCookies([&](std::vector<wk::HTTPCookie> all) { seen = std::move(all); });
    loop().runUntilIdle();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].value, "3");
    EXPECT_TRUE(seen[1].isSessionOnly());
    EXPECT_FALSE(seen[0].isSessionOnly());

    cookies.deleteCookie(seen[1]);
    bool removed = false;
    store->removeDataOfTypes(wk::kWebsiteDataAll, ns::Date::fromTimeIntervalSince1970(0),
                             [&] { removed = true; });
    EXPECT_FALSE(removed);
    loop().runUntilIdle();
    EXPECT_TRUE(removed);
    ASSERT_EQ(store->removals().size(), 1u);
    EXPECT_EQ(store->removals()[0].types, unsigned{wk::kWebsiteDataAll});
    cookies.getAllCookies([&](std::vector<wk::HTTPCookie> all) { seen = std::move(all); });
    loop().runUntilIdle();
    EXPECT_TRUE(seen.empty());
}

TEST_F(ConfigurationTest, RegistryChoosesTheEngineOfNewWebViews) {
    auto& registry = wk::EngineRegistry::shared();
    EXPECT_EQ(registry.defaultEngine(), "fake");
    EXPECT_FALSE(registry.setDefaultEngine("missing"));
    int made = 0;
    registry.registerEngine("counting", [&](const auto& config, auto client) {
        ++made;
        return std::make_shared<wk::FakeEngine>(config, std::move(client));
    });
    ASSERT_TRUE(registry.setDefaultEngine("counting"));
    auto view = makeWebView();
    EXPECT_EQ(made, 1);
    EXPECT_TRUE(engine(view));
    registry.setDefaultEngine("fake");
    registry.registerEngine("counting", [](const auto& config, auto client) {
        return std::make_shared<wk::FakeEngine>(config, std::move(client));
    });
    EXPECT_THAT(registry.engineNames(), ElementsAre("counting", "fake"));
}

}  // namespace
