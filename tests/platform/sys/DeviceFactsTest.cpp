#include "platform/sys/DeviceFacts.h"

#include <gtest/gtest.h>

#include <ctime>

#include "platform/testing/ScopedSharedInstance.h"

namespace {

class DeviceFactsTest : public ::testing::Test {
protected:
    ns::ScopedSharedInstance<sys::DeviceFacts> facts_;
};

TEST_F(DeviceFactsTest, DefaultsDescribeADeviceNotTheHost) {
    auto& facts = sys::DeviceFacts::current();
    EXPECT_EQ(facts.machine(), "arm64");
    EXPECT_FALSE(facts.isSimulator());
    for (const char* simulator : {"x86_64", "i386"}) {
        facts.setMachine(simulator);
        EXPECT_TRUE(facts.isSimulator()) << simulator;
    }
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

}  // namespace
