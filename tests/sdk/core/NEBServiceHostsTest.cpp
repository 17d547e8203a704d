#include "sdk/core/NEBServiceHosts.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/sdk/core/SdkCoreFixture.h"

namespace {

class NEBServiceHostsTest : public sdktest::SdkCoreTest {
protected:
    void TearDown() override {
        ::unsetenv(NEBServiceHosts::kLogbookServerURLVariable);
        SdkCoreTest::TearDown();
    }
};

// The bundle names the services, a run's environment overrides it, the program overrides both.
TEST_F(NEBServiceHostsTest, BundleThenEnvironmentThenProgram) {
    EXPECT_EQ(NEBServiceHosts::logbookServerURL(), "https://logbook.nebula.invalid/log");
    writeInfoPlist({{"CFBundleIdentifier", sdktest::kBundleIdentifier},
                    {"NebulaServiceHosts",
                     ns::Dictionary{{"LogbookServerURL", "https://logs.example.test/log"},
                                    {"MeasurementUploadHost", "measure.example.test"},
                                    {"ConsoleURL", ""}}}});
    EXPECT_EQ(NEBServiceHosts::logbookServerURL(), "https://logs.example.test/log");
    EXPECT_EQ(NEBServiceHosts::measurementUploadHost(), "measure.example.test");
    EXPECT_EQ(NEBServiceHosts::consoleURL(), "https://console.nebula.invalid");
    ::setenv(NEBServiceHosts::kLogbookServerURLVariable, "https://127.0.0.1:8443/log", 1);
    EXPECT_EQ(NEBServiceHosts::logbookServerURL(), "https://127.0.0.1:8443/log");
    NEBServiceHosts::setLogbookServerURL("https://set.example.test/log");
    EXPECT_EQ(NEBServiceHosts::logbookServerURL(), "https://set.example.test/log");
    ns::ScopedSharedInstance<NEBServiceHosts> nothingSet;
    EXPECT_EQ(NEBServiceHosts::logbookServerURL(), "https://127.0.0.1:8443/log");
}

}  // namespace
