#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "platform/gtk/GtkViewPresenter.h"
#include "platform/net/TLSSettings.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/wk/WebView.h"
#include "services/peers/IdentityPeer.h"
#include "signin/DSInstanceDiscovery.h"
#include "signin/DSKeychainTokenCache.h"
#include "signin/DSStringHelpers.h"
#include "signin/DSUserInformation.h"
#include "signin/DSWebAuthController.h"
#include "tests/e2e/E2EHost.h"
#include "tests/e2e/HostProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using peers::IdentityPeer;

constexpr const char* kService = "DirectorySignIn";
constexpr const char* kClient = "e2e-client";
constexpr const char* kResource = "https://graph.example";
constexpr const char* kRedirect = "x-dsauth-e2e://signed-in";

std::string json(const ns::Value& value) {
    return ns::JSONSerialization::write(value, {.fragmentsAllowed = true}).value();
}

// The sign-in plug-in through the page's bridge in the real engine, against the loopback
// identity service; the host's own keychain holds the tokens.
class SignIn : public ::testing::Test {
protected:
    void SetUp() override {
        net::TLSSettings::setExtraCAFile(ca_.caFile());
        peer_.answerDiscovery(IdentityPeer::Discovery::Valid);
        peer_.serveTokens("tenant.example");
        peer_.serveSignIn("tenant.example");
        ASSERT_EQ(call("tokenCacheClear", {})["ok"], ns::Value(true));
        testsupport::LogCapture log;
        log.expect("-testRemoveAll: being called in DSKeychainTokenCache");
        cache()->testRemoveAll(nullptr);
    }
    void TearDown() override {
        if (auto open = DSWebAuthController::current()) open->cancel();
        host.runUntil([] { return !DSWebAuthController::current(); });
        net::TLSSettings::setExtraCAFile("");
    }

    static std::shared_ptr<DSKeychainTokenCache> cache() {
        return DSKeychainTokenCache::defaultKeychainCache();
    }
    // One answer of an action.
    ns::Value call(const std::string& action, ns::Array arguments) {
        auto answers = host.call(kService, action, json(ns::Value(std::move(arguments))));
        return answers.empty() ? ns::Value() : answers.front();
    }
    // Starts an action whose answer comes later, under `id`.
    void start(const std::string& id, const std::string& action, ns::Array arguments) {
        host.run("e2e.call(" + json(id) + ", " + json(kService) + ", " + json(action) + ", " +
                 json(ns::Value(std::move(arguments))) + ")");
    }
    std::optional<ns::Value> answerOf(const std::string& id, size_t from) {
        auto report = host.waitForReport(
            from, [&](const E2EHost::Report& r) { return r.body["call"] == ns::Value(id); });
        return report ? std::optional<ns::Value>(report->body) : std::nullopt;
    }
    // A refresh token in the cache, under an access token that has expired.
    void seedExpired(const std::string& user, const std::string& refreshToken) {
        auto item = std::make_shared<DSTokenCacheItem>();
        item->setAuthority(authority_);
        item->setResource(kResource);
        item->setClientId(kClient);
        item->setAccessToken("at-expired-" + refreshToken);
        item->setAccessTokenType("Bearer");
        item->setRefreshToken(refreshToken);
        item->setExpiresOn(ns::Date::now().dateByAddingTimeInterval(-60));
        item->setUserInformation(
            DSUserInformation::initWithIdToken(IdentityPeer::unsignedIdToken(user), nullptr));
        ASSERT_TRUE(cache()->addOrUpdateItem(item.get(), std::nullopt, nullptr));
    }
    // The sign-in page once it shows the service's form.
    std::shared_ptr<DSWebAuthController> signInPage() {
        std::shared_ptr<DSWebAuthController> page;
        host.runUntil([&] {
            page = DSWebAuthController::current();
            return page && page->webView()->URL() && !page->webView()->isLoading() &&
                   page->webView()->title() == "Sign in";
        });
        return page;
    }

    E2EHost& host = E2EHost::shared();
    peers::TestCA ca_;
    peers::HttpsServer server_{ca_};
    IdentityPeer peer_{server_};
    DSInstanceDiscovery discovery_{{peer_.authority()}};
    DSInstanceDiscovery::ScopedOverride useLoopback_{discovery_};
    std::string authority_ = server_.baseURL() + "/tenant.example";
};

