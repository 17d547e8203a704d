#include "plugins/media_browser/HYBWKInAppBrowser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/HYBPluginResult.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/testing/FakeEngine.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/Application.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/Window.h"
#include "platform/wk/WebKitError.h"
#include "platform/wk/WebsiteDataStore.h"
#include "plugins/media_browser/HYBMediaBrowserClasses.h"
#include "tests/bridge/support/BridgeFixture.h"
#include "tests/support/LogCapture.h"

namespace {

using ns::Value;

const std::string kFeature =
    R"(<feature name="InAppBrowser"><param name="ios-package" value="HYBWKInAppBrowser"/>)"
    R"(<param name="onload" value="true"/></feature>)";
const std::string kPage = "https://site.test/a";

// One result the plug-in sent to the main page.
struct Event {
    std::string id;
    int status = 0;
    Value message;
    bool keep = false;
};

// A host with the browser plug-in; the page of the main web view is the bundle's index.
class InAppBrowserTest : public bridgetest::BridgeFixture {
protected:
    void SetUp() override {
        BridgeFixture::SetUp();
        HYBMediaBrowserClasses::registerClasses(rt::ClassRegistry::shared());
        writeConfig(defaultConfig(kFeature));
        controller_ = HYBViewController::create<HYBViewController>();
        window_ = ui::Window::create();
        window_->setRootViewController(controller_);
        window_->makeKeyAndVisible();
        loop().runUntilIdle();
    }
    void TearDown() override {
        window_->setHidden(true);
        window_.reset();
        controller_.reset();
        loop().runUntilIdle();
        BridgeFixture::TearDown();
    }

    HYBWKInAppBrowser& plugin() {
        return dynamic_cast<HYBWKInAppBrowser&>(*controller_->getCommandInstance("InAppBrowser"));
    }
    void page(const std::string& action, ns::Array arguments,
              const std::string& callbackId = "InAppBrowser1") {
        postPageCall(
            Value::array({callbackId, "InAppBrowser", action, Value(std::move(arguments))}));
    }
    void open(const std::string& options, const std::string& url = kPage) {
        page("open", {url, "_blank", options});
    }
    std::shared_ptr<wk::WebView> browserWeb() {
        auto browser = plugin().inAppBrowserViewController();
        return browser ? browser->webView() : nullptr;
    }
    wk::FakeEngine& browserPage() { return *wk::FakeEngine::of(*browserWeb()); }
    // The address of the browser's page; empty before a page has come.
    std::string browserURL() {
        auto url = browserWeb() ? browserWeb()->URL() : std::nullopt;
        return url ? url->absoluteString() : "";
    }

    // Every result sent to the main page so far, in order (results may come batched).
    std::vector<Event> events() {
        static const std::string prefix = "nativeCallback('";
        std::vector<Event> out;
        for (const auto& script : scripts()) {
            for (size_t at = script.find(prefix); at != std::string::npos;
                 at = script.find(prefix, at)) {
                at += prefix.size();
                const size_t end = script.find(", 0)", at);
                const std::string call = script.substr(at, end - at);  // ID',S,JSON,K
                Event event;
                const size_t idEnd = call.find('\'');
                event.id = call.substr(0, idEnd);
                const size_t statusEnd = call.find(',', idEnd + 2);
                event.status = std::stoi(call.substr(idEnd + 2, statusEnd - idEnd - 2));
                const size_t keepAt = call.rfind(',');
                event.keep = call.substr(keepAt + 1) == "1";
                auto json = ns::JSONSerialization::read(
                    call.substr(statusEnd + 1, keepAt - statusEnd - 1), {.fragmentsAllowed = true});
                if (json) event.message = *json;
                out.push_back(std::move(event));
            }
        }
        return out;
    }
    // The "type" of each event that went to the callback, in order.
    std::vector<std::string> types(const std::string& id = "InAppBrowser1") {
        std::vector<std::string> out;
        for (const auto& event : events()) {
            if (event.id != id) continue;
            const Value* type = event.message.find("type");
            out.push_back(type ? type->stringValue() : "result");
        }
        return out;
    }

