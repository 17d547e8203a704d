#include "bridge/HYBViewController.h"
#include "platform/ui/Label.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "bridge/HYBCommandQueue.h"
#include "bridge/HYBPlugin.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ns/Sandbox.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/ui/Application.h"
#include "platform/ui/ApplicationNotifications.h"
#include "platform/ui/TransitionCoordinator.h"
#include "platform/ui/View.h"
#include "tests/bridge/support/BridgeFixture.h"
#include "tests/support/LogCapture.h"

namespace bridgetest {
namespace {

constexpr const char* kWrapHead =
    "try{hybrid.require('hybrid/exec').nativeEvalAndFetch(function(){";
constexpr const char* kWrapTail = "})}catch(e){console.log('exception nativeEvalAndFetch : '+e);};";

std::string wrapped(const std::string& script) {
    return kWrapHead + script + kWrapTail;
}

class HYBViewControllerTest : public BridgeFixture {
protected:
    void SetUp() override {
        BridgeFixture::SetUp();
        ui::View::clearRecordedAnimations();
    }
    std::string indexURL() const { return "file://" + bundlePath() + "/www/index.html"; }
    std::optional<std::string> pageURL() {
        auto url = engine().URL();
        return url ? std::optional(url->absoluteString()) : std::nullopt;
    }
    std::vector<double> fades() const {
        std::vector<double> durations;
        for (const ui::Animation& a : ui::View::recordedAnimations())
            durations.push_back(a.duration);
        return durations;
    }
    void post(const char* name) { ns::NotificationCenter::defaultCenter().post(name); }
};

TEST_F(HYBViewControllerTest, StartUpLoadsTheStartPageAndShowsTheWebView) {
    testsupport::LogCapture log;
    start();
    EXPECT_TRUE(controller().initialized());
    EXPECT_TRUE(log.contains("Zovozu Hybrid native platform version 6.2.0 is starting."));
    EXPECT_TRUE(log.contains("Multi-tasking -> Device: YES, App: YES"));
    EXPECT_EQ(controller().wwwFolderName(), "www");
    EXPECT_EQ(controller().startPage(), "index.html");
    EXPECT_EQ(pageURL(), indexURL());
    ASSERT_TRUE(controller().webView());
    EXPECT_FALSE(controller().webView()->isHidden());  // the page has loaded
    EXPECT_EQ(controller().webView()->autoresizingMask(), 18u);
    ASSERT_TRUE(controller().launchView());
    EXPECT_EQ(controller().launchView()->alpha(), 0.0);
    EXPECT_EQ(fades(), std::vector<double>{0.25});
    EXPECT_EQ(controller().pluginObjects().count("TestEngine"), 1u);
    EXPECT_EQ(engine().pluginInitializeCount(), 1);
    EXPECT_EQ(controller().settings().at("backupwebstorage"), ns::Value("cloud"));
}

TEST_F(HYBViewControllerTest, PluginsAtStartAndOnFirstUse) {
    writeConfig(defaultConfig(R"(
      <feature name="Early"><param name="ios-package" value="EchoPlugin" onload="true"/></feature>
      <feature name="Again"><param name="ios-package" value="EchoPlugin"/>
        <param name="onload" value="true"/></feature>
      <feature name="Ghost"><param name="ios-package" value="NoSuchClass"/></feature>)"));
    testsupport::LogCapture log;
    start();
    // Two start-up features of one class: one instance, made by the first look-up.
    ASSERT_EQ(controller().pluginObjects().count("EchoPlugin"), 1u);
    auto early = std::dynamic_pointer_cast<EchoPlugin>(controller().getCommandInstance("early"));
    EXPECT_EQ(early, controller().getCommandInstance("AGAIN"));
    EXPECT_EQ(early, controller().getCommandInstance("Echo"));
    EXPECT_EQ(early->initializeCount, 1);
    EXPECT_TRUE(log.contains("[HYBTimer][TotalPluginStartup] "));
    EXPECT_TRUE(log.contains("[HYBTimer][early] "));

    EXPECT_EQ(controller().getCommandInstance("nothing"), nullptr);
    EXPECT_FALSE(log.contains("pluginName: nothing"));
    EXPECT_EQ(controller().getCommandInstance("Ghost"), nullptr);
    EXPECT_TRUE(log.contains("HYBPlugin class NoSuchClass (pluginName: Ghost) does not exist."));
}

TEST_F(HYBViewControllerTest, LazyPluginIsMadeOnTheFirstPageCall) {
    start();
    EXPECT_EQ(controller().pluginObjects().count("EchoPlugin"), 0u);
    postPageCall(ns::Value::array({"c", "Echo", "echo", ns::Value::array({})}));
    EXPECT_EQ(controller().pluginObjects().count("EchoPlugin"), 1u);
    EXPECT_EQ(EchoPlugin::calls(), std::vector<std::string>{"echo:c"});
}

TEST_F(HYBViewControllerTest, PluginFoundUnderTheExecutablePrefix) {
    writeConfig(defaultConfig(
        R"(<feature name="Pre"><param name="ios-package" value="Prefixed"/></feature>)"));
    rt::ClassRegistry::shared().registerClass("App.Prefixed", std::nullopt,
                                              [] { return std::make_shared<EchoPlugin>(); });
    start();
    EXPECT_TRUE(controller().getCommandInstance("pre"));
    EXPECT_EQ(controller().pluginObjects().count("Prefixed"), 1u);
}

TEST_F(HYBViewControllerTest, RegisterPluginWithPluginName) {
    start();
    auto plugin = std::make_shared<EchoPlugin>();
    plugin->initWithWebViewEngine(controller().webViewEngine());
    controller().registerPluginWithPluginName(plugin, "Manual");
    EXPECT_EQ(controller().pluginsMap().at("manual"), "bridgetest::EchoPlugin");
    EXPECT_EQ(controller().getCommandInstance("MANUAL"), plugin);
    EXPECT_EQ(plugin->initializeCount, 1);
}

TEST_F(HYBViewControllerTest, StartPageKeepsQueryAndFragment) {
    writeConfig(defaultConfig(R"(<content src="index.html?x=1#top"/>)"));
    start();
    EXPECT_EQ(controller().appUrl()->absoluteString(), indexURL() + "?x=1#top");
}

TEST_F(HYBViewControllerTest, StartPageAsURLOrInASubfolder) {
    writeBundleFile("www/sub/page.html", "<html></html>");
    writeConfig(defaultConfig(R"(<content src="sub/page.html"/>)"));
    start();
    EXPECT_EQ(pageURL(), "file://" + bundlePath() + "/www/sub/page.html");
    controller().setStartPage("https://example.com/app");
    EXPECT_EQ(controller().appUrl()->absoluteString(), "https://example.com/app");
    controller().setStartPage("index.html");
    controller().setWwwFolderName("https://example.com/www");
    EXPECT_EQ(controller().appUrl()->absoluteString(), "https://example.com/www/index.html");
}

// The launch cover shows the bundle's launch storyboard, and the bundle's "BackgroundColor"
// colours the cover and the web view.
TEST_F(HYBViewControllerTest, LaunchStoryboardAndBackgroundColourComeFromTheBundle) {
    writeInfo(ns::Dictionary{{"UILaunchStoryboardName", ns::Value("Launch")}});
    writeBundleFile("Launch.interface.json",
                    R"({"objects": [{"class": "Label", "id": "title", "text": "Starting"}]})");
    writeBundleFile("BackgroundColor.color.json", R"({"red": 0, "green": 0.5, "blue": 1})");
    start();
    const auto& cover = controller().launchView();
    ASSERT_TRUE(cover);
    ASSERT_EQ(cover->subviews().size(), 1u);
    const auto& board = cover->subviews()[0]->subviews();
    ASSERT_EQ(board.size(), 1u);
    auto label = std::dynamic_pointer_cast<ui::Label>(board[0]);
    ASSERT_TRUE(label);
    EXPECT_EQ(label->text(), "Starting");
    EXPECT_EQ(cover->backgroundColor(), ui::Color(0, 0.5, 1, 1));
    EXPECT_EQ(controller().webView()->backgroundColor(), ui::Color(0, 0.5, 1, 1));
}

TEST_F(HYBViewControllerTest, MissingStartPageWithoutErrorPage) {
    writeConfig(defaultConfig(R"(<content src="missing.html"/>)"));
    testsupport::LogCapture log;
    log.expect("ERROR: Start Page at 'www/missing.html' was not found.");
    start();
    EXPECT_TRUE(log.contains("ERROR: Start Page at 'www/missing.html' was not found."));
    EXPECT_EQ(engine().loadedHTML(),
              std::vector<std::string>{
                  "<html><body> ERROR: Start Page at 'www/missing.html' was not found. "
                  "</body></html>"});
}

TEST_F(HYBViewControllerTest, MissingStartPageIsShownAsTextNotMarkup) {
    writeConfig(defaultConfig(R"(<content src="&lt;script&gt;x&lt;/script&gt;.html"/>)"));
    testsupport::LogCapture log;
    log.expect("ERROR: Start Page at 'www/<script>x</script>.html' was not found.");
    start();
    ASSERT_EQ(engine().loadedHTML().size(), 1u);
    EXPECT_EQ(engine().loadedHTML()[0].find("<script>"), std::string::npos);
    EXPECT_NE(engine().loadedHTML()[0].find("&lt;script&gt;"), std::string::npos);
}

TEST_F(HYBViewControllerTest, MissingStartPageWithErrorPage) {
    writeBundleFile("www/error.html", "<html></html>");
    writeConfig(defaultConfig(
        R"(<content src="missing.html"/><preference name="ErrorUrl" value="error.html"/>)"));
    testsupport::LogCapture log;
    log.expect("ERROR: Start Page at 'www/missing.html' was not found.");
    log.expect("/www/error.html?error=ERROR:%20Start%20Page");
    start();
    EXPECT_EQ(pageURL(), "file://" + bundlePath() +
                             "/www/error.html?error=ERROR:%20Start%20Page%20at%20'www/"
                             "missing.html'%20was%20not%20found.");
}

TEST_F(HYBViewControllerTest, EngineFallsBackToTheDefaultClass) {
    writeConfig(R"(<widget>
        <preference name="HybridWebViewEngine" value="RefusingEngine"/>
        <preference name="HybridDefaultWebViewEngine" value="TestEngine"/></widget>)");
    start();
    EXPECT_TRUE(engine().canLoadRequest(wk::URLRequest(*ns::URL::parse("file:///x"))));
    // Registered under the name that was asked for.
    EXPECT_EQ(controller().pluginObjects().count("RefusingEngine"), 1u);
    EXPECT_EQ(pageURL(), indexURL());
}

TEST_F(HYBViewControllerTest, WithoutAnyEngineClass) {
    // Asks for the default engine class, which nothing registered.
    writeConfig("<widget/>");
    testsupport::LogCapture log;
    log.expect("ERROR: Web view engine class HYBWebViewEngine does not exist.");
    start();
    EXPECT_EQ(controller().webView(), nullptr);
    EXPECT_TRUE(log.contains("ERROR: Web view engine class HYBWebViewEngine does not exist."));
    post(ui::kApplicationDidBecomeActiveNotification);
    loop().runUntilIdle();
}

TEST_F(HYBViewControllerTest, MissingOrMalformedConfigFile) {
    testsupport::LogCapture expected;
    expected.expect("junk after document element (ignored: the document element was read in full)");
    expected.expect("ERROR: Web view engine class HYBWebViewEngine does not exist.");
    writeConfig(defaultConfig() + "<unclosed");
    start();
    EXPECT_EQ(controller().pluginsMap().at("echo"), "EchoPlugin");
    controller_.reset();
    std::filesystem::remove(bundlePath() + "/config.xml");
    testsupport::LogCapture log;
    controller_ = HYBViewController::create();
    controller_->loadViewIfNeeded();
    EXPECT_TRUE(log.contains("Failed to initialize XML parser."));
    EXPECT_TRUE(controller().pluginsMap().empty());
    EXPECT_EQ(controller().startPage(), "index.html");
}

TEST_F(HYBViewControllerTest, FadeDurations) {
    struct Case {
        const char* value;
        double seconds;
    };
    for (const Case& c :
         {Case{"100", 0.25}, Case{"1000", 1.0}, Case{"nan", 0.25}, Case{"inf", 0.25},
          Case{"1e30", 0.25}, Case{"-5", 0.25}, Case{"abc", 0.25}}) {
        writeConfig(
            defaultConfig(std::string(R"(<preference name="FadeSplashScreenDuration" value=")") +
                          c.value + R"("/>)"));
        start();
        EXPECT_EQ(controller().launchScreenFadeDuration(), c.seconds) << c.value;
        controller_.reset();
    }
}

TEST_F(HYBViewControllerTest, SplashScreenDelay) {
    writeConfig(defaultConfig(R"(<preference name="SplashScreenDelay" value="3000"/>)"));
    start();
    EXPECT_TRUE(fades().empty());
    loop().advanceBy(dispatch::seconds(2.9));
    EXPECT_TRUE(fades().empty());
    loop().advanceBy(dispatch::seconds(0.1));
    EXPECT_EQ(fades(), std::vector<double>{0.25});
}

TEST_F(HYBViewControllerTest, HugeOrBrokenSplashDelayHidesAtOnce) {
    for (const char* value : {"1e300", "inf", "nan", "-1"}) {
        ui::View::clearRecordedAnimations();
        writeConfig(defaultConfig(std::string(R"(<preference name="SplashScreenDelay" value=")") +
                                  value + R"("/>)"));
        start();
        EXPECT_EQ(fades(), std::vector<double>{0.25}) << value;
        controller_.reset();
    }
}

TEST_F(HYBViewControllerTest, AutoHideOff) {
    writeConfig(defaultConfig(R"(<preference name="AutoHideSplashScreen" value="false"/>)"));
    start();
    loop().advanceBy(dispatch::seconds(10));
    EXPECT_TRUE(fades().empty());
    controller().showLaunchScreen(true);
    EXPECT_EQ(controller().launchView()->alpha(), 1.0);
}

TEST_F(HYBViewControllerTest, LifeCycleEventsReachThePage) {
    start();
    engine().fake().clearEvaluatedScripts();
    post(ui::kApplicationDidEnterBackgroundNotification);
    post(ui::kApplicationWillResignActiveNotification);
    // Not scheduled: evaluated at once.
    EXPECT_EQ(scripts(),
              (std::vector<std::string>{wrapped("hybrid.fireDocumentEvent('pause', null, true);"),
                                        wrapped("hybrid.fireDocumentEvent('resign');")}));
    post(ui::kApplicationWillEnterForegroundNotification);
    post(ui::kApplicationDidBecomeActiveNotification);
    EXPECT_EQ(scripts().size(), 2u);  // scheduled on the run loop
    loop().runUntilIdle();
    EXPECT_EQ(scripts(),
              (std::vector<std::string>{wrapped("hybrid.fireDocumentEvent('pause', null, true);"),
                                        wrapped("hybrid.fireDocumentEvent('resign');"),
                                        wrapped("hybrid.fireDocumentEvent('resume');"),
                                        wrapped("hybrid.fireDocumentEvent('active');")}));
}

// While a page loads, its bridge script is not there yet: life-cycle events wait for no one and
// are not evaluated (they would only fail in the page); the loaded page gets them again.
TEST_F(HYBViewControllerTest, LifeCycleEventsSkipAPageThatIsStillLoading) {
    start();
    const auto token = ns::NotificationCenter::defaultCenter().addObserver(
        HYBPluginResetNotification, nullptr,
        [this](const ns::Notification&) { post(ui::kApplicationDidBecomeActiveNotification); });
    engine().loadRequest(wk::URLRequest(*ns::URL::parse(indexURL())));
    engine().fake().clearEvaluatedScripts();
    loop().runUntilIdle();
    ns::NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_TRUE(scripts().empty());
    post(ui::kApplicationDidBecomeActiveNotification);
    loop().runUntilIdle();
    EXPECT_EQ(scripts(), std::vector<std::string>{wrapped("hybrid.fireDocumentEvent('active');")});
}

TEST_F(HYBViewControllerTest, ApplicationEventsThroughTheApplication) {
    start();
    ui::Application app;
    ui::ApplicationNotifications::install(app);
    engine().fake().clearEvaluatedScripts();
    app.launch();
    app.becomeActive();
    app.enterBackground();
    loop().runUntilIdle();
    EXPECT_EQ(scripts(),
              (std::vector<std::string>{wrapped("hybrid.fireDocumentEvent('resign');"),
                                        wrapped("hybrid.fireDocumentEvent('pause', null, true);"),
                                        wrapped("hybrid.fireDocumentEvent('active');")}));
}

TEST_F(HYBViewControllerTest, EmptiedWebViewReloadsBeforeTheEvent) {
    start();
    EXPECT_FALSE(controller().checkAndReinitViewUrl());
    engine().loadHTMLString("", ns::URL::parse("about:blank"));
    loop().runUntilIdle();
    EXPECT_EQ(pageURL(), "about:blank");
    post(ui::kApplicationWillResignActiveNotification);
    loop().runUntilIdle();
    EXPECT_EQ(pageURL(), indexURL());
    EXPECT_TRUE(HYBViewController::isUrlEmpty(std::nullopt));
    EXPECT_TRUE(HYBViewController::isUrlEmpty(ns::URL::parse("about:blank")));
    EXPECT_FALSE(HYBViewController::isUrlEmpty(ns::URL::parse("about:srcdoc")));
}

TEST_F(HYBViewControllerTest, TerminationEmptiesOnlyTheOwnTemporaryFolder) {
    start();
    namespace fs = std::filesystem;
    const fs::path tmp = ns::Sandbox::temporaryDirectory();
    const fs::path outside = dir_ / "outside";
    fs::create_directories(outside / "keep");
    std::ofstream(outside / "keep" / "file.txt") << "precious";
    std::ofstream(tmp / "a.txt") << "a";
    fs::create_directories(tmp / "dir" / "sub");
    std::ofstream(tmp / "dir" / "sub" / "b.txt") << "b";
    fs::create_directory_symlink(outside / "keep", tmp / "link");
    post(ui::kApplicationWillTerminateNotification);
    EXPECT_TRUE(fs::is_empty(tmp));
    EXPECT_TRUE(fs::exists(outside / "keep" / "file.txt"));
}

TEST_F(HYBViewControllerTest, ViewEventsArePostedAsNotifications) {
    start();
    std::vector<std::string> seen;
    auto& center = ns::NotificationCenter::defaultCenter();
    auto token = center.addObserver("", nullptr, [&seen](const ns::Notification& n) {
        if (n.name.rfind("HYBView", 0) == 0) seen.push_back(n.name);
    });
    controller().viewWillAppear(true);
    controller().viewDidAppear(true);
    controller().viewWillDisappear(false);
    controller().viewDidDisappear(false);
    controller().viewWillLayoutSubviews();
    controller().viewDidLayoutSubviews();
    ui::TransitionCoordinator coordinator({320, 480});
    controller().viewWillTransitionToSize({320, 480}, coordinator);
    center.removeObserver(token);
    EXPECT_EQ(seen, (std::vector<std::string>{
                        HYBViewWillAppearNotification, HYBViewDidAppearNotification,
                        HYBViewWillDisappearNotification, HYBViewDidDisappearNotification,
                        HYBViewWillLayoutSubviewsNotification, HYBViewDidLayoutSubviewsNotification,
                        HYBViewWillTransitionToSizeNotification}));
}

TEST_F(HYBViewControllerTest, MemoryWarningWithAPendingOperation) {
    start();
    auto plugin = controller().getCommandInstance("Echo");
    testsupport::LogCapture log;
    controller().didReceiveMemoryWarning();
    EXPECT_TRUE(log.texts().empty());
    plugin->setHasPendingOperation(true);
    controller().didReceiveMemoryWarning();
    EXPECT_EQ(log.texts(),
              std::vector<std::string>{"Plugin 'EchoPlugin' has a pending operation, memory purge "
                                       "is delayed for didReceiveMemoryWarning."});
}

TEST_F(HYBViewControllerTest, Orientations) {
    start();
    EXPECT_EQ(controller().supportedInterfaceOrientations(), 2u);  // no list: portrait only
    EXPECT_TRUE(controller().shouldAutorotate());
    const auto parsed = HYBViewController::parseInterfaceOrientations(ns::Value::array(
        {"UIInterfaceOrientationLandscapeLeft", "bogus", 3, "UIInterfaceOrientationPortrait",
         "UIInterfaceOrientationLandscapeRight", "UIInterfaceOrientationPortraitUpsideDown"}));
    EXPECT_EQ(parsed, (std::vector<int>{4, 1, 3, 2}));
    controller().setSupportedOrientations(parsed);
    EXPECT_EQ(controller().supportedInterfaceOrientations(), 30u);
    EXPECT_TRUE(controller().supportsOrientation(3));
    controller_.reset();
    writeInfo({{"UISupportedInterfaceOrientations",
                ns::Value::array({"UIInterfaceOrientationLandscapeRight"})},
               {"UIApplicationExitsOnSuspend", true}});
    testsupport::LogCapture log;
    start();
    EXPECT_EQ(controller().supportedInterfaceOrientations(), 8u);
    EXPECT_TRUE(log.contains("Multi-tasking -> Device: YES, App: NO"));
}

TEST_F(HYBViewControllerTest, ColourStrings) {
    auto colour = HYBViewController::colorFromColorString("#abc");
    ASSERT_TRUE(colour);
    EXPECT_EQ(*colour, ui::Color(0xAA / 255.0, 0xBB / 255.0, 0xCC / 255.0, 1));
    EXPECT_EQ(HYBViewController::colorFromColorString("0x80FF0000"),
              ui::Color(1, 0, 0, 128 / 255.0));
    EXPECT_EQ(HYBViewController::colorFromColorString("#00ff00"), ui::Color(0, 1, 0, 1));
    for (const char* bad : {"abc", "#abcd", "0xABC", "#ggg", "", "#12345", "0x1234567890"}) {
        EXPECT_FALSE(HYBViewController::colorFromColorString(std::string(bad))) << bad;
    }
    EXPECT_FALSE(HYBViewController::colorFromColorString(std::nullopt));
}

TEST_F(HYBViewControllerTest, AppURLScheme) {
    EXPECT_FALSE(HYBViewController::appURLScheme());
    writeInfo({{"CFBundleURLTypes",
                ns::Value::array({ns::Value::dict(
                    {{"CFBundleURLSchemes", ns::Value::array({"myapp", "other"})}})})}});
    EXPECT_EQ(HYBViewController::appURLScheme(), "myapp");
}

TEST_F(HYBViewControllerTest, TeardownDisposesPluginsAndBlanksThePage) {
    start();
    auto plugin = controller().getCommandInstance("Echo");
    auto engineRef = controller().webViewEngine();
    auto web = controller().webView();
    std::weak_ptr<HYBViewController> weak = controller_;
    controller_.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(plugin->viewController(), nullptr);
    EXPECT_EQ(plugin->commandDelegate(), nullptr);
    EXPECT_EQ(web->superview(), nullptr);
    auto* test = dynamic_cast<TestEngine*>(engineRef.get());
    ASSERT_TRUE(test);
    EXPECT_EQ(test->loadedHTML().back(), "about:blank");
    // Life-cycle notifications after teardown reach nothing.
    post(ui::kApplicationDidBecomeActiveNotification);
    loop().runUntilIdle();
}

}  // namespace
}  // namespace bridgetest
