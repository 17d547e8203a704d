#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/AppDelegate.h"
#include "app/CompositionRoot.h"
#include "app/MainViewController.h"
#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBPlugin.h"
#include "bridge/HYBPluginResult.h"
#include "bridge/HYBWebViewEngineProtocol.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/testing/FakeEngine.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/Application.h"
#include "platform/wk/WebView.h"
#include "tests/app/FixtureBundle.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManualRunLoop.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

const fs::path kSourceRoot(HYB_SOURCE_DIR);

// The fixture bundle's "Echo" service: answers each call with its first argument.
class FixtureEcho : public HYBPlugin {
public:
    FixtureEcho() { registerAction("echo", &FixtureEcho::echo); }
    void echo(const HYBInvokedUrlCommand& command) {
        commandDelegate()->sendPluginResult(
            std::make_shared<HYBPluginResult>(HYBResultStatusOK, command.argumentAtIndex(0)),
            command.callbackId());
    }
};

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Each run launches an application of its own: the shared one can launch only once.
class HostSmokeTest : public testsupport::ManualRunLoop {
protected:
    ns::ScopedSharedInstance<ui::Application> application_;
};

// The whole host on the fake engine: the composition root launches the application with the
// fixture bundle, the start page comes through the scheme handler, and a page call is answered.
TEST_F(HostSmokeTest, LaunchesTheBundleAndAnswersAPageCall) {
    testsupport::TempDir sandbox;
    testsupport::TempDir folder;
    const fs::path bundle = apptest::fixtureBundleIn(folder.path());
    testsupport::LogCapture log;
    ASSERT_TRUE(CompositionRoot::prepare({bundle.string(), sandbox.str(), false, std::nullopt}));
    rt::ClassRegistry::shared().registerClass("FixtureEcho", "HYBPlugin",
                                              [] { return std::make_shared<FixtureEcho>(); });
    ASSERT_TRUE(CompositionRoot::launch());
    loop().runUntilIdle();

    auto delegate = std::dynamic_pointer_cast<AppDelegate>(ui::Application::shared().delegate());
    ASSERT_TRUE(delegate);
    auto controller = std::dynamic_pointer_cast<MainViewController>(delegate->viewController());
    ASSERT_TRUE(controller);
    auto webView = controller->webViewEngine()->engineWebView();
    auto page = wk::FakeEngine::of(*webView);
    ASSERT_TRUE(page);

    EXPECT_EQ(page->url()->absoluteString(), "app://localhost/index.html");
    EXPECT_EQ(page->title(), "Fixture");
    EXPECT_EQ(page->injectedUserScripts().front(), "window.HYB_ASSETS_URL = \"app://localhost\";");
    EXPECT_EQ(controller->launchView()->alpha(), 0.0);  // faded out once the page loaded

    auto script = page->fetch(*ns::URL::parse("app://localhost/hybrid.js"));
    loop().runUntilIdle();
    EXPECT_EQ(script->body.chars(), fileText(kSourceRoot / "examples/bundle/www/hybrid.js"));

    page->clearEvaluatedScripts();
    ASSERT_TRUE(page->postMessageJSON("hybrid", R"(["Echo7","Echo","echo",["ping"]])"));
    ASSERT_TRUE(page->postMessageJSON("hybrid", R"(["INVALID","Logger","logLevel",["LOG","hi"]])"));
    loop().runUntilIdle();
    EXPECT_EQ(page->evaluatedScripts(),
              std::vector<std::string>{
                  "hybrid.require('hybrid/exec').nativeCallback('Echo7',1,\"ping\",0, 0)"});
    EXPECT_TRUE(log.contains("hi"));

    ui::Application::shared().terminate();
}

TEST(CompositionRoot, ReadsItsCommandLine) {
    const std::string exe = (kSourceRoot / "tests/fixtures/hybrid-host").string();
    auto options = CompositionRoot::parseArguments(
        {"--bundle", "/b", "--sandbox", "/s", "--exit-after-load", "--system-version", "16.4"},
        exe);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->bundlePath, "/b");
    EXPECT_EQ(options->sandboxPath, "/s");
    EXPECT_TRUE(options->exitAfterLoad);
    EXPECT_EQ(options->systemVersion, "16.4");

    EXPECT_FALSE(CompositionRoot::parseArguments({"--bundle"}, exe));
    EXPECT_FALSE(CompositionRoot::parseArguments({"--system-version"}, exe));
    EXPECT_FALSE(CompositionRoot::parseArguments({"--verbose"}, exe));

    auto sources =
        CompositionRoot::parseArguments({"--microphone", "tone:220", "--camera", "/c.png"}, exe);
    ASSERT_TRUE(sources);
    EXPECT_EQ(sources->microphone, "tone:220");
    EXPECT_EQ(sources->camera, "/c.png");
    EXPECT_FALSE(CompositionRoot::parseArguments({"--camera"}, exe));
}

TEST(CompositionRoot, FindsTheExampleBundleAboveTheExecutable) {
    // An executable somewhere in the source tree, as in build/<kind>/app/hybrid-host.
    const fs::path root = kSourceRoot;
    const auto found =
        CompositionRoot::defaultBundlePath((root / "build/x/app/hybrid-host").string());
    ASSERT_TRUE(found);
    EXPECT_EQ(fs::path(*found), root / "examples" / "bundle");

    testsupport::TempDir elsewhere;
    EXPECT_FALSE(CompositionRoot::defaultBundlePath((elsewhere.path() / "hybrid-host").string()));
    EXPECT_FALSE(CompositionRoot::prepare({elsewhere.str(), std::nullopt, false, std::nullopt}));
}

}  // namespace
