#include "plugins/device_storage/HYBDevice.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bridge/HYBInvokedUrlCommand.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/UUID.h"
#include "platform/ns/UserDefaults.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/sys/DeviceFacts.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/Device.h"
#include "plugins/device_storage/HYBSQLiteDeviceClasses.h"
#include "plugins/device_storage/SQLitePlugin.h"
#include "plugins/device_storage/UIDevice+ModelVersion.h"
#include "tests/plugins/device_storage/support/SQLiteTestDelegate.h"
#include "tests/support/ManualRunLoop.h"
#include "tests/support/NsPrinters.h"
#include "tests/support/TempDir.h"

namespace {

class HYBDeviceTest : public testsupport::ManualRunLoop {
protected:
    void SetUp() override {
        ManualRunLoop::SetUp();
        ASSERT_TRUE(ns::Sandbox::configure(dir_.str()).ok());
        ns::UserDefaults::resetStandardUserDefaults();
        device_ = std::make_shared<HYBDevice>();
        delegate_ = std::make_shared<sqlitetest::SQLiteTestDelegate>();
        device_->setCommandDelegate(delegate_);
    }
    void TearDown() override {
        ns::UserDefaults::resetStandardUserDefaults();
        ManualRunLoop::TearDown();
    }

    // What the page receives for getDeviceInfo.
    ns::Value deviceInfo() {
        const std::string id = "Device" + std::to_string(++calls_);
        EXPECT_TRUE(device_->performAction(
            "getDeviceInfo", HYBInvokedUrlCommand({}, id, "Device", "getDeviceInfo")));
        auto result = delegate_->resultFor(id);
        EXPECT_TRUE(result);
        if (!result) return {};
        EXPECT_EQ(result->status, 1u);
        return result->message;
    }
    // As after a restart of the application: the defaults are read back from their file.
    static void restart() { ns::UserDefaults::resetStandardUserDefaults(); }

    testsupport::TempDir dir_;
    ns::ScopedSharedInstance<sys::DeviceFacts> deviceFacts_;
    ns::ScopedSharedInstance<ui::Device> uiDevice_;
    std::shared_ptr<HYBDevice> device_;
    std::shared_ptr<sqlitetest::SQLiteTestDelegate> delegate_;
    int calls_ = 0;
};

TEST_F(HYBDeviceTest, AnswersTheDeviceFacts) {
    utsname names{};
    ASSERT_EQ(uname(&names), 0);
    ui::Device::current().setSystemVersion("17.4");
    const ns::Value info = deviceInfo();
    const ns::Value expected =
        ns::Value::dict({{"manufacturer", "Apple"},
                         {"model", std::string(names.machine)},
                         {"platform", "iOS"},
                         {"version", "17.4"},
                         {"uuid", ui::Device::current().identifierForVendor()->UUIDString()},
                         {"hybrid", "6.2.0"},
                         {"isVirtual", false}});
    EXPECT_EQ(info, expected);
    EXPECT_TRUE(info["isVirtual"].isBool());
    EXPECT_EQ(modelVersion(ui::Device::current()), names.machine);
    EXPECT_EQ(HYBDevice::hybridVersion(), "6.2.0");
}

TEST_F(HYBDeviceTest, TheInstallationIdentifierIsKeptAcrossRestarts) {
    ui::Device::current().setIdentifierForVendor(std::nullopt);
    const ns::Value first = deviceInfo()["uuid"];
    ASSERT_TRUE(first.isString());
    EXPECT_TRUE(ns::UUID::fromString(*first.string()));
    EXPECT_EQ(deviceInfo()["uuid"], first);
    // Written to the file at once: a restart reads it back.
    restart();
    EXPECT_EQ(ns::UserDefaults::standardUserDefaults()->objectForKey("HYBUUID"), first);
    EXPECT_EQ(deviceInfo()["uuid"], first);
    // Removed, a new one is made and kept.
    ns::UserDefaults::standardUserDefaults()->removeObjectForKey("HYBUUID");
    const ns::Value second = deviceInfo()["uuid"];
    EXPECT_NE(second, first);
    restart();
    EXPECT_EQ(deviceInfo()["uuid"], second);
}

TEST_F(HYBDeviceTest, ConcurrentFirstCallsStoreOneIdentifier) {
    // Without a vendor identifier every first call would make a different random one.
    ui::Device::current().setIdentifierForVendor(std::nullopt);
    constexpr int kThreads = 8;
    std::vector<std::string> answers(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back(
            [&, i] { answers[i] = device_->uniqueAppInstanceIdentifier(ui::Device::current()); });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(std::set<std::string>(answers.begin(), answers.end()).size(), 1u);
    restart();
    EXPECT_EQ(ns::UserDefaults::standardUserDefaults()->objectForKey("HYBUUID"),
              ns::Value(answers[0]));
}

TEST_F(HYBDeviceTest, BothPluginsAreMadeByTheirConfigNames) {
    rt::ClassRegistry registry;
    HYBSQLiteDeviceClasses::registerClasses(registry);
    const struct {
        const char* name;
        const char* action;
    } cases[] = {{"SQLitePlugin", "backgroundExecuteSqlBatch"}, {"HYBDevice", "getDeviceInfo"}};
    for (const auto& c : cases) {
        const rt::Class* cls = registry.classNamed(c.name);
        ASSERT_TRUE(cls) << c.name;
        EXPECT_EQ(cls->superclassName(), "HYBPlugin");
        auto plugin = std::dynamic_pointer_cast<HYBPlugin>(cls->create());
        ASSERT_TRUE(plugin) << c.name;
        EXPECT_TRUE(plugin->respondsToAction(c.action));
    }
    auto sqlite =
        std::dynamic_pointer_cast<HYBPlugin>(registry.classNamed("SQLitePlugin")->create());
    EXPECT_EQ(sqlite->actionNames(),
              (std::vector<std::string>{"backgroundExecuteSqlBatch", "close", "delete",
                                        "echoStringValue", "executeSql", "open"}));
}

}  // namespace