    ns::ScopedSharedInstance<ui::StatusBar> statusBar_;
    std::shared_ptr<ui::Window> window_;
};

TEST_F(InAppBrowserTest, OpensShowsAndExitsOnce) {
    // The application sets the style itself, so the browser must put it back.
    ui::StatusBar::shared().setViewControllerBasedAppearance(false);
    ui::StatusBar::shared().setStyle(ui::StatusBar::Style::LightContent);
    open("");
    ASSERT_EQ(types(), (std::vector<std::string>{"result", "loadstart", "loadstop"}));
    EXPECT_EQ(events()[1].message["url"].stringValue(), kPage);
    ASSERT_TRUE(plugin().tmpWindow());
    EXPECT_FALSE(plugin().tmpWindow()->isHidden());
    EXPECT_TRUE(plugin().tmpWindow()->rootViewController()->presentedViewController());
    ui::StatusBar::shared().setStyle(ui::StatusBar::Style::DarkContent);

    // Closing twice, and the reset of the main page on top, end in one exit.
    page("close", {}, "InAppBrowser2");
    page("close", {}, "InAppBrowser3");
    plugin().onReset();
    loop().runUntilIdle();
    const auto all = types();
    EXPECT_EQ(std::count(all.begin(), all.end(), "exit"), 1);
    EXPECT_EQ(all.back(), "exit");
    EXPECT_FALSE(events().back().keep);
    EXPECT_FALSE(plugin().callbackId());
    EXPECT_FALSE(plugin().inAppBrowserViewController());
    EXPECT_FALSE(plugin().tmpWindow());
    EXPECT_EQ(ui::StatusBar::shared().style(), ui::StatusBar::Style::LightContent);

    // The next browser starts afresh: hiding it is no exit.
    open("");
    page("hide", {});
    EXPECT_EQ(types().back(), "loadstop");
    EXPECT_TRUE(plugin().inAppBrowserViewController());
}

TEST_F(InAppBrowserTest, HiddenBrowserLoadsShowsHidesAndStillExits) {
    open("hidden=yes");
    EXPECT_EQ(types(), (std::vector<std::string>{"result", "loadstart", "loadstop"}));
    EXPECT_FALSE(plugin().tmpWindow());
    page("hide", {});  // already hidden: logged, nothing else
    page("show", {});
    ASSERT_TRUE(plugin().tmpWindow());
    page("show", {});  // already shown
    page("hide", {});
    EXPECT_FALSE(plugin().tmpWindow());
    EXPECT_TRUE(plugin().inAppBrowserViewController());
    EXPECT_EQ(types().back(), "loadstop");  // hiding is no exit

    // A browser that is on no screen still tells the page that it has gone.
    page("close", {});
    EXPECT_EQ(types().back(), "exit");
    page("show", {});
    EXPECT_FALSE(plugin().tmpWindow());
}

TEST_F(InAppBrowserTest, BeforeloadGetHoldsEachTopLevelGetUntilApproved) {
    open("beforeload=get");
    EXPECT_EQ(types(), (std::vector<std::string>{"result", "beforeload"}));
    EXPECT_FALSE(browserWeb()->URL());

    page("loadAfterBeforeload", {kPage});
    EXPECT_EQ(types().back(), "loadstop");
    EXPECT_EQ(browserURL(), kPage);

    // The approval was spent: the next GET is held again; a POST passes.
    browserPage().navigate(*ns::URL::parse("https://site.test/b"));
    loop().runUntilIdle();
    EXPECT_EQ(types().back(), "beforeload");
    EXPECT_EQ(browserURL(), kPage);
    browserPage().navigate(*ns::URL::parse("https://site.test/form"),
                           wk::NavigationType::FormSubmitted, wk::FakeEngine::Target::MainFrame,
                           "POST");
    loop().runUntilIdle();
    EXPECT_EQ(browserURL(), "https://site.test/form");

    // An approval covers its own URL only: another navigation cannot ride on it.
    page("loadAfterBeforeload", {"https://site.test/approved"});
    browserPage().navigate(*ns::URL::parse("https://evil.test/"));
    loop().runUntilIdle();
    EXPECT_EQ(browserURL(), "https://site.test/approved");
    EXPECT_EQ(events().back().message["url"].stringValue(), "https://evil.test/");
    EXPECT_EQ(types().back(), "beforeload");
}

// An approval lets one navigation of its URL through, whatever comes first, and only as far
// as its own page: no other request leaves for the server until the page approves it.
TEST_F(InAppBrowserTest, AnApprovalLetsOneNavigationOfItsURLThrough) {
    const auto url = [](const char* text) { return *ns::URL::parse(text); };
    const auto requested = [&] {
        std::vector<std::string> out;
        for (const auto& u : browserPage().requestedDocuments()) out.push_back(u.absoluteString());
        return out;
    };
    const auto lastEvent = [&](const std::string& type) {
        const auto all = events();
        for (auto it = all.rbegin(); it != all.rend(); ++it) {
            if (it->message["type"].stringValue() == type) return it->message;
        }
        return Value();
    };
    open("beforeload=get");
    EXPECT_EQ(types().back(), "beforeload");

    // The page's own navigation, decided while the approval of another URL waits, is held.
    browserPage().navigate(url("https://site.test/other"), wk::NavigationType::Other);
    plugin().loadAfterBeforeload(
        HYBInvokedUrlCommand({kPage}, "InAppBrowser2", "InAppBrowser", "loadAfterBeforeload"));
    loop().runUntilIdle();
    EXPECT_EQ(lastEvent("beforeload")["url"].stringValue(), "https://site.test/other");
    // The approved page shows: its response is not held again.
    EXPECT_EQ(types().back(), "loadstop");
    EXPECT_EQ(browserURL(), kPage);

    // Used once: the same URL again is held.
    browserPage().navigate(url(kPage.c_str()), wk::NavigationType::Other);
    loop().runUntilIdle();
    EXPECT_EQ(types().back(), "beforeload");
    EXPECT_EQ(lastEvent("beforeload")["url"].stringValue(), kPage);

    // An approved page's redirect is a navigation of its own: held, and the load that it ends
    // fails at the redirect's URL.
    browserPage().redirectLoads(url("https://site.test/moved"), url("https://site.test/there"));
    page("loadAfterBeforeload", {"https://site.test/moved"});
    EXPECT_EQ(lastEvent("beforeload")["url"].stringValue(), "https://site.test/there");
    EXPECT_EQ(lastEvent("loaderror")["url"].stringValue(), "https://site.test/there");
    EXPECT_EQ(browserURL(), kPage);
    EXPECT_EQ(requested(), (std::vector<std::string>{kPage, "https://site.test/moved"}));
}

// Pages that are no web page (data:, blob:) never open as the browser's page, from the open
// call or from its own page; its frames may show them.
TEST_F(InAppBrowserTest, DataAndBlobPagesNeverOpenAtTheTop) {
    for (const char* address : {"data:text/html,hello", "blob:https://site.test/1-2"}) {
        SCOPED_TRACE(address);
        page("open", {address, "_blank", "hidden=yes"});
        EXPECT_FALSE(plugin().inAppBrowserViewController());
    }
    open("hidden=yes");
    for (const char* address : {"data:text/html,hello", "blob:https://site.test/1-2"}) {
        SCOPED_TRACE(address);
        browserPage().navigate(*ns::URL::parse(address));
        loop().runUntilIdle();
        EXPECT_EQ(browserURL(), kPage);
    }
    testsupport::LogCapture log;
    browserPage().navigate(*ns::URL::parse("data:text/html,hello"),
                           wk::NavigationType::LinkActivated, wk::FakeEngine::Target::SubFrame);
    loop().runUntilIdle();
    EXPECT_FALSE(log.contains("Refused"));
}

// The page's approval is no way around that rule: a data:, blob: or about: page it approves is
// refused on the spot (a blank page aside), and the browser's page stays.
TEST_F(InAppBrowserTest, AnApprovalNeverTakesAPageThatIsNoWebPageToTheTop) {
    open("beforeload=get");
    page("loadAfterBeforeload", {kPage});
    ASSERT_EQ(browserURL(), kPage);
    for (const std::string address :
         {"data:text/html,hello", "blob:https://site.test/1-2", "about:srcdoc"}) {
        SCOPED_TRACE(address);
        testsupport::LogCapture log;
        const size_t before = events().size();
        page("loadAfterBeforeload", {address});
        EXPECT_TRUE(log.contains("Refused to load " + address + " in the in-app browser"));
        EXPECT_EQ(events().size(), before);
        // Nor does the page's own navigation to it ride on what was asked.
        browserPage().navigate(*ns::URL::parse(address));
        loop().runUntilIdle();
        EXPECT_EQ(browserURL(), kPage);
    }
}

// A URL the gate let through is spent when its page answers: a later answer for it, which no
// decision about the top level passed (as when the engine took its navigation for a frame's),
// is held and offered to the page, and so is one after the answer of another page was held.
TEST_F(InAppBrowserTest, APassedURLIsSpentAtItsResponse) {
    const auto respond = [&](const std::string& address) {
        std::optional<wk::NavigationResponsePolicy> policy;
        plugin().decidePolicyForNavigationResponse(
            browserWeb(), wk::NavigationResponse{wk::URLRequest(*ns::URL::parse(address)), true},
            [&](wk::NavigationResponsePolicy answer) { policy = answer; });
        return policy;
    };
    open("beforeload=get");
    page("loadAfterBeforeload", {kPage});
    ASSERT_EQ(browserURL(), kPage);
    EXPECT_EQ(respond(kPage), wk::NavigationResponsePolicy::Cancel);
    EXPECT_EQ(types().back(), "beforeload");
    EXPECT_EQ(events().back().message["url"].stringValue(), kPage);

    // Passed, and spent by the answer of a page that was held instead.
    const std::string next = "https://site.test/next";
    plugin().loadAfterBeforeload(
        HYBInvokedUrlCommand({next}, "InAppBrowser2", "InAppBrowser", "loadAfterBeforeload"));
    wk::URLRequest request(*ns::URL::parse(next));
    request.setMainDocumentURL(request.url());
    std::optional<wk::NavigationActionPolicy> decided;
    plugin().decidePolicyForNavigationAction(
        browserWeb(),
        wk::NavigationAction{request, wk::NavigationType::LinkActivated,
                             wk::FrameInfo{true, request}, wk::FrameInfo{true, request}},
        [&](wk::NavigationActionPolicy answer) { decided = answer; });
    EXPECT_EQ(decided, wk::NavigationActionPolicy::Allow);
    EXPECT_EQ(respond("https://site.test/elsewhere"), wk::NavigationResponsePolicy::Cancel);
    EXPECT_EQ(respond(next), wk::NavigationResponsePolicy::Cancel);
    loop().runUntilIdle();
    EXPECT_EQ(browserURL(), kPage);
}

TEST_F(InAppBrowserTest, BeforeloadNoGatesLikeYesAndPostReportsErrors) {
    open("beforeload=no");
    EXPECT_EQ(types().back(), "beforeload");
    page("close", {});

    open("beforeload=post", kPage);
    const auto sent = events();
    bool sawPostError = false;
    for (const auto& event : sent) {
        if (event.message["type"].stringValue() == "loaderror" &&
            event.message["code"] == Value("-1")) {
            sawPostError = true;
        }
    }
    EXPECT_TRUE(sawPostError);
    EXPECT_EQ(types().back(), "loadstop");  // the navigation went on
}

TEST_F(InAppBrowserTest, SubframesAndNewWindowsStayInTheBrowser) {
    open("");
    const size_t before = types().size();
    browserPage().navigate(*ns::URL::parse("https://ads.test/frame"),
                           wk::NavigationType::LinkActivated, wk::FakeEngine::Target::SubFrame);
    loop().runUntilIdle();
    EXPECT_EQ(types().size(), before);

    browserPage().navigate(*ns::URL::parse("https://site.test/popup"),
                           wk::NavigationType::LinkActivated, wk::FakeEngine::Target::NewWindow);
    loop().runUntilIdle();
    EXPECT_EQ(browserURL(), "https://site.test/popup");
}

TEST_F(InAppBrowserTest, LoadErrorsReachThePage) {
    const auto dead = *ns::URL::parse("https://dead.test/");
    open("hidden=yes");
    browserPage().failLoads(dead, wk::FakeEngine::FailurePhase::Provisional,
                            ns::Error(wk::kURLErrorDomain, -1004, {}));
    browserPage().navigate(dead);
    loop().runUntilIdle();
    const Event last = events().back();
    EXPECT_EQ(last.message["type"].stringValue(), "loaderror");
    EXPECT_EQ(last.status, HYBResultStatusError);
    EXPECT_EQ(last.message["code"], Value(-1004));
    EXPECT_TRUE(last.keep);
}

TEST_F(InAppBrowserTest, InjectedAnswersReachOnlyTheirPendingCall) {
    open("hidden=yes");
    browserPage().clearEvaluatedScripts();
    const std::string tricky = "1+1//'\");</script>";
    page("injectScriptCode", {tricky}, "InAppBrowser7");
    const auto& evaluated = browserPage().evaluatedScripts();
    ASSERT_EQ(evaluated.size(), 2u);
    // The source is one JSON string literal, the id a literal of its own.
    EXPECT_EQ(evaluated[1], "_hybMessageHandler(\"InAppBrowser7\",JSON.stringify([eval(" +
                                std::string(R"("1+1//'\");</script>")") + ")]));");

    // A forged id, even one shaped like a browser id, is dropped; the real answer arrives once.
    browserPage().postMessage("hybrid_iab", Value::dict({{"id", "Echo1"}, {"d", "[1]"}}));
    browserPage().postMessage("hybrid_iab", Value::dict({{"id", "InAppBrowser9"}, {"d", "[1]"}}));
    browserPage().postMessage("hybrid_iab", Value::dict({{"id", "InAppBrowser7"}, {"d", "[2]"}}));
    browserPage().postMessage("hybrid_iab", Value::dict({{"id", "InAppBrowser7"}, {"d", "[3]"}}));
    loop().runUntilIdle();
    std::vector<Event> answers;
    for (const auto& event : events()) {
        if (event.id != "InAppBrowser1") answers.push_back(event);
    }
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].id, "InAppBrowser7");
    EXPECT_EQ(answers[0].message, Value::array({2}));
    EXPECT_FALSE(answers[0].keep);

    // A "d" that is no JSON array is a JSON error; a file answers with an empty array.
    page("injectStyleFile", {"https://site.test/s.css"}, "InAppBrowser8");
    browserPage().postMessage("hybrid_iab", Value::dict({{"id", "InAppBrowser8"}, {"d", "2"}}));
    page("injectScriptFile", {"https://site.test/s.js"}, "InAppBrowser10");
    browserPage().postMessage("hybrid_iab", Value::dict({{"id", "InAppBrowser10"}}));
    loop().runUntilIdle();
    const auto sent = events();
    EXPECT_EQ(sent[sent.size() - 2].status, HYBResultStatusJSONError);
    EXPECT_EQ(sent.back().message, Value(ns::Array{}));

    // Without a callback the code runs as it is and nothing waits for an answer.
    browserPage().clearEvaluatedScripts();
    page("injectScriptCode", {"document.title"}, "INVALID");
    EXPECT_EQ(browserPage().evaluatedScripts().back(), "document.title");
}

TEST_F(InAppBrowserTest, PageMessagesAreEventsOnTheOpenCallback) {
    open("hidden=yes");
    browserPage().postMessage("hybrid_iab", Value(R"({"a":1})"));
    browserPage().postMessage("hybrid_iab", Value("not json"));
    browserPage().postMessage("hybrid_iab", Value("42"));
    loop().runUntilIdle();
    EXPECT_EQ(types().back(), "message");
    EXPECT_EQ(events().back().message["data"], Value::dict({{"a", 1}}));
    const auto all = types();
    EXPECT_EQ(std::count(all.begin(), all.end(), "message"), 1);
}

TEST_F(InAppBrowserTest, SystemOpensOnlyWebAndMailURLs) {
    ns::ScopedSharedInstance<ui::Application> app;
    page("open", {"https://site.test/x", "_system"});
    page("open", {"file:///etc/passwd", "_system"});
    page("open", {"javascript:alert(1)", "_system"});
    page("open", {"mailto:a@b.test", "_system"});
    const auto opened = ui::Application::shared().openedURLs();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0].absoluteString(), "https://site.test/x");
    EXPECT_EQ(opened[1].absoluteString(), "mailto:a@b.test");
    // An application-store URL goes to the system whatever the target.
    page("open", {"https://apps.store.invalid/app", "_blank"});
    EXPECT_EQ(ui::Application::shared().openedURLs().size(), 3u);
    EXPECT_FALSE(plugin().inAppBrowserViewController());
}

