#include "tests/bridge/HostFixture.h"

#include <filesystem>
#include <fstream>

#include "bridge/HYBHostClasses.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/Sandbox.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/ui/Window.h"

namespace hosttest {

namespace {

std::shared_ptr<ui::Window>& window() {
    static std::shared_ptr<ui::Window> w;
    return w;
}

}  // namespace

void HostFixture::SetUp() {
    ManualRunLoop::SetUp();
    ns::Bundle::setMainBundlePath(bundle_.str());
    ASSERT_TRUE(ns::Sandbox::configure(sandbox_.str()));
    auto& registry = rt::ClassRegistry::shared();
    HYBHostClasses::registerClasses(registry);
    registry.registerClass(bridgetest::EchoPlugin::kClassName, "HYBPlugin",
                           [] { return std::make_shared<bridgetest::EchoPlugin>(); });
    bridgetest::EchoPlugin::calls().clear();
    writeConfig("");
    writeInfoPlist("<key>CFBundleDisplayName</key><string>Test App</string>");
    writeFile("www/index.html", "<html><head><title>Start</title></head><body>start</body></html>");
}

void HostFixture::TearDown() {
    if (window()) {
        window()->setHidden(true);
        window().reset();
    }
    controller_.reset();
    loop().runUntilIdle();
    ManualRunLoop::TearDown();
}

void HostFixture::writeConfig(const std::string& elements) {
    writeFile(
        "config.xml",
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<widget id=\"test\" version=\"1\">\n"
        "<feature name=\"Echo\"><param name=\"ios-package\" value=\"EchoPlugin\"/></feature>\n" +
            elements + "\n</widget>\n");
}

void HostFixture::writeFile(const std::string& relativePath, const std::string& content) {
    const auto path = bundle_.path() / relativePath;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

void HostFixture::writeInfoPlist(const std::string& dictEntries) {
    writeFile("Info.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" +
                  dictEntries + "</dict></plist>\n");
    // The bundle caches its Info dictionary: a fresh one reads the new file.
    ns::Bundle::setMainBundlePath(bundle_.str());
}

std::shared_ptr<HYBViewController> HostFixture::start() {
    controller_ = HYBViewController::create();
    window() = ui::Window::create();
    window()->setRootViewController(controller_);
    window()->makeKeyAndVisible();
    loop().runUntilIdle();
    return controller_;
}

std::shared_ptr<HYBWebViewEngine> HostFixture::engine() const {
    return std::dynamic_pointer_cast<HYBWebViewEngine>(controller_->webViewEngine());
}

std::shared_ptr<wk::WebView> HostFixture::webView() const {
    return engine()->engineWebView();
}

wk::FakeEngine& HostFixture::page() const {
    return *wk::FakeEngine::of(*webView());
}

std::shared_ptr<bridgetest::EchoPlugin> HostFixture::echo() const {
    return std::dynamic_pointer_cast<bridgetest::EchoPlugin>(
        controller_->getCommandInstance("Echo"));
}

}  // namespace hosttest
