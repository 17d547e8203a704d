#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "bridge/HYBViewController.h"
#include "bridge/NSDictionary+HybridPreferences.h"
#include "platform/ns/Sandbox.h"
#include "platform/ui/Application.h"
#include "platform/wk/URLResponse.h"
#include "platform/wk/URLSchemeTask.h"
#include "platform/wk/WebView.h"
#include "tests/e2e/E2EHost.h"
#include "tests/e2e/E2EProbe.h"
#include "tests/e2e/HostProcess.h"
#include "tests/e2e/LoopbackHTTPServer.h"
#include "tests/support/LogCapture.h"
#include "tests/support/NsPrinters.h"
#include "tests/support/TempDir.h"

namespace {

std::string literal(const std::string& text) {
    return "'" + text + "'";  // the suite's own URLs need no escaping
}

class Navigation : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(host.loadStartPage()); }

    std::string pageURL() const {
        auto url = host.webView()->URL();
        return url ? url->absoluteString() : "";
    }
    bool waitForURL(const std::string& url) {
        return host.runUntil([&] { return pageURL() == url && !host.webView()->isLoading(); });
    }

    E2EHost& host = E2EHost::shared();
    LoopbackHTTPServer server;
};

TEST_F(Navigation, AllowedPagesLoadInTheWebView) {
    const std::string url = server.url("/allowed");
    host.run("location.href = " + literal(url));
    ASSERT_TRUE(waitForURL(url));
    // The title follows the load on its own.
    EXPECT_TRUE(host.runUntil([&] { return host.webView()->title() == "/allowed"; }));
    EXPECT_EQ(server.requestedPaths(), std::vector<std::string>{"/allowed"});
}

// A page that no list admits is not loaded, and the page stays where it was.
TEST_F(Navigation, RefusedPagesAreNotLoaded) {
    testsupport::LogCapture log;
    log.expect("ERROR Internal navigation rejected - <allow-navigation> not set for url='http");
    const std::string url = "http://localhost:" + std::to_string(server.port()) + "/refused";
    host.run("location.href = " + literal(url));
    ASSERT_TRUE(host.runUntil([&] {
        return log.contains(
            "ERROR Internal navigation rejected - <allow-navigation> not set for "
            "url='" +
            url + "'");
    }));
    EXPECT_FALSE(log.contains("External navigation rejected"));  // not the user's tap
    EXPECT_EQ(pageURL(), "app://localhost/index.html");
    EXPECT_TRUE(server.requestedPaths().empty());
}

// Addresses that WebKit takes and our stricter URL parser would refuse reach the navigation
// rules as they were given, only what a URL cannot hold percent-encoded: never another address
// (they used to arrive as "about:blank").
TEST_F(Navigation, AddressesOurParserWouldRefuseKeepTheirText) {
    const std::pair<std::string, std::string> cases[] = {
        {"evilscheme://x/a\\\\b", "evilscheme://x/a%5Cb"},
        {"evilscheme://x/%zz", "evilscheme://x/%25zz"},
        {"mailto:a`b@example.invalid", "mailto:a%60b@example.invalid"},
        {"sms:123|456", "sms:123%7C456"},
    };
    for (const auto& [address, expected] : cases) {
        SCOPED_TRACE(address);
        testsupport::LogCapture log;
        const std::string line =
            "Internal navigation rejected - <allow-navigation> not set for url='" + expected + "'";
        log.expect(line);
        host.run("location.href = " + literal(address));
        ASSERT_TRUE(host.runUntil([&] { return log.contains(line); }));
        EXPECT_FALSE(log.contains("about:blank"));
        EXPECT_EQ(pageURL(), "app://localhost/index.html");
    }
}

// A link the user follows to a page that only the intent list admits opens outside.
TEST_F(Navigation, IntentLinksOpenOutside) {
    const std::string url = "https://intent.invalid/page";
    const size_t opened = ui::Application::shared().openedURLs().size();
    host.run("e2e.click(" + literal(url) + ")");
    ASSERT_TRUE(
        host.runUntil([&] { return ui::Application::shared().openedURLs().size() > opened; }));
    EXPECT_EQ(ui::Application::shared().openedURLs().back().absoluteString(), url);
    EXPECT_EQ(pageURL(), "app://localhost/index.html");
}

