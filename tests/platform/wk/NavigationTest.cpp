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

TEST_F(NavigationTest, ScriptedFailuresBeforeAndAfterCommit) {
    auto view = makeWebView();
    auto fake = engine(view);
    ns::Error offline(wk::kURLErrorDomain, -1009, {{ns::kLocalizedDescriptionKey, "offline"}});
    fake->failLoads(url("https://a.test/"), wk::FakeEngine::FailurePhase::Provisional, offline);
    fake->failLoads(url("https://b.test/"), wk::FakeEngine::FailurePhase::AfterCommit, offline);

    view->loadRequest(wk::URLRequest(url("https://a.test/")));
    loop().runUntilIdle();
    view->loadRequest(wk::URLRequest(url("https://b.test/")));
    loop().runUntilIdle();
    EXPECT_THAT(navigation->events,
                ElementsAre("decide https://a.test/", "start -", "failProvisional -1009 -",
                            "decide https://b.test/", "start -", "commit https://b.test/",
                            "fail -1009 https://b.test/"));
    EXPECT_EQ(navigation->errors.at(0), offline);
    EXPECT_FALSE(view->isLoading());
}

TEST_F(NavigationTest, NewerNavigationAndStopCancelTheOneInFlight) {
    auto view = makeWebView();
    view->loadRequest(wk::URLRequest(url("https://one.test/")));
    view->loadRequest(wk::URLRequest(url("https://two.test/")));
    loop().runUntilIdle();
    EXPECT_THAT(navigation->events,
                ElementsAre("decide https://one.test/", "decide https://two.test/", "start -",
                            "commit https://two.test/", "finish https://two.test/"))
        << "a load replaced before it started is dropped silently";

    navigation->events.clear();
    navigation->onStart = [once = true](wk::WebView& w) mutable {
        if (std::exchange(once, false)) {
            w.loadRequest(wk::URLRequest(*ns::URL::parse("https://four.test/")));
        }
    };
    view->loadRequest(wk::URLRequest(url("https://three.test/")));
    loop().runUntilIdle();
    navigation->onStart = nullptr;
    EXPECT_THAT(navigation->events,
                ElementsAre("decide https://three.test/", "start https://two.test/",
                            "decide https://four.test/", "commit https://three.test/",
                            "fail -999 https://three.test/", "start https://three.test/",
                            "commit https://four.test/", "finish https://four.test/"))
        << "a committed load replaced by a newer one fails as cancelled";

    navigation->events.clear();
    navigation->onStart = [](wk::WebView& w) {
        EXPECT_TRUE(w.isLoading());
        w.stopLoading();
        EXPECT_FALSE(w.isLoading());
    };
    view->loadRequest(wk::URLRequest(url("https://five.test/")));
    loop().runUntilIdle();
    EXPECT_THAT(navigation->events,
                ElementsAre("decide https://five.test/", "start https://four.test/",
                            "failProvisional -999 https://four.test/"));
    EXPECT_EQ(view->URL(), url("https://four.test/"));
}

TEST_F(NavigationTest, BackForwardAndReload) {
    auto view = makeWebView();
    for (const char* u : {"https://a.test/", "https://b.test/", "https://c.test/"}) {
        view->loadRequest(wk::URLRequest(url(u)));
        loop().runUntilIdle();
    }
    EXPECT_TRUE(view->canGoBack());
    EXPECT_FALSE(view->canGoForward());
    EXPECT_EQ(view->goForward(), nullptr);

    view->goBack();
    loop().runUntilIdle();
    EXPECT_EQ(view->URL(), url("https://b.test/"));
    EXPECT_EQ(navigation->actions.back().navigationType, wk::NavigationType::BackForward);
    EXPECT_TRUE(view->canGoForward());

    view->reload();
    loop().runUntilIdle();
    EXPECT_EQ(navigation->actions.back().navigationType, wk::NavigationType::Reload);
    EXPECT_EQ(view->URL(), url("https://b.test/"));

    // A new page drops the forward entries.
    view->loadRequest(wk::URLRequest(url("https://d.test/")));
    loop().runUntilIdle();
    EXPECT_FALSE(view->canGoForward());
    EXPECT_EQ(engine(view)->backForwardList(),
              (std::vector<ns::URL>{url("https://a.test/"), url("https://b.test/"),
                                    url("https://d.test/")}));
}

TEST_F(NavigationTest, NothingToReloadBeforeTheFirstPage) {
    auto view = makeWebView();
    EXPECT_EQ(view->reload(), nullptr);
    EXPECT_EQ(view->goBack(), nullptr);
}

