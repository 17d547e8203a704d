#include "toolbox/Foundation/NSDK_TBXSystemVersion.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <atomic>
#include <thread>

#include "platform/sys/DeviceFacts.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/Device.h"

namespace {

struct Version {
    int32_t major = -1;
    int32_t minor = -1;
    int32_t bugFix = -1;
    bool operator==(const Version&) const = default;
};

class SystemVersionTest : public ::testing::Test {
protected:
    void TearDown() override {
        device_.reset();  // the cached version goes back to the process's device's
        deviceFacts_.reset();
        NSDK_TBXSystemVersion::reload();
    }
    std::optional<ns::ScopedSharedInstance<sys::DeviceFacts>> deviceFacts_{std::in_place};
    std::optional<ns::ScopedSharedInstance<ui::Device>> device_{std::in_place};

    static Version withDeviceVersion(const std::string& version) {
        ui::Device::current().setSystemVersion(version);
        NSDK_TBXSystemVersion::reload();
        Version v;
        NSDK_TBXSystemVersion::getMajor(&v.major, &v.minor, &v.bugFix);
        return v;
    }
};

TEST_F(SystemVersionTest, DeviceVersionInTwoOrThreeParts) {
    EXPECT_EQ(withDeviceVersion("12.4"), (Version{12, 4, 0}));
    EXPECT_EQ(withDeviceVersion("12.4.1"), (Version{12, 4, 1}));
    int32_t major = -1;
    NSDK_TBXSystemVersion::getMajor(&major, nullptr, nullptr);
    EXPECT_EQ(major, 12);
}

TEST_F(SystemVersionTest, UnusableDeviceVersionFallsBackToTheKernelRelease) {
    utsname names{};
    ASSERT_EQ(uname(&names), 0);
    int kernelMajor = std::atoi(names.release);
    for (const char* unusable : {"", "17", "0.1", "1.2.3.4", "abc"}) {
        Version v = withDeviceVersion(unusable);
        EXPECT_EQ(v.major, kernelMajor) << unusable;
        EXPECT_GE(v.minor, 0);
    }
    EXPECT_EQ(NSDK_TBXSystemVersion::build(), names.release);
}

TEST_F(SystemVersionTest, BuildComparisonsReadDigitRunsAsNumbers) {
    EXPECT_LT(NSDK_TBXSystemVersion::compareBuilds("16F203", "16G77"), 0);
    EXPECT_GT(NSDK_TBXSystemVersion::compareBuilds("16F203", "9A1"), 0);
    EXPECT_EQ(NSDK_TBXSystemVersion::compareBuilds("16F203", "16f203"), 0);
    EXPECT_LT(NSDK_TBXSystemVersion::compareBuilds("9A1", "10A1"), 0);
    EXPECT_EQ(NSDK_TBXSystemVersion::compareBuilds("07A", "7a"), 0);
    EXPECT_LT(NSDK_TBXSystemVersion::compareBuilds("16F", "16F1"), 0);

    std::string build = NSDK_TBXSystemVersion::build();
    EXPECT_TRUE(NSDK_TBXSystemVersion::isBuildEqualTo(build));
    EXPECT_TRUE(NSDK_TBXSystemVersion::isBuildLessThanOrEqualTo(build));
    EXPECT_TRUE(NSDK_TBXSystemVersion::isBuildGreaterThanOrEqualTo(build));
    EXPECT_TRUE(NSDK_TBXSystemVersion::isBuildLessThan(build + "z"));
    EXPECT_TRUE(NSDK_TBXSystemVersion::isBuildGreaterThan(""));
    EXPECT_FALSE(NSDK_TBXSystemVersion::isBuildGreaterThan(build));
    EXPECT_EQ(NSDK_TBXSystemVersion::runtimeArchitecture(), "iPhone");
}

// Reads while another thread reloads see whole facts: the reload never clears them under a
// reader.
TEST_F(SystemVersionTest, ConcurrencyReadsWhileAnotherThreadReloads) {
    ui::Device::current().setSystemVersion("12.4.1");
    NSDK_TBXSystemVersion::reload();
    const std::string build = NSDK_TBXSystemVersion::build();
    std::atomic<bool> done{false};
    std::thread reloader([&] {
        for (int i = 0; i < 2000; ++i) NSDK_TBXSystemVersion::reload();
        done = true;
    });
    int wrong = 0;
    while (!done) {
        Version v;
        NSDK_TBXSystemVersion::getMajor(&v.major, &v.minor, &v.bugFix);
        if (v != (Version{12, 4, 1}) || NSDK_TBXSystemVersion::build() != build) ++wrong;
    }
    reloader.join();
    EXPECT_EQ(wrong, 0);
}

}  // namespace
