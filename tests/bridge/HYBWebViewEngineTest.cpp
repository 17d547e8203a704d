#include "bridge/HYBWebViewEngine.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "bridge/HYBCommandQueue.h"
#include "bridge/HYBURLSchemeHandler.h"
#include "bridge/HYBWebViewUIDelegate.h"
#include "bridge/HYBWebViewWeakScriptMessageHandler.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/wk/UserContentController.h"
#include "platform/wk/WebKitError.h"
#include "platform/wk/WebViewConfiguration.h"
#include "tests/bridge/HostFixture.h"
#include "tests/support/LogCapture.h"

namespace {

using testsupport::LogCapture;

ns::URL url(const std::string& text) {
    return *ns::URL::parse(text);
}

// Counts the notifications of one name and keeps their objects.
class NotificationRecorder {
public:
    explicit NotificationRecorder(const char* name) {
        token_ = ns::NotificationCenter::defaultCenter().addObserver(
            name, nullptr, [this](const ns::Notification& n) { objects.push_back(n.object); });
    }
    ~NotificationRecorder() { ns::NotificationCenter::defaultCenter().removeObserver(token_); }
    std::vector<std::shared_ptr<ns::Object>> objects;

private:
    ns::NotificationCenter::ObserverToken token_;
};

// Answers every navigation with a fixed verdict and records what it was asked.
class Decider : public HYBPlugin {
public:
    explicit Decider(bool verdict) : verdict_(verdict) {}
    bool answersShouldOverrideLoad() const override { return true; }
    bool shouldOverrideLoadWithRequest(const wk::URLRequest& request,
                                       wk::NavigationType type) override {
        asked.push_back({request.url().absoluteString(), type});
        return verdict_;
    }
    std::vector<std::pair<std::string, wk::NavigationType>> asked;

private:
    bool verdict_;
};

class EngineTest : public hosttest::HostFixture {
protected:
    void startWith(const std::string& elements) {
        writeConfig(elements);
        start();
    }
    std::string pageURL() const {
        auto u = page().url();
        return u ? u->absoluteString() : "";
    }
    std::string fileURL(const std::string& relative) const {
        return ns::URL::fileURLWithPath(bundlePath() + "/" + relative).absoluteString();
    }
};

TEST_F(EngineTest, WithoutSchemePreferenceServesFileURLs) {
    startWith("");
    EXPECT_TRUE(engine()->hybIsFileScheme());
    EXPECT_FALSE(engine()->HYB_ASSETS_URL());
    EXPECT_FALSE(engine()->schemeHandler());
    EXPECT_FALSE(controller_->appScheme());
    EXPECT_TRUE(webView()->configuration()->userContentController()->userScripts().empty());
    EXPECT_EQ(pageURL(), fileURL("www/index.html"));
    EXPECT_EQ(page().title(), "Start");
}

struct SchemeCase {
    std::string preferences;
    std::string assetsURL;
};

class EngineSchemeChoice : public EngineTest, public ::testing::WithParamInterface<SchemeCase> {};

TEST_P(EngineSchemeChoice, ChoosesTheSchemeAndHostOfTheAssets) {
    startWith(GetParam().preferences);
    ASSERT_TRUE(engine()->HYB_ASSETS_URL());
    EXPECT_EQ(*engine()->HYB_ASSETS_URL(), GetParam().assetsURL);
    EXPECT_FALSE(engine()->hybIsFileScheme());
    const auto scheme = GetParam().assetsURL.substr(0, GetParam().assetsURL.find(':'));
    EXPECT_EQ(controller_->appScheme(), scheme);
    EXPECT_EQ(webView()->configuration()->urlSchemeHandler(scheme), engine()->schemeHandler());
    const auto& scripts = webView()->configuration()->userContentController()->userScripts();
    ASSERT_EQ(scripts.size(), 1u);
    EXPECT_EQ(scripts[0].source, "window.HYB_ASSETS_URL = \"" + GetParam().assetsURL + "\";");
    EXPECT_EQ(scripts[0].injectionTime, wk::UserScript::InjectionTime::AtDocumentStart);
    EXPECT_TRUE(scripts[0].forMainFrameOnly);
}

INSTANTIATE_TEST_SUITE_P(
    Preferences, EngineSchemeChoice,
    ::testing::Values(
        SchemeCase{R"(<preference name="scheme" value="app"/>)", "app://localhost"},
        SchemeCase{R"(<preference name="scheme" value="https"/>)", "app://localhost"},
        SchemeCase{R"(<preference name="Scheme" value="myapp"/>
                      <preference name="hostname" value="files"/>)",
                   "myapp://files"},
        // Texts that are no scheme or host fall back instead of breaking the page's URL.
        SchemeCase{R"(<preference name="scheme" value="my app"/>)", "app://localhost"},
        SchemeCase{R"(<preference name="scheme" value="app"/>
                      <preference name="hostname" value="a/b';x"/>)",
                   "app://localhost"}));