// A relative URL is resolved against the main page; the browser loads web pages and the
// application's own scheme only: a file (here the main page's neighbour) is refused with a log
// line, in any frame, and other schemes go to the system's rules.
TEST_F(InAppBrowserTest, RelativeURLsMissingURLsAndSchemesTheBrowserDoesNotLoad) {
    page("open", {}, "InAppBrowser4");
    EXPECT_EQ(events().back().status, HYBResultStatusError);
    EXPECT_EQ(events().back().message, Value("incorrect number of arguments"));

    testsupport::LogCapture log;
    page("open", {"other.html", "_blank", "hidden=yes"});
    const auto expected = ns::URL::parse("other.html", *engine().URL());
    EXPECT_TRUE(log.contains("Refused to load " + expected->absoluteString()));
    EXPECT_FALSE(plugin().inAppBrowserViewController());
    page("open", {"file:///etc/passwd", "_blank", "hidden=yes"});
    EXPECT_FALSE(plugin().inAppBrowserViewController());
    EXPECT_TRUE(ui::Application::shared().openedURLs().empty());
    page("open", {"mailto:a@b.test", "_blank", "hidden=yes"});
    EXPECT_FALSE(plugin().inAppBrowserViewController());
    ASSERT_EQ(ui::Application::shared().openedURLs().size(), 1u);

    open("hidden=yes", "https://site.test/a");
    loop().runUntilIdle();
    ASSERT_TRUE(browserWeb());
    for (const auto target :
         {wk::FakeEngine::Target::MainFrame, wk::FakeEngine::Target::SubFrame}) {
        log.clear();
        browserPage().navigate(*ns::URL::parse("file:///etc/passwd"),
                               wk::NavigationType::LinkActivated, target);
        loop().runUntilIdle();
        EXPECT_TRUE(log.contains("Refused to load file:///etc/passwd"));
        EXPECT_EQ(browserURL(), "https://site.test/a");
    }
}

