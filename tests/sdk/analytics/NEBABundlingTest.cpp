#include <gtest/gtest.h>

#include "tests/sdk/analytics/EngineFixture.h"

namespace analyticstest {
namespace {

using Bundle = NEB_MEASUREMENT::ACPMeasurementBundle;

// 2026-01-01T10:59:59Z.
constexpr double kBeforeEleven = 1767265199;

class BundlingTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        startEngine();
    }

    void log(const std::string& name, double timestamp, ns::Dictionary parameters = {}) {
        auto event =
            NEBAEvent::initWithOrigin("app", name[0] != '_', name, timestamp, 0, parameters);
        ASSERT_TRUE(event);
        onWorker([&] { engine_->logEventOnWorkerQueue(*event); });
    }

    void setProperty(const std::string& name, const char* value) {
        auto attribute =
            NEBAUserAttribute::initWithName(name, NEBAValue(value), clock().wallTime());
        onWorker([&] { engine_->setUserAttributeOnWorkerQueue(*attribute); });
    }

    bool pass() {
        return onWorker([&] { return engine_->bundleRawEvents(); });
    }

    std::vector<Bundle> queued() {
        std::vector<Bundle> bundles;
        auto pairs = onWorker(
            [&] { return engine_->database()->queryBundlesWithCountLimit(1000, 1 << 30).value(); });
        for (auto& [bundle, rowID] : pairs) bundles.push_back(bundle);
        return bundles;
    }

    static std::vector<std::string> names(const Bundle& bundle) {
        std::vector<std::string> found;
        for (const auto& event : bundle.events()) found.push_back(event.name());
        return found;
    }

    static bool hasParameter(const NEB_MEASUREMENT::ACPEvent& event, const std::string& name) {
        for (const auto& param : event.params())
            if (param.name() == name) return true;
        return false;
    }
};

TEST_F(BundlingTest, ABundleNeverSpansTwoHoursAndNumbersFollowOn) {
    log("tap", kBeforeEleven);
    log("tap", kBeforeEleven + 1);
    EXPECT_TRUE(pass());
    EXPECT_TRUE(pass());
    EXPECT_FALSE(pass());
    auto bundles = queued();
    ASSERT_EQ(bundles.size(), 2u);
    EXPECT_EQ(bundles[0].events_size(), 1);
    EXPECT_FALSE(bundles[0].has_previous_bundle_end_timestamp_millis());
    EXPECT_FALSE(bundles[0].has_previous_bundle_start_timestamp_millis());
    EXPECT_EQ(bundles[1].bundle_sequential_index(), bundles[0].bundle_sequential_index() + 1);
    EXPECT_EQ(bundles[1].previous_bundle_end_timestamp_millis(), kBeforeEleven * 1000);
    EXPECT_EQ(bundles[1].previous_bundle_start_timestamp_millis(), kBeforeEleven * 1000);
    // The second event of a name carries when the name fired before.
    EXPECT_EQ(bundles[1].events(0).previous_timestamp_millis(), kBeforeEleven * 1000);
}

TEST_F(BundlingTest, OneEventPerBundleWhenTheConfigurationSaysSo) {
    applyConfig({{"measurement.upload.max_events_per_bundle", "1"}});
    for (int i = 0; i < 3; ++i) log("tap", kBeforeEleven - 10 + i);
    while (pass()) {
    }
    auto bundles = queued();
    ASSERT_EQ(bundles.size(), 3u);
    for (const auto& bundle : bundles) EXPECT_EQ(bundle.events_size(), 1);
}

TEST_F(BundlingTest, BlacklistedEventsAreConsumedWithoutABundle) {
    log("tap", kBeforeEleven);
    NEB_MEASUREMENT::ACPEventConfig blocked;
    blocked.set_name("tap");
    blocked.set_blacklisted(true);
    applyConfig({{"measurement.upload.max_bundles", "10"}}, {blocked});
    EXPECT_FALSE(pass());
    EXPECT_TRUE(queued().empty());
    EXPECT_EQ(storedEvents("tap"), 0);
    EXPECT_TRUE(logs().contains("Rejected all events."));
}

