#include "tests/plugins/media_browser/support/MediaFixture.h"

#include <filesystem>
#include <fstream>

#include "platform/ns/Bundle.h"
#include "platform/ns/Sandbox.h"
#include "platform/ui/Screen.h"
#include "plugins/device_storage/HYBFile.h"
#include "tests/support/LogCapture.h"

namespace mediatest {

void MediaFixture::SetUp() {
    ManualRunLoop::SetUp();
    ASSERT_TRUE(ns::Sandbox::configure((dir_ / "sandbox").string()).ok());
    std::filesystem::create_directories(dir_ / "App" / "www");
    ns::Bundle::setMainBundlePath((dir_ / "App").string());
    ui::Screen::main().setScale(3.0);
    {
        // The screens under test need a host controller on show, not a page: it has neither a
        // web view engine nor a start page, and says so.
        testsupport::LogCapture log;
        log.expect("ERROR: Web view engine class HYBWebViewEngine does not exist.");
        log.expect("ERROR: Start Page at 'www/index.html' was not found.");
        controller_ = HYBViewController::create();
        window_ = ui::Window::create();
        window_->setRootViewController(controller_);
        window_->makeKeyAndVisible();
    }
    delegate_->www = (dir_ / "App" / "www").string();
    delegate_->file = std::make_shared<HYBFile>();
    attach(*delegate_->file);
}

void MediaFixture::attach(HYBPlugin& plugin) {
    plugin.setViewController(controller_);
    plugin.setCommandDelegate(delegate_);
    plugin.pluginInitialize();
}

std::string MediaFixture::tmp(const std::string& name) {
    return ns::Sandbox::temporaryDirectory() + name;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

}  // namespace mediatest