// After the data is cleared, the browser's page runs in a web view on a process pool of its
// own, which starts with no page and no history; the page loads there.
TEST_F(InAppBrowserTest, ClearedDataGivesTheBrowserAFreshProcessPool) {
    open("hidden=yes,disallowoverscroll=yes");
    auto first = browserWeb();
    const auto shared = first->configuration()->processPool();
    auto store = wk::WebsiteDataStore::defaultDataStore();
    const size_t removals = store->removals().size();

    testsupport::LogCapture log;
    plugin().open(HYBInvokedUrlCommand({"https://site.test/b", "_blank", "cleardata=yes"},
                                       "InAppBrowser2", "InAppBrowser", "open"));
    EXPECT_EQ(browserWeb(), first);  // until the data is gone
    loop().runUntilIdle();
    ASSERT_EQ(store->removals().size(), removals + 1);
    EXPECT_EQ(store->removals().back().types, unsigned(wk::kWebsiteDataAll));
    EXPECT_EQ(store->removals().back().modifiedSince.timeIntervalSince1970(), 0);
    EXPECT_TRUE(log.contains("Removed all WKWebView data"));

    auto fresh = browserWeb();
    ASSERT_NE(fresh, first);
    EXPECT_FALSE(first->superview());
    EXPECT_EQ(fresh->superview(), plugin().inAppBrowserViewController()->view());
    EXPECT_NE(fresh->configuration()->processPool(), shared);
    EXPECT_EQ(browserURL(), "https://site.test/b");
    EXPECT_FALSE(fresh->canGoBack());
    EXPECT_FALSE(fresh->scrollView()->bounces());
    EXPECT_EQ(types("InAppBrowser2").back(), "loadstop");
}