// The GTK windows on screen.
size_t visibleWindows() {
    GList* all = gtk_window_list_toplevels();
    size_t count = 0;
    for (GList* it = all; it; it = it->next) count += gtk_widget_get_visible(GTK_WIDGET(it->data));
    g_list_free(all);
    return count;
}

// The host program, started again on the same sandbox, reads the items the page stored, in
// sorted order (the keychain lists them in the order they were last written).
std::string itemsAfterRestart(const fs::path& sandbox) {
#ifdef HYB_HOST_EXECUTABLE
    testsupport::TempDir root;
    const fs::path bundle = root.path() / "bundle";
    fs::copy(fs::path(HYB_SOURCE_DIR) / "tests/fixtures/e2e_bundle", bundle,
             fs::copy_options::recursive);
    fs::copy_file(fs::path(HYB_SOURCE_DIR) / "examples/bundle/www/hybrid.js",
                  bundle / "www/hybrid.js");
    std::ofstream(bundle / "www/index.html")
        << "<!DOCTYPE html><html><body><script src=\"hybrid.js\"></script><script>"
           "document.addEventListener('deviceready', function () {"
           "  hybrid.require('hybrid/exec')(function (items) {"
           "    console.log('ITEMS ' + JSON.stringify(items.map(function (i) {"
           "      return [i.resource, i.clientId, i.accessToken ? 'at' : '-']; }).sort()) +"
           "      ' ITEMS-END');"
           "  }, function (e) { console.log('ITEMS failed ' + JSON.stringify(e)); },"
           "  'DirectorySignIn', 'tokenCacheReadItems', []);"
           "});</script></body></html>";
    HostProcess restarted(bundle.string(), sandbox.string(), {});
    if (!restarted.readUntil(" ITEMS-END")) return restarted.output();
    const std::string& output = restarted.output();
    const size_t at = output.find("ITEMS ");
    return output.substr(at, output.find(" ITEMS-END", at) - at);
#else
    (void)sandbox;
    return "no host program in this build";
#endif
}

