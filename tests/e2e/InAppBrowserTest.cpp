#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bridge/HYBViewController.h"
#include "platform/gtk/WebKitGtkEngine.h"
#include "platform/net/TLSSettings.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/Sandbox.h"
#include "platform/wk/WebView.h"
#include "plugins/media_browser/HYBWKInAppBrowser.h"
#include "services/peers/HttpsServer.h"
#include "tests/e2e/E2EHost.h"
#include "tests/e2e/LoopbackHTTPServer.h"
#include "tests/support/LogCapture.h"

namespace {

std::string json(const ns::Value& value) {
    return ns::JSONSerialization::write(value, {.fragmentsAllowed = true}).value();
}

// The in-app browser on the real engine, against pages of a loopback server. The main page
// calls the plug-in through its bridge; every event arrives as a report of that call.
class InAppBrowser : public ::testing::Test {
protected:
    void TearDown() override {
        if (plugin()->inAppBrowserViewController()) {
            const size_t from = host.reportCount();
            host.run("e2e.call('teardown', 'InAppBrowser', 'close', [])");
            EXPECT_TRUE(waitForEvent(openId_, "exit", from));
        }
        EXPECT_TRUE(host.loadStartPage());
    }

    std::shared_ptr<HYBWKInAppBrowser> plugin() {
        return std::dynamic_pointer_cast<HYBWKInAppBrowser>(
            host.controller()->getCommandInstance("InAppBrowser"));
    }
    std::shared_ptr<wk::WebView> browserWeb() {
        auto browser = plugin()->inAppBrowserViewController();
        return browser ? browser->webView() : nullptr;
    }

    // Opens the URL in the browser and waits for the first event after the call's own answer.
    ns::Value open(const std::string& url, const std::string& options) {
        const auto answers =
            host.call("InAppBrowser", "open", json(ns::Value::array({url, "_blank", options})), 2);
        if (answers.size() < 2) return {};
        openId_ = answers[0]["call"].stringValue();
        return answers[1]["value"];
    }
    // Calls an action without waiting; its reports come under `id`.
    void call(const std::string& id, const std::string& action, ns::Array arguments = {}) {
        host.run("e2e.call(" + json(id) + ", 'InAppBrowser', " + json(action) + ", " +
                 json(ns::Value(std::move(arguments))) + ")");
    }
    // The first report of the call `id` after `from` (whose value has this "type", if given).
    std::optional<ns::Value> waitFor(const std::string& id, size_t from,
                                     const std::string& type = "") {
        auto report = host.waitForReport(from, [&](const E2EHost::Report& r) {
            return r.body["call"] == ns::Value(id) &&
                   (type.empty() || r.body["value"]["type"] == ns::Value(type));
        });
        if (!report) return std::nullopt;
        return report->body["value"];
    }
    bool waitForEvent(const std::string& id, const std::string& type, size_t from) {
        return waitFor(id, from, type).has_value();
    }
    // Runs a script in the browser's page.
    void inBrowser(const std::string& script) { browserWeb()->evaluateJavaScript(script); }