TEST_F(BundlingTest, ConversionsOverTheDailyLimitTravelAsPlainEvents) {
    NEB_MEASUREMENT::ACPEventConfig purchase;
    purchase.set_name("buy");
    purchase.set_conversion(true);
    applyConfig({{"measurement.upload.max_conversions_per_day", "1"},
                 {"measurement.upload.max_realtime_events_per_day", "0"}},
                {purchase});
    log("buy", kBeforeEleven - 3);
    log("buy", kBeforeEleven - 2);
    log("_f", kBeforeEleven - 1, {{"_c", ns::Value(1)}});
    EXPECT_TRUE(pass());
    auto bundle = queued().at(0);
    ASSERT_EQ(names(bundle), (std::vector<std::string>{"buy", "buy", "_f"}));
    EXPECT_TRUE(hasParameter(bundle.events(0), "_c"));
    EXPECT_FALSE(hasParameter(bundle.events(0), "_r"));  // over the real-time limit
    EXPECT_FALSE(hasParameter(bundle.events(1), "_c"));
    EXPECT_TRUE(hasParameter(bundle.events(2), "_r"));  // first opens are always real-time
    EXPECT_EQ(counts().conversionsCount(), 1);
    EXPECT_EQ(counts().realtimeCount(), 0);
}

TEST_F(BundlingTest, GroupsInterleavedWithAnotherLoseNothing) {
    // "first" and "third" share their metadata; "second", logged between them, does not.
    log("first", kBeforeEleven - 30);
    setProperty("tier", "gold");
    log("second", kBeforeEleven - 20);
    auto removal = NEBAUserAttribute::initWithName("tier", NEBAValue(0.0), clock().wallTime());
    onWorker([&] { engine_->removeUserAttributeOnWorkerQueue(*removal); });
    log("third", kBeforeEleven - 10);
    while (pass()) {
    }
    std::vector<std::string> bundled;
    for (const auto& bundle : queued())
        for (const auto& name : names(bundle)) bundled.push_back(name);
    std::sort(bundled.begin(), bundled.end());
    EXPECT_EQ(bundled, (std::vector<std::string>{"first", "second", "third"}));
}

TEST_F(BundlingTest, AnUnreadableRowIsDroppedAndTheRestBundled) {
    log("tap", kBeforeEleven - 30);
    log("broken", kBeforeEleven - 20);
    log("tap", kBeforeEleven - 10);
    onWorker([&] {
        ASSERT_TRUE(engine_->database()
                        ->sqliteStore()
                        .executeSQL("UPDATE raw_events SET data = x'ffffff' WHERE name = 'broken'")
                        .ok());
    });
    EXPECT_TRUE(pass());
    auto bundles = queued();
    ASSERT_EQ(bundles.size(), 1u);
    EXPECT_EQ(names(bundles[0]), (std::vector<std::string>{"tap", "tap"}));
    EXPECT_EQ(storedEvents("broken"), 0);
    EXPECT_TRUE(logs().contains("Data loss. Deleted raw event that cannot be read."));
    EXPECT_FALSE(pass());
}

TEST_F(BundlingTest, EventsWhoseMetadataIsGoneAreDroppedRatherThanStallTheQueue) {
    log("orphan", kBeforeEleven - 20);
    onWorker([&] {
        ASSERT_TRUE(
            engine_->database()->sqliteStore().executeSQL("DELETE FROM raw_events_metadata").ok());
    });
    setProperty("tier", "gold");
    log("kept", kBeforeEleven - 10);
    // The pass that drops them makes no bundle; the next one goes on with the queue.
    EXPECT_FALSE(pass());
    EXPECT_TRUE(pass());
    auto bundles = queued();
    ASSERT_EQ(bundles.size(), 1u);
    EXPECT_EQ(names(bundles[0]), std::vector<std::string>{"kept"});
    EXPECT_TRUE(logs().contains("Data loss. Raw events without metadata deleted."));
}

}  // namespace
}  // namespace analyticstest
