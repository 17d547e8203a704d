#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "app/AppDelegate.h"
#include "app/CompositionRoot.h"
#include "app/HostArguments.h"
#include "app/MainViewController.h"
#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBPlugin.h"
#include "bridge/HYBPluginResult.h"
#include "bridge/HYBWebViewEngineProtocol.h"
#include "platform/av/Camera.h"
#include "platform/av/PhotoAsset.h"
#include "platform/av/PhotoLibrary.h"
#include "platform/ns/AtomicFile.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/StringComponents.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/testing/FakeEngine.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/Application.h"
#include "platform/ui/ImageCodec.h"
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

// What tools/dev run gives the host: the example's photos, added at every start but kept once,
// and a camera that shows what the page writes to its temporary folder, else the file given.
TEST_F(HostSmokeTest, AddsCommandLinePhotosOnceAndWatchesThePagesFolder) {
    testsupport::TempDir sandbox;
    testsupport::TempDir folder;
    const fs::path bundle = apptest::fixtureBundleIn(folder.path());
    const std::string photo = (folder.path() / "Meadow.jpg").string();
    const std::string still = (folder.path() / "still.png").string();
    ASSERT_TRUE(ns::writeFileAtomically(
                    photo, *ui::ImageCodec::encodeJPEG(*ui::Bitmap::create(40, 30), 0.9))
                    .ok());
    ASSERT_TRUE(
        ns::writeFileAtomically(still, *ui::ImageCodec::encodePNG(*ui::Bitmap::create(8, 8))).ok());
    testsupport::LogCapture log;
    auto options = HostArguments::parse({"--bundle", bundle.string(), "--sandbox", sandbox.str(),
                                         "--add-photo", photo, "--camera", "page:" + still},
                                        (kSourceRoot / "tests/fixtures/hybrid-host").string());
    ASSERT_TRUE(options) << options.error().localizedDescription();
    for (int start = 0; start < 2; ++start) ASSERT_TRUE(CompositionRoot::prepare(*options));
    auto photos = av::PhotoLibrary::shared().assetsInAlbum("");
    ASSERT_TRUE(photos.ok());
    ASSERT_EQ(photos.value().size(), 1u);
    EXPECT_EQ(fileText(photos.value()[0]->path()), fileText(photo));

    auto camera = av::Camera::shared();
    ASSERT_TRUE(camera);
    EXPECT_EQ(camera->stillImagePath(), still);
    const std::string code = ns::Sandbox::temporaryDirectory() + "code.png";
    fs::create_directories(ns::Sandbox::temporaryDirectory());
    fs::copy_file(still, code);
    EXPECT_EQ(camera->stillImagePath(), code);
    av::Camera::setShared(nullptr);
}

TEST(CompositionRoot, ReadsItsCommandLine) {
    const std::string exe = (kSourceRoot / "tests/fixtures/hybrid-host").string();
    const std::string bundle = (kSourceRoot / "tests/fixtures/bundle").string();
    testsupport::TempDir dir;
    const std::string picture = (dir / "c.png").string();
    std::ofstream(picture) << "not looked into until the camera is used";
    auto options = HostArguments::parse(
        {"--bundle", bundle, "--sandbox", "/s", "--exit-after-load", "--system-version", "16.4"},
        exe);
    ASSERT_TRUE(options) << options.error().localizedDescription();
    EXPECT_EQ(options->bundlePath, bundle);
    EXPECT_EQ(options->sandboxPath, "/s");
    EXPECT_TRUE(options->exitAfterLoad);
    EXPECT_EQ(options->systemVersion, "16.4");
    EXPECT_FALSE(options->help);

    auto sources = HostArguments::parse(
        {"--microphone", "tone:220", "--camera", picture, "--system-version", "17"}, exe);
    ASSERT_TRUE(sources) << sources.error().localizedDescription();
    EXPECT_EQ(sources->microphone, "tone:220");
    EXPECT_EQ(sources->camera, picture);

    auto folder = HostArguments::parse({"--camera", dir.str()}, exe);
    ASSERT_TRUE(folder) << folder.error().localizedDescription();
    EXPECT_EQ(folder->camera, dir.str());

    // Help wins over everything else, mistakes included.
    auto help = HostArguments::parse({"--verbose", "--help"}, exe);
    ASSERT_TRUE(help);
    EXPECT_TRUE(help->help);
}