TEST_F(InAppBrowserTest, CookiesAreClearedBeforeThePageLoads) {
    auto store = wk::WebsiteDataStore::defaultDataStore();
    wk::HTTPCookie session;
    session.name = "s";
    session.value = "1";
    session.domain = "site.test";
    session.path = "/";
    wk::HTTPCookie persistent = session;
    persistent.name = "p";
    persistent.expiresDate = ns::Date::fromTimeIntervalSince1970(4e9);
    store->httpCookieStore().setCookie(session);
    store->httpCookieStore().setCookie(persistent);
    loop().runUntilIdle();

    // Nothing loads until the clearing has completed.
    plugin().open(HYBInvokedUrlCommand({kPage, "_blank", "clearsessioncache=yes,hidden=yes"},
                                       "InAppBrowser1", "InAppBrowser", "open"));
    EXPECT_FALSE(browserWeb()->isLoading());
    loop().runUntilIdle();
    std::vector<std::string> left;
    store->httpCookieStore().getAllCookies([&](std::vector<wk::HTTPCookie> cookies) {
        for (const auto& c : cookies) left.push_back(c.name);
    });
    loop().runUntilIdle();
    EXPECT_EQ(left, std::vector<std::string>{"p"});
    EXPECT_EQ(types().back(), "loadstop");
}

}  // namespace