TEST_F(NavigationTest, HTMLStringsAndFilesSetURLAndTitle) {
    auto view = makeWebView();
    view->loadHTMLString("<html><head><TITLE> Hello </TITLE></head></html>", std::nullopt);
    loop().runUntilIdle();
    EXPECT_EQ(view->URL(), url("about:blank"));
    EXPECT_EQ(view->title(), "Hello");

    testsupport::TempDir dir;
    std::ofstream(dir / "index.html") << "<title>Start</title>";
    auto page = ns::URL::fileURLWithPath((dir / "index.html").string());
    view->loadFileURL(page, page.URLByDeletingLastPathComponent());
    loop().runUntilIdle();
    EXPECT_EQ(view->URL(), page);
    EXPECT_EQ(view->title(), "Start");

    engine(view)->setTitle(std::nullopt);
    EXPECT_EQ(view->title(), std::nullopt);

    navigation->events.clear();
    view->loadFileURL(ns::URL::fileURLWithPath((dir / "missing.html").string()), page);
    loop().runUntilIdle();
    EXPECT_EQ(navigation->events.back(), "failProvisional -1100 " + page.absoluteString());
}

TEST_F(NavigationTest, UnsupportedSchemesFail) {
    auto view = makeWebView();
    view->loadRequest(wk::URLRequest(url("tel:123")));
    loop().runUntilIdle();
    EXPECT_EQ(navigation->events.back(), "failProvisional -1002 -");
}

TEST_F(NavigationTest, UserScriptsAreInjectedIntoEachDocument) {
    configuration->userContentController()->addUserScript(
        {"start();", wk::UserScript::InjectionTime::AtDocumentStart, true});
    configuration->userContentController()->addUserScript(
        {"end();", wk::UserScript::InjectionTime::AtDocumentEnd, true});
    auto view = makeWebView();
    view->loadRequest(wk::URLRequest(url("https://a.test/")));
    loop().runUntilIdle();
    view->reload();
    loop().runUntilIdle();
    EXPECT_THAT(engine(view)->injectedUserScripts(),
                ElementsAre("start();", "end();", "start();", "end();"));
}

TEST_F(NavigationTest, SubFrameNavigationsAreOnlyDecided) {
    auto view = makeWebView();
    view->loadRequest(wk::URLRequest(url("https://top.test/")));
    loop().runUntilIdle();
    navigation->events.clear();
    engine(view)->navigate(url("https://frame.test/"), wk::NavigationType::Other, Target::SubFrame);
    loop().runUntilIdle();
    EXPECT_THAT(navigation->events, ElementsAre("decide https://frame.test/"));
    const auto& action = navigation->actions.back();
    ASSERT_TRUE(action.targetFrame);
    EXPECT_FALSE(action.targetFrame->isMainFrame);
    EXPECT_EQ(action.request.mainDocumentURL(), url("https://top.test/"));
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

TEST_F(NavigationTest, NewWindowIsDecidedThenCreatedAndLoaded) {
    auto view = makeWebView();
    auto opener = std::make_shared<WindowOpener>();
    auto childNavigation = std::make_shared<wktest::RecordingNavigationDelegate>();
    opener->childNavigation = childNavigation;
    view->setUIDelegate(opener);

    engine(view)->navigate(url("https://popup.test/"), wk::NavigationType::LinkActivated,
                           Target::NewWindow);
    loop().runUntilIdle();
    EXPECT_THAT(navigation->events, ElementsAre("decide https://popup.test/"));
    ASSERT_TRUE(opener->opened);
    opener->opened->setUIDelegate(opener);
    EXPECT_EQ(opener->opened->configuration()->processPool(), configuration->processPool());
    EXPECT_EQ(opener->opened->URL(), url("https://popup.test/"));
    EXPECT_EQ(childNavigation->events.back(), "finish https://popup.test/");
    EXPECT_EQ(view->URL(), std::nullopt);

    engine(opener->opened)->closeWindow();
    loop().runUntilIdle();
    EXPECT_EQ(opener->closed, 1);
}

TEST_F(NavigationTest, ContentProcessTerminationEndsTheLoadAndHeldScripts) {
    auto view = makeWebView();
    auto fake = engine(view);
    view->loadRequest(wk::URLRequest(url("https://a.test/")));
    loop().runUntilIdle();
    fake->setScriptResponder([](const std::string&) { return std::nullopt; });
    std::optional<ns::Error> error;
    view->evaluateJavaScript(
        "1", [&](const ns::Value&, const std::optional<ns::Error>& e) { error = e; });
    navigation->events.clear();
    navigation->onStart = [fake](wk::WebView&) { fake->terminateContentProcess(); };
    view->loadRequest(wk::URLRequest(url("https://b.test/")));
    loop().runUntilIdle();
    EXPECT_THAT(navigation->events,
                ElementsAre("decide https://b.test/", "start https://a.test/", "terminated"));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), wk::kErrorDomain);
    EXPECT_EQ(error->code(), wk::kErrorWebContentProcessTerminated);
    EXPECT_EQ(view->URL(), url("https://a.test/"));
    EXPECT_FALSE(view->isLoading());
}

}  // namespace