TEST_F(EngineTest, StartPageUnderTheCustomSchemeLoadsWithoutANavigationFilter) {
    NotificationRecorder openURLs(HYBPluginHandleOpenURLNotification);
    startWith(R"(<preference name="scheme" value="app"/>)");
    EXPECT_EQ(pageURL(), "app://localhost/index.html");
    EXPECT_EQ(page().title(), "Start");
    EXPECT_TRUE(openURLs.objects.empty());
}

TEST_F(EngineTest, FileURLsAreRewrittenOntoTheScheme) {
    writeConfig(R"(<preference name="scheme" value="app"/><content src="index.html?a=1#top"/>)");
    writeFile("www/img/logo.png", "png");
    start();
    EXPECT_EQ(pageURL(), "app://localhost/index.html?a=1#top");

    engine()->loadRequest(wk::URLRequest(url(fileURL("www/img/logo.png") + "?v=2")));
    loop().runUntilIdle();
    EXPECT_EQ(pageURL(), "app://localhost/img/logo.png?v=2");
}

TEST_F(EngineTest, UserAgentOverrideWinsOverAppend) {
    startWith(R"(<preference name="OverrideUserAgent" value="Whole/1.0"/>
                 <preference name="AppendUserAgent" value="Extra/2"/>)");
    EXPECT_EQ(webView()->customUserAgent(), "Whole/1.0");
    EXPECT_EQ(webView()->configuration()->applicationNameForUserAgent(),
              wk::WebViewConfiguration::kDefaultApplicationNameForUserAgent);

    const ns::Dictionary appendOnly{{"appenduseragent", "Extra/2"}};
    EXPECT_EQ(
        engine()->createConfigurationFromSettings(&appendOnly)->applicationNameForUserAgent(),
        std::string(wk::WebViewConfiguration::kDefaultApplicationNameForUserAgent) + " Extra/2");
}

TEST_F(EngineTest, MediaTypesNeedingAUserAction) {
    startWith(R"(<preference name="MediaTypesRequiringUserActionForPlayback" value="audio"/>)");
    EXPECT_EQ(webView()->configuration()->mediaTypesRequiringUserActionForPlayback(),
              wk::kAudiovisualMediaTypeAudio);

    LogCapture log;
    // Without settings nothing is read (and nothing logged); the pool is the shared one.
    auto bare = engine()->createConfigurationFromSettings(nullptr);
    EXPECT_EQ(bare->processPool(), webView()->configuration()->processPool());
    EXPECT_TRUE(log.texts().empty());
    const ns::Dictionary none;
    auto defaults = engine()->createConfigurationFromSettings(&none);
    EXPECT_EQ(defaults->mediaTypesRequiringUserActionForPlayback(), wk::kAudiovisualMediaTypeAll);
    EXPECT_TRUE(
        log.contains("Invalid \"MediaTypesRequiringUserActionForPlayback\" was detected. "
                     "Fallback to default value of \"all\" types."));
}

TEST_F(EngineTest, LivePreferencesReachTheWebView) {
    startWith(R"(<preference name="DisallowOverscroll" value="true"/>
                 <preference name="WKWebViewDecelerationSpeed" value="fast"/>
                 <preference name="MinimumFontSize" value="12.5"/>
                 <preference name="AllowBackForwardNavigationGestures" value="true"/>
                 <preference name="Allow3DTouchLinkPreview" value="false"/>)");
    EXPECT_FALSE(webView()->scrollView()->bounces());
    EXPECT_EQ(webView()->scrollView()->decelerationRate(), ui::ScrollView::kDecelerationRateFast);
    EXPECT_EQ(webView()->configuration()->preferences()->minimumFontSize(), 12.5);
    EXPECT_TRUE(webView()->allowsBackForwardNavigationGestures());
    EXPECT_FALSE(webView()->allowsLinkPreview());
}

TEST_F(EngineTest, WithoutDecidingPluginsOnlyLocalPagesLoadAndOthersAreAnnounced) {
    writeFile("www/other.html", "<title>Other</title>");
    startWith("");
    NotificationRecorder openURLs(HYBPluginHandleOpenURLNotification);

    page().navigate(url("https://example.com/"));
    loop().runUntilIdle();
    EXPECT_EQ(pageURL(), fileURL("www/index.html"));
    ASSERT_EQ(openURLs.objects.size(), 1u);
    auto announced = std::dynamic_pointer_cast<ns::Box<ns::URL>>(openURLs.objects[0]);
    ASSERT_TRUE(announced);
    EXPECT_EQ(announced->value().absoluteString(), "https://example.com/");

    page().navigate(url(fileURL("www/other.html")));
    loop().runUntilIdle();
    EXPECT_EQ(pageURL(), fileURL("www/other.html"));
    EXPECT_EQ(openURLs.objects.size(), 1u);
}

TEST_F(EngineTest, FirstPluginThatSaysNoCancelsTheNavigation) {
    startWith("");
    auto yes = std::make_shared<Decider>(true);
    auto no = std::make_shared<Decider>(false);
    controller_->registerPlugin(yes, "ADecider");
    controller_->registerPlugin(no, "BDecider");

    page().navigate(url("https://example.com/"), wk::NavigationType::FormSubmitted);
    loop().runUntilIdle();
    EXPECT_EQ(pageURL(), fileURL("www/index.html"));
    ASSERT_EQ(yes->asked.size(), 1u);
    EXPECT_EQ(yes->asked[0].second, wk::NavigationType::FormSubmitted);
    EXPECT_EQ(no->asked.size(), 1u);

    controller_->registerPlugin(std::make_shared<Decider>(true), "BDecider");
    page().navigate(url("https://example.com/"));
    loop().runUntilIdle();
    EXPECT_EQ(pageURL(), "https://example.com/");
}

TEST_F(EngineTest, NavigationEventsBecomeResetAndPageLoadedNotifications) {
    NotificationRecorder resets(HYBPluginResetNotification);
    NotificationRecorder loaded(HYBPageDidLoadNotification);
    startWith("");
    ASSERT_EQ(resets.objects.size(), 1u);
    ASSERT_EQ(loaded.objects.size(), 1u);
    EXPECT_EQ(resets.objects[0], webView());
    EXPECT_EQ(loaded.objects[0], webView());
    EXPECT_EQ(echo()->resetCount, 0);  // made after the navigation started

    page().navigate(url(fileURL("www/index.html")));
    loop().runUntilIdle();
    EXPECT_EQ(resets.objects.size(), 2u);
    EXPECT_EQ(loaded.objects.size(), 2u);
    EXPECT_EQ(echo()->resetCount, 1);
}

TEST_F(EngineTest, FailedNavigationShowsTheErrorPageWithTheMessage) {
    writeFile("www/error.html", "<title>Error</title>");
    startWith(R"(<preference name="ErrorUrl" value="error.html"/>)");
    const auto broken = url(fileURL("www/broken.html"));  // no such file

    LogCapture log;
    page().navigate(broken);
    loop().runUntilIdle();
    const auto shown = page().url();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->path(), bundlePath() + "/www/error.html");
    ASSERT_TRUE(shown->query());
    EXPECT_TRUE(shown->query()->starts_with("error=Failed%20to%20load%20webpage%20with%20error:"))
        << *shown->query();
    EXPECT_EQ(log.count("Failed to load webpage with error: "), 1u);
}

