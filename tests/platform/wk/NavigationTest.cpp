#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/wk/WebKitError.h"
#include "tests/platform/wk/WebViewFixture.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

#include <fstream>

namespace {

using ::testing::ElementsAre;
using wktest::url;
using Policy = wk::NavigationActionPolicy;
using Target = wk::FakeEngine::Target;

class NavigationTest : public wktest::WebViewTest {};

TEST_F(NavigationTest, AllowedLoadStartsCommitsAndFinishesOnLaterTurns) {
    auto view = makeWebView();
    auto started = view->loadRequest(wk::URLRequest(url("https://example.com/a")));
    ASSERT_TRUE(started);
    EXPECT_TRUE(navigation->events.empty()) << "nothing is reported from inside the call";
    loop().runUntilIdle();
    EXPECT_THAT(navigation->events,
                ElementsAre("decide https://example.com/a", "start -",
                            "commit https://example.com/a", "finish https://example.com/a"));
    ASSERT_EQ(navigation->actions.size(), 1u);
    const auto& action = navigation->actions[0];
    EXPECT_EQ(action.navigationType, wk::NavigationType::Other);
    ASSERT_TRUE(action.targetFrame);
    EXPECT_TRUE(action.targetFrame->isMainFrame);
    EXPECT_EQ(action.request.mainDocumentURL(), url("https://example.com/a"));
    EXPECT_EQ(view->title(), "");
    EXPECT_FALSE(view->isLoading());
    EXPECT_EQ(view->estimatedProgress(), 1.0);
}

TEST_F(NavigationTest, CancelledNavigationReportsNothingMore) {
    auto view = makeWebView();
    navigation->decide = [](const wk::NavigationAction&) { return Policy::Cancel; };
    engine(view)->navigate(url("https://example.com/"), wk::NavigationType::LinkActivated);
    loop().runUntilIdle();
    EXPECT_THAT(navigation->events, ElementsAre("decide https://example.com/"));
    EXPECT_EQ(view->URL(), std::nullopt);
    EXPECT_EQ(navigation->actions[0].navigationType, wk::NavigationType::LinkActivated);
}

TEST_F(NavigationTest, ADroppedDecisionCancelsAndIsLogged) {
    testsupport::LogCapture log;
    log.expect("decidePolicyForNavigationAction was not called");
    auto view = makeWebView();
    navigation->holdDecisions = true;
    view->loadRequest(wk::URLRequest(url("https://example.com/")));
    loop().runUntilIdle();
    navigation->heldDecisions.clear();
    loop().runUntilIdle();
    EXPECT_TRUE(log.contains("decidePolicyForNavigationAction was not called"));
    EXPECT_THAT(navigation->events, ElementsAre("decide https://example.com/"));
}

TEST_F(NavigationTest, ASecondDecisionIsIgnored) {
    testsupport::LogCapture log;
    log.expect("decidePolicyForNavigationAction was called more than once");
    auto view = makeWebView();
    navigation->holdDecisions = true;
    view->loadRequest(wk::URLRequest(url("https://example.com/")));
    loop().runUntilIdle();
    auto decide = navigation->heldDecisions.at(0);
    decide(Policy::Cancel);
    decide(Policy::Allow);
    loop().runUntilIdle();
    EXPECT_TRUE(log.contains("called more than once"));
    EXPECT_EQ(navigation->events.size(), 1u);
}

class WindowOpener : public wk::UIDelegate {
public:
    std::shared_ptr<wk::WebView> opened;
    bool allow = true;
    int closed = 0;
    std::shared_ptr<wk::NavigationDelegate> childNavigation;
    std::shared_ptr<wk::WebView> createWebView(
        const std::shared_ptr<wk::WebView>& webView,
        const std::shared_ptr<wk::WebViewConfiguration>& configuration,
        const wk::NavigationAction& action, const wk::WindowFeatures&) override {
        EXPECT_FALSE(action.targetFrame);
        if (!allow) return nullptr;
        opened = wk::WebView::create(webView->frame(), configuration);
        opened->setNavigationDelegate(childNavigation);
        return opened;
    }
    void webViewDidClose(const std::shared_ptr<wk::WebView>& webView) override {
        if (webView == opened) ++closed;
    }
};

}  // namespace