// Silent acquisition: a seeded expired access token is refreshed through discovery and the
// token endpoint; the cache holds the three items, they outlive the program, deletion leaves
// hidden tombstones that the purge takes, "invalid_grant" gives its error and a tombstone, and
// no log line at the most verbose level holds a token.
TEST_F(SignIn, SilentAcquisitionAndTheCacheThroughThePage) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("Code: DS_ERROR_SERVER_REFRESH_TOKEN_REJECTED ");
    ASSERT_EQ(call("setLogLevel", {4})["ok"], ns::Value(true));
    const size_t logFrom = host.reportCount();
    start("logger", "setLogger", {});
    ASSERT_EQ(call("createAsync", {authority_, true})["ok"], ns::Value(true));

    seedExpired("u@x", "rt-seed");
    peer_.grant("rt-seed", {"u@x", "at-new", "rt-new", kResource});
    const ns::Value acquired =
        call("acquireTokenSilentAsync", {authority_, true, kResource, kClient, "u@x"});
    ASSERT_EQ(acquired["ok"], ns::Value(true)) << json(acquired);
    EXPECT_EQ(acquired["value"]["accessToken"], ns::Value("at-new"));
    EXPECT_EQ(acquired["value"]["statusCode"], ns::Value(0));
    EXPECT_EQ(acquired["value"]["userInfo"]["userId"], ns::Value("u@x"));
    ASSERT_EQ(peer_.discoveryRequests().size(), 1u);
    ASSERT_EQ(peer_.tokenForms().size(), 1u);
    EXPECT_EQ(peer_.tokenForms()[0].at("refresh_token"), "rt-seed");

    // The access token, the multi-resource and the family refresh tokens.
    const ns::Value items = call("tokenCacheReadItems", {})["value"];
    ASSERT_EQ(items.count(), 3u) << json(items);
    std::set<std::string> kinds;
    for (const auto& item : *items.array()) {
        kinds.insert(item["clientId"].stringValue() + "|" +
                     (item["resource"].isNull() ? "-" : item["resource"].stringValue()) + "|" +
                     (item["isMultipleResourceRefreshToken"].boolValue() ? "rt" : "at"));
    }
    EXPECT_EQ(kinds, (std::set<std::string>{std::string(kClient) + "|" + kResource + "|at",
                                            std::string(kClient) + "|-|rt", "foci-1|-|rt"}));

    const std::string restarted = itemsAfterRestart(host.sandbox());
    EXPECT_EQ(restarted, std::string("ITEMS [[null,\"") + kClient +
                             "\",\"-\"],[null,\"foci-1\",\"-\"],[\"" + kResource + "\",\"" +
                             kClient + "\",\"at\"]]")
        << restarted;

    // Deleting the multi-resource token leaves a tombstone, which the page does not see.
    ASSERT_EQ(call("tokenCacheDeleteItem",
                   {authority_, true, authority_, ns::Value(), kClient, "u@x"})["ok"],
              ns::Value(true));
    EXPECT_EQ(call("tokenCacheReadItems", {})["value"].count(), 2u);
    EXPECT_EQ(cache()->allTombstones(nullptr)->size(), 1u);
    ASSERT_EQ(call("tokenCacheClear", {})["ok"], ns::Value(true));
    EXPECT_TRUE(call("tokenCacheReadItems", {})["value"].count() == 0);
    auto tombstones = *cache()->allTombstones(nullptr);
    EXPECT_EQ(tombstones.size(), 2u);  // the family token's too; an access token leaves none
    // A day on, the purge takes those that have expired.
    for (const auto& stone : tombstones) {
        stone->setExpiresOn(ns::Date::now().dateByAddingTimeInterval(-1));
        ASSERT_TRUE(cache()->addOrUpdateItem(stone.get(), std::nullopt, nullptr));
    }
    cache()->storeTombstoneCleanTime(ns::Date::now().dateByAddingTimeInterval(-1));
    EXPECT_TRUE(cache()->cleanTombstoneIfNecessary());
    EXPECT_TRUE(cache()->allTombstones(nullptr)->empty());

    // A refresh token the service no longer takes.
    seedExpired("u@x", "rt-revoked");
    const ns::Value rejected =
        call("acquireTokenSilentAsync", {authority_, true, kResource, kClient, "u@x"});
    EXPECT_EQ(rejected["ok"], ns::Value(false));
    EXPECT_EQ(rejected["value"]["errorCode"], ns::Value("DS_ERROR_SERVER_REFRESH_TOKEN_REJECTED"));
    EXPECT_EQ(rejected["value"]["error"], ns::Value("invalid_grant"));
    EXPECT_EQ(rejected["value"]["statusCode"], ns::Value(2));
    EXPECT_EQ(cache()->allTombstones(nullptr)->size(), 1u);

    // Every line the page was given, and none holds a token or a code.
    size_t lines = 0;
    for (size_t i = logFrom; i < host.reportCount(); ++i) {
        const ns::Value& body = host.reports()[i].body;
        if (body["call"] != ns::Value("logger")) continue;
        ++lines;
        const std::string text = json(body["value"]);
        for (const char* secret :
             {"at-new", "rt-new", "rt-seed", "rt-revoked", "at-expired", "eyJ"})
            EXPECT_EQ(text.find(secret), std::string::npos) << text;
    }
    EXPECT_GT(lines, 10u);
    EXPECT_EQ(call("setLogLevel", {1})["ok"], ns::Value(true));
}

