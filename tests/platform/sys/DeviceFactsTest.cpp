#include "platform/sys/DeviceFacts.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <ctime>

#include "platform/ns/Sandbox.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/Device.h"
#include "tests/support/TempDir.h"

namespace {

class DeviceFactsTest : public ::testing::Test {
protected:
    ns::ScopedSharedInstance<sys::DeviceFacts> facts_;
};

TEST_F(DeviceFactsTest, MachineIsTheKernelsUnlessSet) {
    auto& facts = sys::DeviceFacts::current();
    utsname names{};
    ASSERT_EQ(::uname(&names), 0);
    EXPECT_EQ(facts.machine(), names.machine);
    EXPECT_FALSE(facts.isSimulator()) << "a Linux PC is not the platform's simulator";
    for (const char* simulator : {"x86_64", "i386"}) {
        facts.setMachine(simulator);
        EXPECT_TRUE(facts.isSimulator()) << simulator;
    }
    facts.setMachine("arm64");
    EXPECT_FALSE(facts.isSimulator());
    EXPECT_EQ(facts.systemVersion(), sys::DeviceFacts::kDefaultSystemVersion);
    facts.setSystemVersion("16.4");
    EXPECT_EQ(ui::Device::current().systemVersion(), "16.4");
}

TEST_F(DeviceFactsTest, BootTimeIsTheKernelsUnlessSet) {
    auto& facts = sys::DeviceFacts::current();
    auto boot = facts.bootTime();
    ASSERT_TRUE(boot);
    EXPECT_GT(boot->seconds, 0);
    EXPECT_LE(boot->seconds, static_cast<int64_t>(std::time(nullptr)));
    EXPECT_LT(boot->microseconds, 1000000);

    facts.setBootTime(sys::WallTime{1000, 5});
    EXPECT_EQ(facts.bootTime()->seconds, 1000);
    facts.setBootTime(std::nullopt);
    EXPECT_FALSE(facts.bootTime());
    EXPECT_TRUE(ns::ScopedSharedInstance<sys::DeviceFacts>()->bootTime());
}

// The vendor identifier outlives the process that made it, and not the installation.
TEST_F(DeviceFactsTest, VendorIdentifierIsKeptWithTheInstallation) {
    testsupport::TempDir dir;
    ASSERT_TRUE(ns::Sandbox::configure(dir.str() + "/sandbox").ok());
    const auto first = sys::DeviceFacts::current().identifierForVendor();
    ASSERT_TRUE(first);
    EXPECT_EQ(ui::Device::current().identifierForVendor(), first);
    EXPECT_EQ(ns::ScopedSharedInstance<sys::DeviceFacts>()->identifierForVendor(), first)
        << "a new process finds the one it keeps";
    ASSERT_TRUE(ns::Sandbox::simulateReinstall().ok());
    const auto afterReinstall = sys::DeviceFacts::current().identifierForVendor();
    ASSERT_TRUE(afterReinstall);
    EXPECT_NE(afterReinstall, first);
    EXPECT_EQ(ns::ScopedSharedInstance<sys::DeviceFacts>()->identifierForVendor(), afterReinstall);
    sys::DeviceFacts::current().setIdentifierForVendor(std::nullopt);
    EXPECT_EQ(sys::DeviceFacts::current().identifierForVendor(), std::nullopt);
}

}  // namespace