    E2EHost& host = E2EHost::shared();
    LoopbackHTTPServer server;
    std::string openId_;
};

TEST_F(InAppBrowser, OpensLoadsHidesShowsAndExits) {
    const std::string url = server.url("/first");
    const size_t from = host.reportCount();
    const ns::Value start = open(url, "location=yes");
    EXPECT_EQ(start["type"], ns::Value("loadstart"));
    EXPECT_EQ(start["url"], ns::Value(url));
    const auto stop = waitFor(openId_, from, "loadstop");
    ASSERT_TRUE(stop);
    EXPECT_EQ((*stop)["url"], ns::Value(url));
    // The title follows the load on its own.
    EXPECT_TRUE(host.runUntil([&] { return browserWeb()->title() == "/first"; }));
    // The browser is a second view of the same engine, apart from the main page.
    EXPECT_NE(browserWeb(), host.webView());
    EXPECT_EQ(host.webView()->URL()->absoluteString(), "app://localhost/index.html");

    call("hide1", "hide");
    EXPECT_TRUE(host.runUntil([&] { return !plugin()->tmpWindow(); }));
    call("show1", "show");
    EXPECT_TRUE(host.runUntil([&] { return static_cast<bool>(plugin()->tmpWindow()); }));

    const size_t beforeClose = host.reportCount();
    call("close1", "close");
    ASSERT_TRUE(waitForEvent(openId_, "exit", beforeClose));
    EXPECT_FALSE(plugin()->inAppBrowserViewController());
}

// A page of the application's bundle, named relative to the main page, opens in the browser.
TEST_F(InAppBrowser, BundledPagesOpen) {
    const size_t from = host.reportCount();
    const ns::Value start = open("popup.html", "hidden=yes");
    EXPECT_EQ(start["url"], ns::Value("app://localhost/popup.html"));
    ASSERT_TRUE(waitForEvent(openId_, "loadstop", from));
    EXPECT_EQ(browserWeb()->URL()->absoluteString(), "app://localhost/popup.html");
}

// A load that fails before its page came, at once or after a redirect, fails as a provisional
// navigation, at the address it failed at.
TEST_F(InAppBrowser, DeadPortsReportLoadErrors) {
    LoopbackHTTPServer dead;
    const std::string url = dead.url("/gone");
    dead.stop();
    server.setRedirect("/moved", url);
    for (const std::string& opened : {url, server.url("/moved")}) {
        SCOPED_TRACE(opened);
        testsupport::LogCapture log;
        log.expect("webView:didFailProvisionalNavigation - ");
        const size_t from = host.reportCount();
        open(opened, "hidden=yes");
        const auto error = waitFor(openId_, from, "loaderror");
        ASSERT_TRUE(error);
        EXPECT_EQ((*error)["url"], ns::Value(url));
        EXPECT_TRUE((*error)["code"].isNumber());
        EXPECT_FALSE(log.contains("webView:didFailNavigation"));
    }
}

TEST_F(InAppBrowser, BeforeloadHoldsUntilThePageApproves) {
    const std::string url = server.url("/held");
    const size_t from = host.reportCount();
    const ns::Value first = open(url, "beforeload=yes,hidden=yes");
    EXPECT_EQ(first["type"], ns::Value("beforeload"));
    EXPECT_EQ(first["url"], ns::Value(url));
    EXPECT_TRUE(server.requestedPaths().empty());

    call("approve", "loadAfterBeforeload", {url});
    ASSERT_TRUE(waitForEvent(openId_, "loadstop", from));
    EXPECT_EQ(server.requestedPaths(), std::vector<std::string>{"/held"});
}

TEST_F(InAppBrowser, InjectsAndHearsTheBrowserPage) {
    server.setPage("/tool.js", "document.title = 'scripted';");
    server.setPage("/look.css", "body { color: rgb(1, 2, 3); }");
    const size_t from = host.reportCount();
    open(server.url("/inject"), "hidden=yes");
    ASSERT_TRUE(waitForEvent(openId_, "loadstop", from));

    size_t at = host.reportCount();
    call("code", "injectScriptCode", {"1+1"});
    EXPECT_EQ(waitFor("code", at).value_or(ns::Value()), ns::Value::array({2}));

    at = host.reportCount();
    call("file", "injectScriptFile", {server.url("/tool.js")});
    EXPECT_EQ(waitFor("file", at).value_or(ns::Value()), ns::Value(ns::Array{}));
    EXPECT_TRUE(host.runUntil([&] { return browserWeb()->title() == "scripted"; }));

    at = host.reportCount();
    call("sheet", "injectStyleFile", {server.url("/look.css")});
    EXPECT_EQ(waitFor("sheet", at).value_or(ns::Value()), ns::Value(ns::Array{}));
    call("style", "injectStyleCode", {"p { margin: 7px; }"});

    // A page that answers the open call's own callback is ignored; its plain message arrives.
    at = host.reportCount();
    inBrowser(
        "webkit.messageHandlers.hybrid_iab.postMessage({id: " + json(*plugin()->callbackId()) +
        ", d: '[\"forged\"]'});"
        "webkit.messageHandlers.hybrid_iab.postMessage(JSON.stringify({hello: 'app'}));");
    const auto message = waitFor(openId_, at, "message");
    ASSERT_TRUE(message);
    EXPECT_EQ((*message)["data"], ns::Value::dict({{"hello", "app"}}));
    for (size_t i = at; i < host.reportCount(); ++i) {
        EXPECT_NE(host.reports()[i].body["value"], ns::Value::array({"forged"}));
    }
}

}  // namespace