// A frame that loads an address only the intent list admits is a subframe's load, not the
// user's: it is refused and opens nothing outside; the page stays.
TEST_F(Navigation, FramesDoNotOpenIntentsOutside) {
    testsupport::LogCapture log;
    log.expect("ERROR Internal navigation rejected - <allow-navigation> not set for url='http");
    const std::string url = "https://intent.invalid/frame";
    // A second frame, refused with a log line, tells when the first one has been decided. Both
    // are in an allowed page's own markup, so that their loads are not the user's.
    const std::string refused = "http://localhost:" + std::to_string(server.port()) + "/frame";
    server.setPage("/outer",
                   "<iframe src='" + url + "'></iframe><iframe src='" + refused + "'></iframe>");
    const size_t opened = ui::Application::shared().openedURLs().size();
    host.run("var f = document.createElement('iframe'); f.src = " + literal(server.url("/outer")) +
             "; document.body.appendChild(f);");
    ASSERT_TRUE(host.runUntil([&] {
        return log.contains(
            "ERROR Internal navigation rejected - <allow-navigation> not set for url='" + refused +
            "'");
    }));
    EXPECT_EQ(ui::Application::shared().openedURLs().size(), opened);
    EXPECT_EQ(pageURL(), "app://localhost/index.html");
    host.run("document.body.removeChild(f);");
}

// A navigation of the top that the page's script starts without the user (location.replace),
// or that a frame of the page starts, is decided before its request leaves: a refused one
// never reaches the server.
TEST_F(Navigation, ScriptAndFrameNavigationsOfTheTopAreDecidedBeforeTheyAreSent) {
    testsupport::LogCapture log;
    log.expect("ERROR Internal navigation rejected - <allow-navigation> not set for url='http");
    const std::string refused = "http://localhost:" + std::to_string(server.port());
    const auto rejected = [&](const std::string& url) {
        return log.contains(
            "ERROR Internal navigation rejected - <allow-navigation> not set for url='" + url +
            "'");
    };
    host.run("location.replace(" + literal(refused + "/replaced") + ")");
    ASSERT_TRUE(host.runUntil([&] { return rejected(refused + "/replaced"); }));

    // The engine may refuse a frame of another origin the top's navigation itself.
    server.setPage("/child", "<script>try { top.location.href = " + literal(refused + "/topped") +
                                 "; } catch (e) {} webkit.messageHandlers.e2e.postMessage("
                                 "{child: 'tried'});</script>");
    const size_t from = host.reportCount();
    host.run("var f = document.createElement('iframe'); f.src = " + literal(server.url("/child")) +
             "; document.body.appendChild(f);");
    ASSERT_TRUE(host.waitForReport(
        from, [](const E2EHost::Report& r) { return r.body["child"] == ns::Value("tried"); }));
    host.runUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(pageURL(), "app://localhost/index.html");
    EXPECT_EQ(server.requestedPaths(), std::vector<std::string>{"/child"});
    host.run("document.body.removeChild(f);");
}

