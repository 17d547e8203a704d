// Engine state in its own suite: typed reads, the install's day boundary, and writes that
// reach the disk by themselves.
#include <cmath>

#include "platform/dispatch/Queue.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/PropertyListSerialization.h"
#include "sdk/analytics/NEBAPersistedConfig.h"
#include "tests/sdk/analytics/AnalyticsFixture.h"

namespace {

using analyticstest::AnalyticsTest;
using NEBAPersistedConfigTest = AnalyticsTest;

ns::Value fileContents(const std::string& path) {
    auto read = ns::PropertyListSerialization::readFile(path);
    return read ? *read : ns::Value();
}

TEST_F(NEBAPersistedConfigTest, MidnightOffsetIsDrawnOnceInWholeMillisecondsAndAnewAfterClearing) {
    auto config = persistedConfig();
    double offset = config->midnightOffset();
    EXPECT_GE(offset, 0);
    EXPECT_LT(offset, 86400);
    EXPECT_NEAR(offset * 1000, std::round(offset * 1000), 1e-6);  // whole milliseconds
    EXPECT_EQ(config->midnightOffset(), offset);
    config->setString("1:2:ios:3", NEBAPersistedConfig::kAppIDFromNMPKey);
    config->clearValues();
    EXPECT_FALSE(config->appIDFromNMP());
    EXPECT_EQ(config->lastBackoffTimestamp(), 0);
    EXPECT_FALSE(NEBAPersistedConfig::initWithSuiteName(""));
}

TEST_F(NEBAPersistedConfigTest, NumbersAreRangeCheckedBeforeNarrowing) {
    auto config = persistedConfig();
    auto defaults = ns::UserDefaults::initWithSuiteName(NEBAPersistedConfig::kSuiteName);
    defaults->setObject("big", ns::Value(1e30));
    defaults->setObject("text", ns::Value("12"));
    defaults->setObject("nan", ns::Value(std::nan("")));
    EXPECT_EQ(config->int64ForKey("big"), 0);
    EXPECT_EQ(config->int64ForKey("text"), 0);
    EXPECT_EQ(config->doubleForKey("nan"), 0);
    ns::UserDefaults::standardUserDefaults()->setInteger(
        NEBAPersistedConfig::kMeasurementEnabledStateKey, 2);
    EXPECT_EQ(config->measurementEnabledState(), 2);
}

TEST_F(NEBAPersistedConfigTest, WritesFromAWorkerReachTheDiskOneSecondAfterTheLastOne) {
    auto config = persistedConfig();
    auto worker = dispatch::Queue::createSerial("test.worker");
    worker->sync([&] {
        for (int i = 0; i < 10; ++i) config->setDouble(i, NEBAPersistedConfig::kLastBackoffKey);
    });
    const auto path = config->preferencesFilePath();
    loop().advanceBy(dispatch::seconds(1.5));
    auto stored = fileContents(path);
    ASSERT_TRUE(stored.dictionary()) << path;
    EXPECT_EQ(stored[NEBAPersistedConfig::kLastBackoffKey].doubleValue(), 9);
    EXPECT_TRUE(ns::FileManager::defaultManager().isExcludedFromBackup(path));
}

}  // namespace
