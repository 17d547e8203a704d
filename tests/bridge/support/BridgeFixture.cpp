#include "tests/bridge/support/BridgeFixture.h"

#include <filesystem>
#include <fstream>

#include "platform/ns/Bundle.h"
#include "platform/ns/Format.h"
#include "platform/ns/PropertyListSerialization.h"
#include "platform/ns/Sandbox.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/testing/FakeEngine.h"

namespace bridgetest {

std::string BridgeFixture::defaultConfig(const std::string& extra) {
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<widget>
  <preference name="HybridWebViewEngine" value="TestEngine"/>
  <feature name="Echo"><param name="ios-package" value="EchoPlugin"/></feature>
)" + extra +
           "\n</widget>\n";
}

void BridgeFixture::SetUp() {
    ManualRunLoop::SetUp();
    ASSERT_TRUE(ns::Sandbox::configure((dir_ / "sandbox").string()).ok());
    writeBundleFile("www/index.html", "<html><title>t</title></html>");
    writeConfig(defaultConfig());
    writeInfo({{"CFBundleExecutable", "App"}});
    auto& registry = rt::ClassRegistry::shared();
    registry.registerClass(EchoPlugin::kClassName, std::nullopt,
                           [] { return std::make_shared<EchoPlugin>(); });
    registry.registerClass(TestEngine::kClassName, std::nullopt,
                           [] { return std::make_shared<TestEngine>(); });
    registry.registerClass(TestEngine::kRefusingClassName, std::nullopt, [] {
        auto engine = std::make_shared<TestEngine>();
        engine->setCanLoad(false);
        return engine;
    });
    EchoPlugin::calls().clear();
}

void BridgeFixture::TearDown() {
    controller_.reset();
    loop().runUntilIdle();
    ManualRunLoop::TearDown();
}

void BridgeFixture::writeBundleFile(const std::string& relativePath, const std::string& contents) {
    const std::filesystem::path path = dir_ / "App" / relativePath;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << contents;
}

void BridgeFixture::writeInfo(const ns::Dictionary& info) {
    std::filesystem::create_directories(dir_ / "App");
    auto status = ns::PropertyListSerialization::writeFileAtomically(
        (dir_ / "App" / "Info.plist").string(), ns::Value(info),
        ns::PropertyListSerialization::Format::XML);
    ASSERT_TRUE(status.ok());
    // A fresh bundle object reads the new Info.plist.
    ns::Bundle::setMainBundlePath(bundlePath());
}

std::shared_ptr<HYBViewController> BridgeFixture::start() {
    controller_ = HYBViewController::create();
    controller_->loadViewIfNeeded();
    loop().runUntilIdle();
    return controller_;
}

TestEngine& BridgeFixture::engine() {
    auto engine = std::dynamic_pointer_cast<TestEngine>(controller_->webViewEngine());
    if (!engine) throw std::runtime_error("the controller has no test engine");
    return *engine;
}

std::vector<std::string> BridgeFixture::scripts() {
    return engine().fake().evaluatedScripts();
}

void BridgeFixture::postPageCall(const ns::Value& body) {
    EXPECT_TRUE(engine().fake().postMessage("hybrid", body));
    loop().runUntilIdle();
}

std::string BridgeFixture::callback(const std::string& id, int status, const std::string& json,
                                    bool keep) {
    return ns::format("hybrid.require('hybrid/exec').nativeCallback('%@',%d,%@,%d, %d)", id, status,
                      json, keep ? 1 : 0, 0);
}

}  // namespace bridgetest