// The application's files are for its own pages: a frame of an allowed remote page in the
// application's view neither runs the container's scripts nor learns whether they exist.
TEST_F(Navigation, RemoteFramesCannotLoadTheApplicationsFiles) {
    const std::filesystem::path documents = ns::Sandbox::documentsDirectory();
    std::filesystem::create_directories(documents);
    const std::string secret = (documents / "secret.js").string();
    std::ofstream(secret) << "var containerSecret = 'leaked';";
    const std::string script = "app://localhost/_app_file_" + secret;
    const std::string post = "webkit.messageHandlers.e2e.postMessage";
    server.setPage("/reader", "<script src='" + script + "' onload='" + post +
                                  "({reader: \"loaded\"})' onerror='" + post +
                                  "({reader: \"refused\"})'></script><script>setTimeout("
                                  "function () { " +
                                  post + "({reader: typeof containerSecret}); }, 50);</script>");
    const size_t from = host.reportCount();
    host.run("var f = document.createElement('iframe'); f.src = " + literal(server.url("/reader")) +
             "; document.body.appendChild(f);");
    std::vector<std::string> seen;
    ASSERT_TRUE(host.runUntil([&] {
        seen.clear();
        for (size_t i = from; i < host.reportCount(); ++i) {
            const auto& value = host.reports()[i].body["reader"];
            if (value.isString()) seen.push_back(value.stringValue());
        }
        return seen.size() >= 2;
    }));
    EXPECT_EQ(seen, (std::vector<std::string>{"refused", "undefined"}));
    host.run("document.body.removeChild(f);");
    // The application's own page still reads its files.
    const size_t again = host.reportCount();
    host.run("e2e.fetch('own', " + literal("/_app_file_" + secret) + ")");
    auto own = host.waitForReport(
        again, [](const E2EHost::Report& r) { return r.body["fetch"] == ns::Value("own"); });
    ASSERT_TRUE(own);
    EXPECT_EQ(own->body["status"], ns::Value(200));
}

// A start page that is missing, with no error page configured, shows the message in the window
// (not a blank page that the navigation filter refused).
TEST_F(Navigation, MissingStartPageShowsTheMessage) {
    testsupport::LogCapture log;
    log.expect("ERROR: Start Page at 'www/missing.html' was not found.");
    auto controller = host.controller();
    const ns::Dictionary settings = controller->settings();
    ns::Dictionary withoutErrorPage = settings;
    withoutErrorPage.erase(hybridSettingKey("ErrorUrl"));
    controller->setSettings(withoutErrorPage);
    const auto startPage = controller->startPage();
    controller->setStartPage("missing.html");
    controller->loadStartPage();
    controller->setStartPage(startPage);
    controller->setSettings(settings);
    std::string text;
    ASSERT_TRUE(host.runUntil([&] {
        auto body = host.evaluate("document.body ? document.body.textContent : ''");
        text = body && body->isString() ? *body->string() : "";
        return text.find("was not found") != std::string::npos;
    })) << pageURL();
    EXPECT_EQ(text, " ERROR: Start Page at 'www/missing.html' was not found. ");
}

// A load that fails shows the bundle's error page with the failure in its query.
TEST_F(Navigation, FailedLoadsShowTheErrorPage) {
    const std::string url = server.url("/gone");
    server.stop();
    const size_t from = host.reportCount();
    host.run("location.href = " + literal(url));
    auto report = host.waitForReport(
        from, [](const E2EHost::Report& r) { return r.body["event"] == ns::Value("error-page"); });
    ASSERT_TRUE(report);
    EXPECT_EQ(report->body["error"].stringValue().rfind("Failed to load webpage with error: ", 0),
              0u)
        << report->body["error"].stringValue();
    EXPECT_NE(pageURL().find("/error.html?error=Failed%20to%20load%20webpage"), std::string::npos)
        << pageURL();
}

struct AssetCase {
    std::string path;
    int status;
    const char* type;
    const char* bodyContains;
};

