// The monitor: what is printed, what is sampled, and what leaves the device about a context.
#include <climits>

#include "platform/ns/UserDefaults.h"
#include "sdk/analytics/NEBAErrorEvent.h"
#include "sdk/analytics/NSError+NEBAAdditions.h"
#include "tests/sdk/analytics/AnalyticsFixture.h"

namespace {

using analyticstest::AnalyticsTest;
using analyticstest::CapturingLogger;
using NEBAMonitorTest = AnalyticsTest;

TEST_F(NEBAMonitorTest, ContextsRevealOnlyTheirOrderOfMagnitude) {
    struct Case {
        ns::Value value;
        const char* encoded;
    };
    for (const auto& c : std::vector<Case>{
             {ns::Value(42), "42"},
             {ns::Value(5000), "1000...9999"},
             {ns::Value(-7), "-7"},
             {ns::Value(-250), "-999...-100"},
             {ns::Value(INT64_MIN), "-9999999999999999999...-1000000000000000000"},
             {ns::Value(INT64_MAX), "1000000000000000000...9999999999999999999"},
             {ns::Value(1000000000000000000LL), "1000000000000000000...9999999999999999999"},
             {ns::Value(999999999999999999LL), "100000000000000000...999999999999999999"},
             {ns::Value(std::nan("")), "0"},
             {ns::Value(1e300), "1000000000000000000...9999999999999999999"},
             {ns::Value("secret"), "-"},
             {ns::Value(), ""}}) {
        EXPECT_EQ(NEBAMonitor::encodedStringWithContextObject(c.value), c.encoded)
            << c.value.description();
    }
    EXPECT_EQ(NEBAMonitor::encodedStringWithContextObject(neba_errorWithCode(3, "x")),
              kNEBAErrorDomain);
}

TEST_F(NEBAMonitorTest, SilentLevelsAreSampledNotPrintedAndTheHealthStringFollowsThePeriod) {
    auto logger = std::make_shared<CapturingLogger>();
    NEBAMonitor monitor(6, logger, 3403);
    monitor.logWithLevel(2, "Failed quietly", {ns::Value(250)});
    monitor.logWithLevel(6, "Shown only");
    monitor.logWithLevel(1, "Printed without value", {ns::Value()});
    monitor.flush();
    EXPECT_EQ(logger->lines(),
              (std::vector<std::string>{"<NEBAnalytics/INFO> Shown only",
                                        "<NEBAnalytics/ERROR> Printed without value: (nil)"}));
    auto stored = ns::UserDefaults::standardUserDefaults()->arrayForKey(kNEBAHealthMonitorKey);
    ASSERT_TRUE(stored);
    EXPECT_EQ((*stored)[1].integerValue(), 2);

    EXPECT_FALSE(monitor.monitoringDataForDispatchWithSamplePeriod(86400, 0));
    clock().advanceSeconds(86401);
    auto health = monitor.monitoringDataForDispatchWithSamplePeriod(86400, 0);
    ASSERT_TRUE(health);
    EXPECT_TRUE(*health == "2:1E_3403:Failed quietly:100...999" ||
                *health == "2:1E_3403:Printed without value")
        << *health;
    EXPECT_FALSE(ns::UserDefaults::standardUserDefaults()->arrayForKey(kNEBAHealthMonitorKey));
    clock().advanceSeconds(86401);
    EXPECT_EQ(monitor.monitoringDataForDispatchWithSamplePeriod(86400, clock().wallTime() - 86401),
              "0:");
}

TEST_F(NEBAMonitorTest, ErrorContextsAddTheirStoreContextToTheSample) {
    auto logger = std::make_shared<CapturingLogger>();
    ns::UserDefaults::standardUserDefaults()->setObject(
        kNEBAHealthMonitorKey, ns::Value(ns::Array{ns::Value("a"), ns::Value(1), ns::Value("k")}));
    NEBAMonitor monitor(6, logger, 1);
    monitor.logWithLevel(4, "Store failed",
                         {neba_errorWithCode(3, "d", "execute statement,13,A,3")});
    clock().advanceSeconds(86401);
    EXPECT_EQ(monitor.monitoringDataForDispatchWithSamplePeriod(86400, 0),
              std::string("1:1W_1:Store failed:") + kNEBAErrorDomain + ",execute statement,13,A,3");
}

// The name tests of the "_err" routines: an empty name cannot be checked, which is said as a
// sampled error, and it is neither public nor the error event.
TEST_F(NEBAMonitorTest, NameTestsSayWhenTheNameIsEmpty) {
    EXPECT_TRUE(NEBAIsPublicName("level_up"));
    EXPECT_FALSE(NEBAIsPublicName("_s"));
    EXPECT_TRUE(NEBAIsErrorEventName("_err"));
    EXPECT_FALSE(NEBAIsErrorEventName("_errs"));
    EXPECT_TRUE(logs().lines().empty());
    EXPECT_FALSE(NEBAIsPublicName(""));
    EXPECT_FALSE(NEBAIsErrorEventName(""));
    EXPECT_EQ(logs().lines(),
              (std::vector<std::string>{
                  "<NEBAnalytics/ERROR> Unable to check the name. Name is empty",
                  "<NEBAnalytics/ERROR> Unable to check the event name. Name is empty"}));
    auto stored = ns::UserDefaults::standardUserDefaults()->arrayForKey(kNEBAHealthMonitorKey);
    ASSERT_TRUE(stored);
    EXPECT_EQ((*stored)[1].integerValue(), 2);
}

TEST_F(NEBAMonitorTest, DebugModeComesFromTheLaunchArgumentsAndPersists) {
    ns::ProcessInfo::processInfo().setArguments({"sdk_analytics_tests", kNEBADebugEnabledArgument});
    {
        NEBAMonitor monitor(1);
        EXPECT_TRUE(monitor.isDebugModeEnabled());
        EXPECT_EQ(monitor.logLevel(), 7);
    }
    ns::ProcessInfo::processInfo().setArguments({"sdk_analytics_tests"});
    EXPECT_TRUE(NEBAMonitor(1).isDebugModeEnabled());
    ns::ProcessInfo::processInfo().setArguments(
        {"sdk_analytics_tests", kNEBADebugDisabledArgument});
    EXPECT_FALSE(NEBAMonitor(1).isDebugModeEnabled());
    EXPECT_FALSE(ns::UserDefaults::standardUserDefaults()->boolForKey(kNEBADebugModeKey));
}

}  // namespace