namespace {

// The options clear the engine's own cookies, and the clearing is done before the page loads.
TEST_F(InAppBrowser, OptionsClearCookiesBeforeThePageLoads) {
    server.setPage("/set",
                   "<script>document.cookie = 's=1';"
                   "document.cookie = 'p=1; max-age=3600';</script>");
    const std::string check =
        "<script>webkit.messageHandlers.hybrid_iab.postMessage("
        "JSON.stringify({cookies: document.cookie}));</script>";
    server.setPage("/check", check);
    server.setPage("/check2", check);

    size_t from = host.reportCount();
    open(server.url("/set"), "hidden=yes");
    ASSERT_TRUE(waitForEvent(openId_, "loadstop", from));
    call("close2", "close");
    ASSERT_TRUE(waitForEvent(openId_, "exit", from));

    from = host.reportCount();
    open(server.url("/check"), "hidden=yes,clearsessioncache=yes");
    auto seen = waitFor(openId_, from, "message");
    ASSERT_TRUE(seen);
    EXPECT_EQ((*seen)["data"]["cookies"], ns::Value("p=1"));
    call("close3", "close");
    ASSERT_TRUE(waitForEvent(openId_, "exit", from));

    from = host.reportCount();
    open(server.url("/check2"), "hidden=yes,clearcache=yes");
    seen = waitFor(openId_, from, "message");
    ASSERT_TRUE(seen);
    EXPECT_EQ((*seen)["data"]["cookies"], ns::Value(""));
}

}  // namespace