// The bundle's files over the app scheme: assets with their types, extension-less routes as
// the start page, missing files as 404, and files of the sandbox under the reserved prefix.
TEST_F(Navigation, TheAppSchemeServesTheBundle) {
    const std::string tmpFile = ns::Sandbox::temporaryDirectory() + "e2e.txt";
    std::ofstream(tmpFile) << "from the sandbox";
    const AssetCase cases[] = {
        {"css/style.css", 200, "text/css", "font-family"},
        {"/settings/profile", 200, "text/html", "<title>End to End</title>"},
        {"js/missing.js", 404, "javascript", ""},
        {("/_app_file_" + tmpFile).c_str(), 200, "text/plain", "from the sandbox"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const size_t from = host.reportCount();
        host.run("e2e.fetch('f', " + literal(c.path) + ")");
        auto report = host.waitForReport(
            from, [](const E2EHost::Report& r) { return r.body["fetch"] == ns::Value("f"); });
        ASSERT_TRUE(report);
        EXPECT_EQ(report->body["status"], ns::Value(c.status));
        EXPECT_NE(report->body["type"].stringValue().find(c.type), std::string::npos)
            << report->body["type"].stringValue();
        EXPECT_EQ(report->body["cache"], ns::Value("no-cache"));
        EXPECT_NE(report->body["body"].stringValue().find(c.bodyContains), std::string::npos);
    }
}

// A handler may answer later, or never: the page gets a late answer whole, and a request the
// page gives up is stopped at the handler.
TEST_F(Navigation, SchemeAnswersMayComeLaterOrBeStopped) {
    // Plug-ins are made on first use; only those made are offered the requests.
    ASSERT_EQ(host.call("Probe", "echo", "[1]").size(), 1u);
    auto& held = E2EProbe::held();
    held.clear();
    E2EProbe::stopped().clear();
    size_t from = host.reportCount();
    host.run("e2e.fetch('late', '/held/late.txt')");
    ASSERT_TRUE(host.runUntil([&] { return held.size() == 1; }));
    auto task = held.front();
    task->didReceiveResponse(std::make_shared<const wk::HTTPURLResponse>(
        task->request().url(), 200, "HTTP/1.1",
        net::HTTPHeaderFields{{"Content-Type", "text/plain"}}));
    task->didReceiveData(ns::Data::fromString("first "));
    task->didReceiveData(ns::Data::fromString("second"));
    task->didFinish();
    auto report = host.waitForReport(
        from, [](const E2EHost::Report& r) { return r.body["fetch"] == ns::Value("late"); });
    ASSERT_TRUE(report);
    EXPECT_EQ(report->body["status"], ns::Value(200));
    EXPECT_EQ(report->body["body"], ns::Value("first second"));

    held.clear();
    host.run(
        "window.aborter = new AbortController();"
        "fetch('/held/abandoned', {signal: aborter.signal}).catch(function () {});");
    ASSERT_TRUE(host.runUntil([&] { return held.size() == 1; }));
    host.run("aborter.abort()");
    ASSERT_TRUE(host.runUntil([] { return !E2EProbe::stopped().empty(); }));
    EXPECT_EQ(E2EProbe::stopped(), std::vector<std::string>{"/held/abandoned"});
    EXPECT_TRUE(held.front()->isStopped());
    held.clear();
}

}  // namespace

#ifdef HYB_HOST_EXECUTABLE

namespace {

// A cookie that a page over http sets to last a year is there when the host starts again with
// the same sandbox: the engine keeps it with the rest of the sandbox's website data.
TEST(NavigationCookies, PersistentCookiesSurviveARestart) {
    namespace fs = std::filesystem;
    LoopbackHTTPServer server;
    server.addResponseHeader("/first", "Set-Cookie: kept=1; Max-Age=31536000; Path=/");
    server.addResponseHeader("/first", "Set-Cookie: gone=1; Path=/");  // the session's only
    testsupport::TempDir sandbox;
    const fs::path bundle = HostProcess::bundleIn(sandbox.str(), "tests/fixtures/bundle");
    const auto startAt = [&](const std::string& path) {
        std::ofstream(bundle / "config.xml")
            << "<?xml version='1.0' encoding='utf-8'?><widget id='org.example.hybrid.fixture' "
               "version='1.0.0'><content src='"
            << server.url(path)
            << "'/><feature name='IntentAndNavigationFilter'><param name='ios-package' "
               "value='HYBIntentAndNavigationFilter'/><param name='onload' value='true'/>"
               "</feature><allow-navigation href='http://127.0.0.1/*'/></widget>";
        HostProcess host(sandbox.str(), HostProcess::Launch{.arguments = {"--exit-after-load"}});
        EXPECT_TRUE(host.readUntil("")) << host.output();
        host.wait();
    };
    startAt("/first");
    startAt("/second");
    EXPECT_EQ(server.requestHeaders("/second", "Cookie"), std::vector<std::string>{"kept=1"});
    EXPECT_TRUE(fs::exists(sandbox.path() / "Container/Library/WebKit/Cookies.sqlite"));
}

}  // namespace

#endif