TEST_F(EngineTest, ErrorPageThatFailsItselfIsNotLoadedAgain) {
    // The error page's scheme has no handler, so every load of it fails.
    startWith(R"(<preference name="ErrorUrl" value="nohandler://errors/page.html"/>)");
    controller_->registerPlugin(std::make_shared<Decider>(true), "AllowEverything");
    LogCapture log;
    page().navigate(url(fileURL("www/broken.html")));
    loop().runUntilIdle();
    EXPECT_EQ(log.count("Failed to load webpage with error: "), 2u);
    EXPECT_EQ(log.count("failed to load as well"), 1u);
    EXPECT_EQ(pageURL(), fileURL("www/index.html"));

    // A later failure of an ordinary page shows the error page again.
    page().navigate(url(fileURL("www/broken.html")));
    loop().runUntilIdle();
    EXPECT_EQ(log.count("Failed to load webpage with error: "), 4u);
}

TEST_F(EngineTest, ReplacedNavigationShowsNoErrorPage) {
    writeFile("www/error.html", "<title>Error</title>");
    writeFile("www/second.html", "<title>Second</title>");
    startWith(R"(<preference name="ErrorUrl" value="error.html"/>)");
    LogCapture log;
    engine()->loadRequest(wk::URLRequest(url(fileURL("www/index.html"))));
    engine()->loadRequest(wk::URLRequest(url(fileURL("www/second.html"))));
    loop().runUntilIdle();
    EXPECT_EQ(pageURL(), fileURL("www/second.html"));
    EXPECT_FALSE(log.contains("Failed to load webpage"));
}

TEST_F(EngineTest, PageCallsRunAndAnswerThroughTheBridge) {
    startWith("");
    page().clearEvaluatedScripts();
    ASSERT_TRUE(page().postMessageJSON("hybrid", R"(["Echo1","Echo","echo",["hi"]])"));
    loop().runUntilIdle();
    ASSERT_EQ(echoCalls().size(), 1u);
    EXPECT_EQ(page().evaluatedScripts(),
              std::vector<std::string>{
                  "hybrid.require('hybrid/exec').nativeCallback('Echo1',1,\"hi\",0, 0)"});

    // Calls that cannot run are answered where their callback id is known, so that the page
    // does not wait for them; none stops the calls after it.
    page().clearEvaluatedScripts();
    LogCapture log;
    log.expect("ERROR: Page call is not [callbackId, service, action, arguments]; dropped.");
    log.expect("ERROR: Plugin 'NoSuchService' not found, or is not a HYBPlugin.");
    log.expect("ERROR: Method 'noSuchAction:' not defined in Plugin 'Echo'");
    log.expect("ERROR: Page call could not be read: ");
    page().postMessageJSON("hybrid", R"({"not":"an array"})");
    page().postMessageJSON("hybrid", R"(["Echo2"])");
    page().postMessageJSON("other", R"(["Echo3","Echo","echo",[]])");
    page().postMessageJSON("hybrid", R"(["Echo4","NoSuchService","echo",[]])");
    page().postMessageJSON("hybrid", R"(["Echo5","Echo","noSuchAction",[]])");
    page().postMessage("hybrid", ns::Value(ns::Array{"Echo6", "Echo", "echo", ns::Value()}), true,
                       ns::Error("NSCocoaErrorDomain", 3840, {}));
    page().postMessageJSON("hybrid", R"(["Echo7","Echo","echo",["after"]])");
    loop().runUntilIdle();
    EXPECT_EQ(echoCalls().size(), 2u);
    std::string answers;
    for (const auto& script : page().evaluatedScripts()) answers += script;
    size_t at = 0;
    for (const char* answer :
         {"nativeCallback('Echo2',8,null,0, 0)", "nativeCallback('Echo4',2,null,0, 0)",
          "nativeCallback('Echo5',7,null,0, 0)", "nativeCallback('Echo6',8,null,0, 0)",
          "nativeCallback('Echo7',1,\"after\",0, 0)"}) {
        at = answers.find(answer, at);
        EXPECT_NE(at, std::string::npos) << answer << " in order in " << answers;
    }
}

TEST_F(EngineTest, OnlyTheMainFrameAndFramesOfTheAppsOriginCallPlugins) {
    startWith(R"(<preference name="scheme" value="app"/>)");
    echo();
    LogCapture log;
    auto frame = [](const std::string& address) {
        return wk::FrameInfo{false, wk::URLRequest(url(address))};
    };
    const ns::Value call(ns::Array{"Echo1", "Echo", "echo", ns::Array{"x"}});
    ASSERT_TRUE(page().postMessageFromFrame("hybrid", call, frame("http://127.0.0.1:8080/ad")));
    page().postMessageFromFrame("hybrid", call, frame("app://elsewhere/index.html"));
    page().postMessageFromFrame("hybrid", call, frame("https://localhost/index.html"));
    loop().runUntilIdle();
    EXPECT_TRUE(echoCalls().empty());
    EXPECT_TRUE(
        log.contains("Refused a page call from a frame that is not the main frame "
                     "(http://127.0.0.1:8080/ad)."));

    page().postMessageFromFrame("hybrid", call, frame("app://localhost/inner.html"));
    page().postMessage("hybrid", call);
    loop().runUntilIdle();
    EXPECT_EQ(echoCalls().size(), 2u);
}

TEST_F(EngineTest, MessagesFromAnExtraWindowDoNotRunAsPageCalls) {
    startWith(R"(<preference name="AllowNewWindows" value="true"/>)");
    echo();  // made before the window opens
    page().navigate(url(fileURL("www/index.html")), wk::NavigationType::LinkActivated,
                    wk::FakeEngine::Target::NewWindow);
    loop().runUntilIdle();
    auto ui = std::dynamic_pointer_cast<HYBWebViewUIDelegate>(engine()->uiDelegate());
    ASSERT_EQ(ui->windows().size(), 1u);
    auto popup = std::dynamic_pointer_cast<wk::WebView>(ui->windows()[0]->view());
    ASSERT_TRUE(popup);

    LogCapture log;
    // The window shares the content controller, so the page there sees the bridge's handler.
    ASSERT_TRUE(wk::FakeEngine::of(*popup)->postMessageJSON(
        "hybrid", R"(["Echo1","Echo","echo",["from popup"]])"));
    loop().runUntilIdle();
    EXPECT_TRUE(echoCalls().empty());
    EXPECT_TRUE(log.contains("Refused a page call from a web view other than the main one."));
}

TEST_F(EngineTest, CrashedContentProcessIsReloadedABoundedNumberOfTimes) {
    startWith("");
    NotificationRecorder loaded(HYBPageDidLoadNotification);
    LogCapture log;
    for (int i = 0; i < 5; ++i) {
        page().terminateContentProcess();
        loop().runUntilIdle();
    }
    EXPECT_EQ(loaded.objects.size(), HYBWebViewEngine::kMaxCrashReloads);
    EXPECT_EQ(log.count("not reloading"), 2u);

    clock().advance(HYBWebViewEngine::kCrashReloadWindow);
    page().terminateContentProcess();
    loop().runUntilIdle();
    EXPECT_EQ(loaded.objects.size(), HYBWebViewEngine::kMaxCrashReloads + 1);
}

TEST_F(EngineTest, ReturningToTheForegroundReloadsOnlyABlankPage) {
    startWith("");
    NotificationRecorder loaded(HYBPageDidLoadNotification);
    LogCapture log;
    ns::NotificationCenter::defaultCenter().post(ui::kApplicationWillEnterForegroundNotification);
    loop().runUntilIdle();
    EXPECT_TRUE(loaded.objects.empty());

    page().setTitle(std::nullopt);
    ns::NotificationCenter::defaultCenter().post(ui::kApplicationWillEnterForegroundNotification);
    loop().runUntilIdle();
    EXPECT_TRUE(log.contains("HYBWebViewEngine reloading!"));
    EXPECT_EQ(loaded.objects.size(), 1u);

    EXPECT_TRUE(HYBWebViewEngine::shouldReloadWebView(url("about:blank"), "title"));
    EXPECT_FALSE(HYBWebViewEngine::shouldReloadWebView(std::nullopt, "title"));
}

TEST_F(EngineTest, SecondHandlerOfTheSameNameIsSkipped) {
    startWith("");
    auto& contents = *webView()->configuration()->userContentController();
    const auto original = contents.scriptMessageHandler("hybrid");
    auto other = std::make_shared<HYBWebViewWeakScriptMessageHandler>(
        std::weak_ptr<wk::ScriptMessageHandler>());
    HYBWebViewEngineInfo info;
    info.scriptMessageHandlers = {{"hybrid", other}, {"extra", other}};
    LogCapture log;
    engine()->updateWithInfo(info);
    EXPECT_EQ(contents.scriptMessageHandler("hybrid"), original);
    EXPECT_EQ(contents.scriptMessageHandler("extra"), other);
    EXPECT_TRUE(log.contains("\"hybrid\""));
}

TEST_F(EngineTest, BackForwardGesturesFollowThePageAction) {
    startWith(R"(<feature name="WebViewEngine"><param name="ios-package" value="HYBWebViewEngine"/>
                 </feature>)");
    page().postMessageJSON(
        "hybrid", R"(["INVALID","WebViewEngine","allowsBackForwardNavigationGestures",[true]])");
    loop().runUntilIdle();
    EXPECT_TRUE(webView()->allowsBackForwardNavigationGestures());
    page().postMessageJSON(
        "hybrid", R"(["INVALID","WebViewEngine","allowsBackForwardNavigationGestures",["yes"]])");
    loop().runUntilIdle();
    EXPECT_FALSE(webView()->allowsBackForwardNavigationGestures());
}

}  // namespace