namespace {

// The browser shares the main page's web processes; once the options have cleared the data,
// its page runs in processes of its own, and still loads.
TEST_F(InAppBrowser, ClearedDataRunsThePageInFreshWebProcesses) {
    const auto contextOf = [](const std::shared_ptr<wk::WebView>& view) {
        auto engine = std::dynamic_pointer_cast<wk::WebKitGtkEngine>(view->engine());
        return engine ? webkit_web_view_get_context(engine->webView()) : nullptr;
    };
    size_t from = host.reportCount();
    open(server.url("/before"), "hidden=yes");
    ASSERT_TRUE(waitForEvent(openId_, "loadstop", from));
    EXPECT_EQ(contextOf(browserWeb()), contextOf(host.webView()));
    from = host.reportCount();
    open(server.url("/after"), "hidden=yes,cleardata=yes");
    ASSERT_TRUE(waitForEvent(openId_, "loadstop", from));
    EXPECT_TRUE(host.runUntil([&] { return browserWeb()->title() == "/after"; }));
    EXPECT_NE(contextOf(browserWeb()), contextOf(host.webView()));
    EXPECT_FALSE(browserWeb()->canGoBack());
}

// Every top-level load of the browser passes the gate, however it starts: a script's
// navigation, a meta refresh, a redirect of the approved URL. The page that was not approved
// never shows; the gate offers its URL to the page instead.
TEST_F(InAppBrowser, EveryTopLevelLoadPassesTheGate) {
    server.setPage("/scripted",
                   "<html><body><script>setTimeout(function() { location.href = '/target1'; }, "
                   "20);</script></body></html>");
    server.setPage("/refresh",
                   "<html><head><meta http-equiv='refresh' content='0;url=/target2'></head>"
                   "<body></body></html>");
    server.setRedirect("/moved", server.url("/target3"));
    size_t from = host.reportCount();
    const ns::Value first = open(server.url("/scripted"), "beforeload=get,hidden=yes");
    EXPECT_EQ(first["type"], ns::Value("beforeload"));
    struct Case {
        const char* approved;
        const char* held;
    };
    for (const Case& c : {Case{"/scripted", "/target1"}, Case{"/refresh", "/target2"},
                          Case{"/moved", "/target3"}}) {
        SCOPED_TRACE(c.approved);
        from = host.reportCount();
        call("approve", "loadAfterBeforeload", {server.url(c.approved)});
        const auto held = waitFor(openId_, from, "beforeload");
        ASSERT_TRUE(held);
        EXPECT_EQ((*held)["url"], ns::Value(server.url(c.held)));
        // Nothing of the held page shows, and its request never left: the server did not
        // hear of it.
        host.runUntil([] { return false; }, std::chrono::milliseconds(300));
        EXPECT_NE(browserWeb()->title(), std::optional<std::string>(c.held));
        const auto paths = server.requestedPaths();
        EXPECT_EQ(std::count(paths.begin(), paths.end(), c.held), 0) << c.held;
        EXPECT_EQ(std::count(paths.begin(), paths.end(), c.approved), 1) << c.approved;
        for (size_t i = from; i < host.reportCount(); ++i) {
            const auto& value = host.reports()[i].body["value"];
            if (value["type"] == ns::Value("loadstop")) {
                EXPECT_NE(value["url"], ns::Value(server.url(c.held)));
            }
        }
    }
    // Approving the held page shows it.
    from = host.reportCount();
    call("approve", "loadAfterBeforeload", {server.url("/target2")});
    ASSERT_TRUE(waitForEvent(openId_, "loadstop", from));
    EXPECT_TRUE(host.runUntil([&] { return browserWeb()->title() == "/target2"; }));
    const auto paths = server.requestedPaths();
    EXPECT_EQ(std::count(paths.begin(), paths.end(), "/target2"), 1);
}

// A refused redirect is reported under the URL that was refused, not the one approved.
TEST_F(InAppBrowser, RefusedRedirectsNameTheRefusedURL) {
    server.setRedirect("/away", server.url("/elsewhere"));
    size_t from = host.reportCount();
    open(server.url("/start"), "beforeload=yes,hidden=yes");
    call("approve", "loadAfterBeforeload", {server.url("/start")});
    ASSERT_TRUE(waitForEvent(openId_, "loadstop", from));
    from = host.reportCount();
    call("approve", "loadAfterBeforeload", {server.url("/away")});
    const auto held = waitFor(openId_, from, "beforeload");
    ASSERT_TRUE(held);
    EXPECT_EQ((*held)["url"], ns::Value(server.url("/elsewhere")));
    const auto error = waitFor(openId_, from, "loaderror");
    ASSERT_TRUE(error);
    EXPECT_EQ((*error)["url"], ns::Value(server.url("/elsewhere")));
    EXPECT_EQ(server.requestedPaths(), (std::vector<std::string>{"/start", "/away"}));
    EXPECT_EQ(browserWeb()->URL()->absoluteString(), server.url("/start"));
}

// Frames of a gated page load without the page's approval: only the top level is held.
TEST_F(InAppBrowser, FramesOfAGatedPageLoad) {
    server.setPage("/framed", "<iframe src='/inner'></iframe>");
    server.setPage("/inner",
                   "<script>webkit.messageHandlers.hybrid_iab.postMessage("
                   "JSON.stringify({inner: location.pathname}));</script>");
    size_t from = host.reportCount();
    open(server.url("/framed"), "beforeload=get,hidden=yes");
    from = host.reportCount();
    call("approve", "loadAfterBeforeload", {server.url("/framed")});
    const auto message = waitFor(openId_, from, "message");
    ASSERT_TRUE(message);
    EXPECT_EQ((*message)["data"]["inner"], ns::Value("/inner"));
    for (size_t i = from; i < host.reportCount(); ++i) {
        EXPECT_NE(host.reports()[i].body["value"]["type"], ns::Value("beforeload"));
    }
}

// A remote page in the browser reaches none of the application's files through its scheme:
// neither a script nor an image of the container loads, whether or not the file exists.
TEST_F(InAppBrowser, RemotePagesCannotReachTheApplicationsFiles) {
    const std::filesystem::path documents = ns::Sandbox::documentsDirectory();
    std::filesystem::create_directories(documents);
    const std::string post = "webkit.messageHandlers.hybrid_iab.postMessage";
    std::ofstream(documents / "x.js") << post << "(JSON.stringify({r: 'script ran'}));";
    const std::string prefix = "app://localhost/_app_file_";
    const std::string script = prefix + (documents / "x.js").string();
    const std::string missing = prefix + (documents / "missing.png").string();
    const auto report = [&](const std::string& what) {
        return post + "(JSON.stringify({r: \"" + what + "\"}))";
    };
    server.setPage("/remote", "<html><body><script src='" + script + "' onload='" +
                                  report("script loaded") + "' onerror='" +
                                  report("script refused") + "'></script><img src='" + missing +
                                  "' onerror='" + report("image refused") + "' onload='" +
                                  report("image loaded") + "'></body></html>");
    const size_t from = host.reportCount();
    open(server.url("/remote"), "hidden=yes");
    std::vector<std::string> messages;
    ASSERT_TRUE(host.runUntil([&] {
        messages.clear();
        for (size_t i = from; i < host.reportCount(); ++i) {
            const auto& value = host.reports()[i].body["value"];
            if (value["type"] == ns::Value("message")) {
                messages.push_back(value["data"]["r"].stringValue());
            }
        }
        return messages.size() >= 2;
    }));
    std::sort(messages.begin(), messages.end());
    EXPECT_EQ(messages, (std::vector<std::string>{"image refused", "script refused"}));

    // The application's own page in the browser still loads its files. The remote page is
    // closed first: its load ends after the refusals, and a late loadstop of it would come
    // under the next call.
    const size_t closing = host.reportCount();
    call("close-remote", "close");
    ASSERT_TRUE(waitForEvent(openId_, "exit", closing));
    const size_t again = host.reportCount();
    open("popup.html", "hidden=yes");
    ASSERT_TRUE(waitForEvent(openId_, "loadstop", again));
    EXPECT_EQ(browserWeb()->URL()->absoluteString(), "app://localhost/popup.html");
    EXPECT_TRUE(host.runUntil([&] { return browserWeb()->title() == "Popup"; }));
}

// The browser is no file viewer: a file URL neither opens in it nor is reached from its pages.
TEST_F(InAppBrowser, FileURLsNeverOpen) {
    const auto answers =
        host.call("InAppBrowser", "open",
                  json(ns::Value::array({"file:///etc/passwd", "_blank", "hidden=yes"})));
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_FALSE(plugin()->inAppBrowserViewController());

    const size_t from = host.reportCount();
    open("popup.html", "hidden=yes");
    ASSERT_TRUE(waitForEvent(openId_, "loadstop", from));
    inBrowser("location.href = 'file:///etc/passwd'");
    host.runUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(browserWeb()->URL()->absoluteString(), "app://localhost/popup.html");
}

// A link to an https page whose certificate only the extra authority vouches for: the engine
// trusts it and tries the load again, and the page hears of the navigation once, under its own
// address, whether the page then loads or its server drops the connection.
TEST_F(InAppBrowser, LinksTrustedThroughTheExtraAuthorityReportEachEventOnce) {
    struct Case {
        peers::HttpResponse answer;
        const char* end;
    };
    const Case cases[] = {
        {peers::HttpResponse::text(200, "<title>trusted</title>", "text/html"), "loadstop"},
        {peers::HttpResponse::closeConnection(), "loaderror"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.end);
        // A certificate of its own for each case: one the engine trusts already is not retried.
        peers::TestCA ca;
        peers::HttpsServer secure(ca);
        secure.on("GET", "/page", c.answer);
        const std::string target = secure.url("/page").absoluteString();
        server.setPage("/links", "<a id='link' href='" + target + "'>go</a>");
        size_t from = host.reportCount();
        open(server.url("/links"), "hidden=yes");
        ASSERT_TRUE(waitForEvent(openId_, "loadstop", from));

        net::TLSSettings::setExtraCAFile(ca.caFile());
        from = host.reportCount();
        inBrowser("document.getElementById('link').click()");
        const auto end = host.waitForReport(from, [&](const E2EHost::Report& r) {
            return r.body["call"] == ns::Value(openId_) &&
                   r.body["value"]["type"] == ns::Value(c.end) &&
                   r.body["value"]["url"] == ns::Value(target);
        });
        net::TLSSettings::setExtraCAFile("");
        ASSERT_TRUE(end);
        std::vector<std::string> events;
        for (size_t i = from; i < host.reportCount(); ++i) {
            const auto& report = host.reports()[i].body;
            if (report["call"] != ns::Value(openId_)) continue;
            events.push_back(report["value"]["type"].stringValue() + " " +
                             report["value"]["url"].stringValue());
        }
        EXPECT_EQ(events,
                  (std::vector<std::string>{"loadstart " + target, c.end + (" " + target)}));
    }
}

}  // namespace