// The interactive road: the sign-in window opens on the service's page, the form is filled
// and sent as a user would, the end URL is caught, the code is redeemed with its verifier, and
// the window goes.
TEST_F(SignIn, InteractiveWindowSignsInThroughTheServicesPage) {
    ASSERT_EQ(call("createAsync", {authority_, false})["ok"], ns::Value(true));
    const size_t from = host.reportCount();
    start("interactive", "acquireTokenAsync",
          {authority_, false, kResource, kClient, kRedirect, "u@x", "domain_hint=example.org"});
    auto page = signInPage();
    ASSERT_TRUE(page);
    EXPECT_EQ(page->webView()->URL()->path(), "/tenant.example/oauth2/authorize");
    // Drawn: a GTK window of its own shows the screen.
    auto presenter = wk::GtkViewPresenter::installed();
    ASSERT_TRUE(presenter);
    const auto window = page->window();
    ASSERT_TRUE(window);
    EXPECT_TRUE(host.runUntil([&] { return presenter->gtkWindowFor(*window) != nullptr; }));

    // The user the page named is filled in.
    std::optional<ns::Value> shownUser;
    page->webView()->evaluateJavaScript(
        "document.getElementById('username').value",
        [&](const ns::Value& value, const std::optional<ns::Error>&) { shownUser = value; });
    ASSERT_TRUE(host.runUntil([&] { return shownUser.has_value(); }));
    EXPECT_EQ(*shownUser, ns::Value("u@x"));
    page->webView()->evaluateJavaScript(
        "document.getElementById('password').value = 'secret';"
        "document.getElementById('submit').click();");
    const auto answer = answerOf("interactive", from);
    ASSERT_TRUE(answer);
    ASSERT_EQ((*answer)["ok"], ns::Value(true)) << json(*answer);
    EXPECT_EQ((*answer)["value"]["accessToken"], ns::Value("at-code-1"));
    EXPECT_EQ((*answer)["value"]["userInfo"]["userId"], ns::Value("u@x"));
    EXPECT_EQ(peer_.verifiedCodes(), 1u);
    EXPECT_TRUE(host.runUntil([&] { return presenter->gtkWindowFor(*window) == nullptr; }));
    EXPECT_FALSE(DSWebAuthController::current());
    EXPECT_EQ(call("tokenCacheReadItems", {})["value"].count(), 3u);
}

// Closing the window is the user's cancel.
TEST_F(SignIn, ClosingTheWindowCancels) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("Code: DS_ERROR_UI_USER_CANCEL ");
    ASSERT_EQ(call("createAsync", {authority_, false})["ok"], ns::Value(true));
    const size_t from = host.reportCount();
    start("closed", "acquireTokenAsync",
          {authority_, false, kResource, kClient, kRedirect, ns::Value(), ns::Value()});
    auto page = signInPage();
    ASSERT_TRUE(page);
    auto presenter = wk::GtkViewPresenter::installed();
    GtkWidget* gtkWindow = nullptr;
    ASSERT_TRUE(host.runUntil([&] {
        gtkWindow = presenter->gtkWindowFor(*page->window());
        return gtkWindow != nullptr;
    }));
    gtk_window_close(GTK_WINDOW(gtkWindow));
    const auto answer = answerOf("closed", from);
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)["ok"], ns::Value(false));
    EXPECT_EQ((*answer)["value"]["statusCode"], ns::Value(1));
    EXPECT_EQ((*answer)["value"]["errorCode"], ns::Value("DS_ERROR_UI_USER_CANCEL"));
    EXPECT_TRUE(host.runUntil([&] { return presenter->gtkWindowFor(*page->window()) == nullptr; }));
    EXPECT_TRUE(peer_.tokenForms().empty());
}