// Each mistake is found before anything starts, and its message is one line naming it.
TEST(CompositionRoot, CommandLineMistakesAreOneLineNamingTheArgument) {
    const std::string exe = (kSourceRoot / "tests/fixtures/hybrid-host").string();
    testsupport::TempDir dir;
    const std::string file = (dir / "file").string();
    std::ofstream(file) << "x";
    // A picture followed by 65 MiB of nothing (sparse): not read whole to find it is one.
    const std::string huge = (dir / "huge.jpg").string();
    ASSERT_TRUE(
        ns::writeFileAtomically(huge, *ui::ImageCodec::encodeJPEG(*ui::Bitmap::create(4, 4), 0.9))
            .ok());
    fs::resize_file(huge, 65u << 20);
    const std::vector<std::pair<std::vector<std::string>, std::string>> mistakes = {
        {{"--bundle"}, "--bundle"},
        {{"--system-version"}, "--system-version"},
        {{"--camera"}, "--camera"},
        {{"--verbose"}, "--verbose"},
        {{"--system-version", "banana"}, "banana"},
        {{"--system-version", "17."}, "17."},
        {{"--system-version", "1.2.3.4"}, "1.2.3.4"},
        {{"--bundle", dir.str()}, dir.str()},
        {{"--sandbox", file}, file},
        {{"--camera", (dir / "missing.png").string()}, "missing.png"},
        {{"--microphone", "tone:"}, "tone:"},
        {{"--microphone", "tone:-5"}, "tone:-5"},
        {{"--microphone", "wav:" + (dir / "none.wav").string()}, "none.wav"},
        {{"--microphone", "hum"}, "hum"},
        {{"--camera", "page:" + (dir / "none.mp4").string()}, "none.mp4"},
        {{"--add-photo", file}, file},
        {{"--add-photo", (dir / "missing.jpg").string()}, "missing.jpg"},
        {{"--add-photo", huge}, "huge.jpg"},
    };
    for (const auto& [arguments, named] : mistakes) {
        auto result = HostArguments::parse(arguments, exe);
        ASSERT_FALSE(result) << named;
        const std::string text = result.error().localizedDescription();
        EXPECT_NE(text.find(named), std::string::npos) << text;
        EXPECT_EQ(text.find('\n'), std::string::npos) << text;
    }
    // The help names every option, one line each.
    const std::string help = HostArguments::helpText();
    for (const char* option : {"--bundle", "--sandbox", "--system-version", "--exit-after-load",
                               "--microphone", "--camera", "--add-photo", "--help"})
        EXPECT_NE(help.find("\n  " + std::string(option) + " "), std::string::npos) << option;
}

// The usage and the help show each option in the same form, and every value that form names is
// one the host takes: a placeholder stands for a value of its kind, other words for themselves.
TEST(CompositionRoot, UsageAndHelpShowTheFormsTheHostTakes) {
    const std::string exe = (kSourceRoot / "tests/fixtures/hybrid-host").string();
    testsupport::TempDir dir;
    const std::string picture = (dir / "picture.jpg").string();
    ASSERT_TRUE(ns::writeFileAtomically(picture,
                                        *ui::ImageCodec::encodeJPEG(*ui::Bitmap::create(4, 4), 0.9))
                    .ok());
    const std::string payload = (dir / "push.json").string();
    std::ofstream(payload) << R"({"aps":{"alert":"Hi"},"msg.message_id":"1"})";
    const std::map<std::string, std::string> placeholders = {
        {"DIR", (kSourceRoot / "tests/fixtures/bundle").string()},
        {"FILE", picture},
        {"FILE.json", payload},
        {"X.Y", "17.0"},
        {"HZ", "440"},
        {"DEVICE", "default"},
        {"PRODUCT_ID", "org.example.coins"},
        {"/dev/videoN", "/dev/video0"},
    };
    const std::string usage = HostArguments::usage();
    std::istringstream help(HostArguments::helpText());
    std::string line;
    ASSERT_TRUE(std::getline(help, line));
    EXPECT_EQ(line, usage);
    size_t options = 0;
    while (std::getline(help, line)) {
        if (!line.starts_with("  ")) continue;
        const std::string form = line.substr(2, line.find("  ", 2) - 2);
        SCOPED_TRACE(form);
        ++options;
        EXPECT_NE(usage.find("[" + form + "]"), std::string::npos) << usage;
        const size_t space = form.find(' ');
        const std::string name = form.substr(0, space);
        if (space == std::string::npos) {
            EXPECT_TRUE(HostArguments::parse({name}, exe));
            continue;
        }
        const std::string values = form.substr(space + 1);
        for (std::string_view alternative : ns::componentsSeparatedByCharacter(values, '|')) {
            const size_t colon = alternative.rfind(':');
            const std::string prefix(colon == std::string_view::npos
                                         ? std::string_view()
                                         : alternative.substr(0, colon + 1));
            const std::string word(alternative.substr(prefix.size()));
            const auto found = placeholders.find(word);
            const std::string value = prefix + (found == placeholders.end() ? word : found->second);
            if (value.starts_with("/dev/video") && !fs::exists(value)) continue;
            const auto parsed = HostArguments::parse({name, value}, exe);
            EXPECT_TRUE(parsed) << value << ": " << parsed.error().localizedDescription();
        }
    }
    EXPECT_GE(options, 15u);
}

TEST(CompositionRoot, FindsTheExampleBundleAboveTheExecutable) {
    // An executable somewhere in the source tree, as in build/<kind>/app/hybrid-host.
    const fs::path root = kSourceRoot;
    const auto found =
        HostArguments::defaultBundlePath((root / "build/x/app/hybrid-host").string());
    ASSERT_TRUE(found);
    EXPECT_EQ(fs::path(*found), root / "examples" / "bundle");

    testsupport::TempDir elsewhere;
    EXPECT_FALSE(HostArguments::defaultBundlePath((elsewhere.path() / "hybrid-host").string()));
    EXPECT_FALSE(CompositionRoot::prepare({elsewhere.str(), std::nullopt, false, std::nullopt}));
}

}  // namespace
