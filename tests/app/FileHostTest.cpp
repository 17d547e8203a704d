#include <gtest/gtest.h>

#include <filesystem>

#include "app/AppDelegate.h"
#include "app/CompositionRoot.h"
#include "app/MainViewController.h"
#include "bridge/HYBWebViewEngineProtocol.h"
#include "platform/ns/Sandbox.h"
#include "platform/testing/FakeEngine.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/Application.h"
#include "platform/wk/WebView.h"
#include "tests/app/FixtureBundle.h"
#include "tests/support/ManualRunLoop.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

// Each run launches an application of its own: the shared one can launch only once.
class FileHostTest : public testsupport::ManualRunLoop {
protected:
    ns::ScopedSharedInstance<ui::Application> application_;
};

// The host makes the file service that config.xml names "File", and the page's calls reach it.
TEST_F(FileHostTest, PageWritesAndReadsAFileThroughTheHost) {
    testsupport::TempDir sandbox;
    testsupport::TempDir folder;
    const fs::path bundle = apptest::fixtureBundleIn(folder.path());
    ASSERT_TRUE(CompositionRoot::prepare({bundle.string(), sandbox.str(), false, std::nullopt}));
    ASSERT_TRUE(CompositionRoot::launch());
    loop().runUntilIdle();
    auto delegate = std::dynamic_pointer_cast<AppDelegate>(ui::Application::shared().delegate());
    ASSERT_TRUE(delegate);
    auto page = wk::FakeEngine::of(*delegate->viewController()->webViewEngine()->engineWebView());
    ASSERT_TRUE(page);

    page->clearEvaluatedScripts();
    ASSERT_TRUE(page->postMessageJSON(
        "hybrid",
        R"(["File1","File","write",["hybfile://localhost/persistent/note.txt","hi!",0]])"));
    loop().runUntilIdle();
    ASSERT_TRUE(page->postMessageJSON(
        "hybrid",
        R"(["File2","File","readAsText",["hybfile://localhost/persistent/note.txt","UTF-8",0,-1]])"));
    loop().runUntilIdle();
    EXPECT_EQ(page->evaluatedScripts(),
              (std::vector<std::string>{
                  "hybrid.require('hybrid/exec').nativeCallback('File1',1,3,0, 0)",
                  "hybrid.require('hybrid/exec').nativeCallback('File2',1,\"hi!\",0, 0)"}));
    EXPECT_TRUE(fs::exists(ns::Sandbox::documentsDirectory() + "/note.txt"));

    // The example page's file demonstration, step by step: every step succeeds.
    const std::vector<std::string> steps = {
        R"(["getFile",["hybfile://localhost/temporary/","demo.txt",{"create":true}]])",
        R"(["write",["hybfile://localhost/temporary/demo.txt","Written",0]])",
        R"(["readAsText",["hybfile://localhost/temporary/demo.txt","UTF-8",0,-1]])",
        R"(["getDirectory",["hybfile://localhost/temporary/","copies",{"create":true}]])",
        R"(["copyTo",["hybfile://localhost/temporary/demo.txt",)"
        R"("hybfile://localhost/temporary/copies","copy.txt"]])",
        R"(["moveTo",["hybfile://localhost/temporary/demo.txt",)"
        R"("hybfile://localhost/temporary/copies","moved.txt"]])",
        R"(["readEntries",["hybfile://localhost/temporary/copies"]])",
        R"(["removeRecursively",["hybfile://localhost/temporary/copies"]])",
    };
    for (size_t i = 0; i < steps.size(); ++i) {
        page->clearEvaluatedScripts();
        const std::string id = "Demo" + std::to_string(i);
        ASSERT_TRUE(
            page->postMessageJSON("hybrid", "[\"" + id + "\",\"File\"," + steps[i].substr(1)));
        loop().runUntilIdle();
        ASSERT_EQ(page->evaluatedScripts().size(), 1u) << steps[i];
        EXPECT_EQ(page->evaluatedScripts()[0].rfind(
                      "hybrid.require('hybrid/exec').nativeCallback('" + id + "',1,", 0),
                  0u)
            << page->evaluatedScripts()[0];
    }
    EXPECT_FALSE(fs::exists(ns::Sandbox::temporaryDirectory() + "copies"));

    ui::Application::shared().terminate();
}

}  // namespace
