// Values, events, counters and their wire forms.
#include <climits>

#include "sdk/analytics/NEBAAppMetadata.h"
#include "sdk/analytics/NEBADailyCounts.h"
#include "sdk/analytics/NEBAEvent.h"
#include "sdk/analytics/NEBAEventAggregates.h"
#include "sdk/analytics/NEBAUserAttribute.h"
#include "tests/sdk/analytics/AnalyticsFixture.h"

namespace {

using analyticstest::AnalyticsTest;
using NEBADataModelTest = AnalyticsTest;

TEST_F(NEBADataModelTest, ValuesKeepTheirKind) {
    EXPECT_EQ(*NEBAValue::valueFromObject(ns::Value(true)), NEBAValue(int64_t{1}));
    EXPECT_TRUE(NEBAValue::valueFromObject(ns::Value(2.5))->isDouble());
    EXPECT_TRUE(NEBAValue::valueFromObject(ns::Value("2.5"))->isString());
    EXPECT_FALSE(NEBAValue::valueFromObject(ns::Value(ns::Array{})));
    EXPECT_EQ(NEBAValue::valueFromObject(ns::Value(UINT64_MAX))->int64Value(), INT64_MAX);
    EXPECT_FALSE(NEBAValue(int64_t{1}) == NEBAValue(1.0));
    EXPECT_EQ(NEBAValue(int64_t{7}).hash(), NEBAValue(int64_t{7}).hash());
}

TEST_F(NEBADataModelTest, EventsCarryTheirOriginFlagsAndWireForm) {
    auto event =
        NEBAEvent::initWithOrigin("app", true, "shop", 1.0000005, 0, {{"n", ns::Value(2)}});
    ASSERT_TRUE(event);
    EXPECT_EQ(event->parameters().at("_o"), NEBAValue("app"));
    auto proto = event->protoEvent();
    EXPECT_EQ(proto.timestamp_millis(), 1000);
    EXPECT_FALSE(proto.has_previous_timestamp_millis());
    EXPECT_EQ(proto.params_size(), 2);
    EXPECT_FALSE(proto.has_count());

    event->mutableParameters().insert_or_assign("_err", NEBAValue(int64_t{7}));
    event->setIsConversion(true);
    event->setIsConversion(false);
    EXPECT_EQ(event->parameters().at("_err"), NEBAValue(int64_t{7}));
    event->mutableParameters().erase("_err");
    event->setIsConversion(true);
    event->setIsConversion(false);
    EXPECT_EQ(event->parameters().at("_err"), NEBAValue(int64_t{10}));
    event->setIsConversion(true);
    EXPECT_FALSE(event->parameters().count("_err"));
    EXPECT_TRUE(event->isConversion());

    EXPECT_TRUE(NEBAEvent::initWithOrigin("auto+tbx", false, "e", 1, 0, {}));
    EXPECT_FALSE(NEBAEvent::initWithOrigin("", false, "e", 1, 0, {}));
    EXPECT_FALSE(NEBAEvent::initWithOrigin(std::string(33, 'o'), false, "e", 1, 0, {}));
}

TEST_F(NEBADataModelTest, TimesThatMillisecondsCannotHoldAreRefusedAtTheStart) {
    for (double bad : {std::nan(""), double(INFINITY), -double(INFINITY), 1e300, -1e17}) {
        EXPECT_FALSE(NEBAEvent::initWithOrigin("app", false, "e", bad, 0, {})) << bad;
        EXPECT_FALSE(NEBAEvent::initWithOrigin("app", false, "e", 1, bad, {})) << bad;
        EXPECT_FALSE(NEBAUserAttribute::initWithName("p", NEBAValue(1), bad)) << bad;
    }
    auto attribute = NEBAUserAttribute::initWithName("p", NEBAValue(3.5), 2.0009);
    ASSERT_TRUE(attribute);
    EXPECT_EQ(attribute->protoUserAttribute().set_timestamp_millis(), 2000);
    EXPECT_TRUE(attribute->protoUserAttribute().has_double_value());
}

TEST_F(NEBADataModelTest, CountersRestartOrStopWhereTheyMust) {
    NEBADailyCounts counts(1, 0, 0, 0, 0, 0);
    counts.incrementCountsForCurrentDay(2, true, false);
    EXPECT_EQ(counts.day(), 2);
    EXPECT_EQ(counts.allEventsCount(), 1);
    EXPECT_EQ(counts.publicEventsCount(), 1);
    EXPECT_EQ(counts.conversionsCount(), 0);
    counts.incrementRealtimeCountsForCurrentDay(3);
    EXPECT_EQ(counts.allEventsCount(), 0);
    EXPECT_EQ(counts.realtimeCount(), 1);
    counts.decrementAllEventsCount();
    EXPECT_EQ(counts.allEventsCount(), 0);

    NEBADailyCounts saturated(5, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX);
    saturated.incrementCountsForCurrentDay(5, true, true);
    saturated.incrementErrorEventsCountForCurrentDay(5);
    saturated.incrementRealtimeCountsForCurrentDay(5);
    EXPECT_EQ(saturated.allEventsCount(), INT32_MAX);
    EXPECT_EQ(saturated.conversionsCount(), INT32_MAX);
    EXPECT_EQ(saturated.errorEventsCount(), INT32_MAX);
    EXPECT_EQ(saturated.realtimeCount(), INT32_MAX);

    auto metadata = NEBAAppMetadata::initWithLastBundleIndex(INT32_MAX, 0, 0);
    metadata->incrementLastBundleIndex();
    EXPECT_EQ(metadata->lastBundleIndex(), 0);
    EXPECT_FALSE(NEBAAppMetadata::initWithLastBundleIndex(-1, 0, 0));
    auto aggregates = NEBAEventAggregates::initWithName("_e", INT32_MAX, 0, 0);
    aggregates->incrementLifetimeCount();
    EXPECT_EQ(aggregates->lifetimeCount(), 0);
    EXPECT_TRUE(logs().contains("Lifetime count overflow. Lifetime count reset to 0."));
}

}  // namespace