// The service sends the window to plain http: the window does not go there, the page gets the
// non-https error, the window closes, and the next sign-in is not refused as a second prompt.
TEST_F(SignIn, RedirectToPlainHttpEndsTheSignInWithItsError) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("Code: DS_ERROR_SERVER_NON_HTTPS_REDIRECT ");
    expectedLog.expect("Code: DS_ERROR_UI_USER_CANCEL ");
    peers::HttpsServer plain(peers::HttpsServer::Options{});
    plain.on("", "", peers::HttpResponse::text(200, "<title>Sign in</title>in the clear"));
    peer_.redirectAuthorizeTo(plain.baseURL() + "/login");
    ASSERT_EQ(call("createAsync", {authority_, false})["ok"], ns::Value(true));
    const size_t windowsBefore = visibleWindows();
    size_t from = host.reportCount();
    start("to-http", "acquireTokenAsync",
          {authority_, false, kResource, kClient, kRedirect, "u@x", ns::Value()});
    const auto answer = answerOf("to-http", from);
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)["ok"], ns::Value(false));
    EXPECT_EQ((*answer)["value"]["errorCode"], ns::Value("DS_ERROR_SERVER_NON_HTTPS_REDIRECT"))
        << json(*answer);
    EXPECT_EQ((*answer)["value"]["statusCode"], ns::Value(2));
    EXPECT_TRUE(host.runUntil([] { return !DSWebAuthController::current(); }));
    EXPECT_TRUE(host.runUntil([&] { return visibleWindows() == windowsBefore; }));
    EXPECT_EQ(plain.requestCount(), 0u);

    // The next sign-in gets its window.
    peer_.redirectAuthorizeTo(std::nullopt);
    from = host.reportCount();
    start("next", "acquireTokenAsync",
          {authority_, false, kResource, kClient, kRedirect, "u@x", ns::Value()});
    auto page = signInPage();
    ASSERT_TRUE(page);
    page->cancel();
    const auto next = answerOf("next", from);
    ASSERT_TRUE(next);
    EXPECT_EQ((*next)["value"]["errorCode"], ns::Value("DS_ERROR_UI_USER_CANCEL")) << json(*next);
}

// The example page's sign-in section, its own markup and script, in the real engine: its
// buttons make the context, sign in through the window and read and clear the cache.
TEST_F(SignIn, ExamplePageSectionSignsInAndReadsTheCache) {
    const fs::path www = fs::path(HYB_SOURCE_DIR) / "examples/bundle/www";
    std::ifstream pageFile(www / "index.html"), scriptFile(www / "js/signin.js");
    const std::string page((std::istreambuf_iterator<char>(pageFile)), {});
    const std::string script((std::istreambuf_iterator<char>(scriptFile)), {});
    const size_t begin = page.find("<section class=\"signin\">");
    const size_t end = page.find("</section>", begin);
    ASSERT_NE(begin, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    const std::string section = page.substr(begin, end + 10 - begin);
    // Named as the example names its local service: by "localhost".
    const std::string localhost =
        "https://localhost:" + std::to_string(server_.port()) + "/tenant.example";
    ASSERT_TRUE(
        host.evaluate("document.body.insertAdjacentHTML('beforeend', " + json(section) +
                      "); document.getElementById('signin-authority').value = " + json(localhost) +
                      "; document.getElementById('signin-user').value = 'example@x'; true"));
    ASSERT_TRUE(host.evaluate(script + "; true"));

    // The answers list, newest first, once it has `count` entries.
    auto answers = [&](size_t count) {
        std::string text;
        host.runUntil([&] {
            auto value = host.evaluate(
                "Array.from(document.querySelectorAll('#signin-answers li'))"
                ".map(function (li) { return li.textContent; })");
            if (!value || value->count() < count) return false;
            text = value->at(0).stringValue();
            return true;
        });
        return text;
    };
    auto click = [&](const char* id) {
        host.run("document.getElementById('" + std::string(id) + "').click()");
    };

    click("signin-create");
    EXPECT_EQ(answers(1).rfind("createAsync → ", 0), 0u);
    click("signin-interactive");
    auto screen = signInPage();
    ASSERT_TRUE(screen);
    // The window has the user the page named: the user only has to send it.
    screen->webView()->evaluateJavaScript("document.getElementById('submit').click();");
    const std::string signedIn = answers(2);
    EXPECT_EQ(signedIn.rfind("sign in → ", 0), 0u) << signedIn;
    EXPECT_NE(signedIn.find("\"userId\": \"example@x\""), std::string::npos) << signedIn;
    EXPECT_NE(signedIn.find("at-code-1"), std::string::npos) << signedIn;
    EXPECT_EQ(signedIn.find("rt-code-1"), std::string::npos) << signedIn;

    click("signin-read");
    const std::string cached = answers(3);
    EXPECT_EQ(cached.rfind("cache → [", 0), 0u) << cached;
    EXPECT_NE(cached.find("foci-1"), std::string::npos) << cached;
    click("signin-clear");
    EXPECT_EQ(answers(4).rfind("clear → ", 0), 0u);
    EXPECT_EQ(call("tokenCacheReadItems", {})["value"].count(), 0u);
}

}  // namespace
