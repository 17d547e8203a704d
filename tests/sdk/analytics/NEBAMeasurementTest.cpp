#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "platform/ns/Bundle.h"
#include "platform/ns/FileManager.h"
#include "platform/sec/Keychain.h"
#include "platform/testing/InjectedFaults.h"

#include "sdk/analytics/NEBAErrorEvent.h"
#include "sdk/analytics/NEBAKeychainWrapper.h"
#include "tests/sdk/analytics/EngineFixture.h"

namespace analyticstest {
namespace {

NEBAEvent makeEvent(const std::string& name, ns::Dictionary parameters = {},
                    const std::string& origin = "app") {
    return NEBAEvent::initWithOrigin(origin, name[0] != '_', name, 1.8e9, 0, parameters).value();
}

class MeasurementTest : public EngineTest {
protected:
    void log(const NEBAEvent& event) {
        onWorker([&] { engine_->logEventOnWorkerQueue(event); });
    }
};

TEST_F(MeasurementTest, OverallDailyLimitLogsFirstAndEveryThousandthDrop) {
    startEngine();
    setCounts(100000, 0, 0);
    log(makeEvent("_x"));
    log(makeEvent("_x"));
    EXPECT_EQ(logLines("Data loss. Too many events logged. Name, limit"), 1u);
    setCounts(101000, 0, 0);
    log(makeEvent("_x"));
    EXPECT_EQ(storedEvents("_x"), 0);
    EXPECT_EQ(logLines("Data loss. Too many events logged. Name, limit"), 2u);
    // Events dropped by the overall limit still use it up.
    EXPECT_EQ(counts().allEventsCount(), 101001);
}

TEST_F(MeasurementTest, PublicLimitRaisesCode16AndSparesTheOverallAllowance) {
    startEngine();
    setCounts(10, 50000, 0);
    log(makeEvent("shop"));
    loop().runUntilIdle();
    EXPECT_EQ(storedEvents("shop"), 0);
    EXPECT_EQ(errorCodes(), std::vector<int64_t>{16});
    // Only the error event itself was added to the overall count.
    EXPECT_EQ(counts().allEventsCount(), 11);
    EXPECT_EQ(counts().errorEventsCount(), 1);
}

// The engine stores its own refusals and tells the facade's listeners of them; it does not send
// them back up through the facade, which may reach another engine or none.
TEST_F(MeasurementTest, RefusalsAreStoredByTheEngineThatMadeThem) {
    startEngine();
    engineOverride_.reset();
    setCounts(10, 50000, 0);
    log(makeEvent("shop"));
    loop().runUntilIdle();
    EXPECT_EQ(storedEvents(kNEBAErrorEventName), 1);
    EXPECT_EQ(errorCodes(), std::vector<int64_t>{NEBAErrorCode::PublicEventsOverDailyLimit});
}

TEST_F(MeasurementTest, ErrorEventsOverTheirLimitRaiseNoFurtherErrors) {
    startEngine();
    setCounts(10, 50000, 1000);
    log(makeEvent("shop"));
    loop().runUntilIdle();
    EXPECT_EQ(errorCodes(), std::vector<int64_t>{16});
    EXPECT_EQ(storedEvents("_err"), 0);
    EXPECT_EQ(logLines("Too many error events logged. Error code, limit"), 1u);
}

TEST_F(MeasurementTest, YesterdaysTotalsDoNotRefuseTodaysFirstEvent) {
    startEngine();
    setCounts(100000, 50000, 1000, 10, -1);
    log(makeEvent("shop"));
    EXPECT_EQ(storedEvents("shop"), 1);
    EXPECT_EQ(counts().allEventsCount(), 1);
    EXPECT_EQ(counts().publicEventsCount(), 1);
    EXPECT_TRUE(errorCodes().empty());
}

TEST_F(MeasurementTest, FiveHundredPublicNamesAtMost) {
    startEngine();
    onWorker([&] {
        ASSERT_TRUE(engine_->database()->performTransaction([&] {
            for (int i = 0; i < 500; ++i) {
                auto aggregates =
                    NEBAEventAggregates::initWithName("name" + std::to_string(i), 0, 0, 0.0);
                if (!engine_->database()->updateEventAggregates(*aggregates).ok()) return false;
            }
            return true;
        }));
    });
    log(makeEvent("name501"));
    log(makeEvent("name7"));
    log(makeEvent("_internal"));
    loop().runUntilIdle();
    EXPECT_EQ(storedEvents("name501"), 0);
    EXPECT_EQ(storedEvents("name7"), 1);
    EXPECT_EQ(storedEvents("_internal"), 1);
    EXPECT_EQ(errorCodes(), std::vector<int64_t>{8});
}

TEST_F(MeasurementTest, TwentyFivePublicUserPropertiesAtMost) {
    startEngine();
    auto set = [&](const std::string& name) {
        auto attribute = NEBAUserAttribute::initWithName(name, NEBAValue("v"), 1.8e9).value();
        onWorker([&] { engine_->setUserAttributeOnWorkerQueue(attribute); });
    };
    for (int i = 0; i < 25; ++i) set("prop" + std::to_string(i));
    set("prop25");
    set("prop3");
    set("_internal");
    loop().runUntilIdle();
    auto names = onWorker([&] {
        std::set<std::string> names;
        auto attributes = engine_->database()->userAttributesIncludingInternal(true);
        for (const auto& a : attributes.value()) names.insert(a.name());
        return names;
    });
    // 25 public ones, "_internal", and the first-open time.
    EXPECT_EQ(names.size(), 27u);
    EXPECT_FALSE(names.count("prop25"));
    EXPECT_TRUE(names.count("_internal"));
    EXPECT_EQ(errorCodes(), std::vector<int64_t>{9});
}

TEST_F(MeasurementTest, BlacklistRules) {
    startEngine();
    NEB_MEASUREMENT::ACPEventConfig blocked;
    blocked.set_name("blocked");
    blocked.set_blacklisted(true);
    NEB_MEASUREMENT::ACPEventConfig firstOpen;
    firstOpen.set_name("first_open");
    firstOpen.set_blacklisted(true);
    applyConfig({{"measurement.upload.max_bundles", "10"}}, {blocked, firstOpen});
    // An event-config name is the public one; it blocks the internal event it maps to.
    EXPECT_TRUE(engine_->engineRemoteConfig()->isEventBlacklisted("_f"));
    log(makeEvent("blocked"));
    log(makeEvent("open"));
    loop().runUntilIdle();
    EXPECT_EQ(storedEvents("blocked"), 0);
    EXPECT_EQ(storedEvents("open"), 1);
    EXPECT_EQ(errorCodes(), std::vector<int64_t>{11});

    // A blanket rejection raises no error event.
    applyConfig({{"measurement.upload.blacklist_public", "1"}});
    log(makeEvent("open"));
    loop().runUntilIdle();
    EXPECT_EQ(storedEvents("open"), 1);
    EXPECT_EQ(errorCodes().size(), 1u);
}

TEST_F(MeasurementTest, DebugConversionIsRealtimeOverTheRealtimeLimit) {
    startEngine();
    setCounts(0, 0, 0, 10);
    log(makeEvent("buy", {{"_c", ns::Value(1)}}));
    EXPECT_FALSE(
        onWorker([&] { return engine_->database()->containsRealtimeRawEvents().value(); }));
    monitor_->setIsDebugModeEnabled(true);
    log(makeEvent("buy", {{"_c", ns::Value(1)}}));
    EXPECT_TRUE(onWorker([&] { return engine_->database()->containsRealtimeRawEvents().value(); }));
}

TEST_F(MeasurementTest, EachStoredFirstOpenRaisesTheKeychainCount) {
    sec::Keychain::setDirectory(ns::Sandbox::keychainDirectory());
    startEngine(options({{kNEBBundleID, ns::Value("com.example.app")}}));
    std::string bundleID = ns::Bundle::mainBundle()->bundleIdentifier().value_or("com.example.app");
    ASSERT_TRUE(keychain().upsertKeychainValue("-4", "_pfo", bundleID));
    log(makeEvent("_f", {}, "auto"));
    log(makeEvent("_f", {}, "auto"));
    EXPECT_EQ(keychain().keychainValueWithIdentifier("_pfo", bundleID), "2");
}

TEST_F(MeasurementTest, DisabledEngineStoresNothingAndKeepsWhatItHas) {
    startEngine();
    log(makeEvent("kept"));
    engine_->setIsEnabled(false);
    log(makeEvent("refused"));
    EXPECT_EQ(storedEvents("kept"), 1);
    EXPECT_EQ(storedEvents("refused"), 0);
}

struct EnableCase {
    const char* name;
    int64_t persistedState;
    ns::Dictionary options;
    bool enabled;
};

class EnableDecisionTest : public EngineTest, public ::testing::WithParamInterface<EnableCase> {};

TEST_P(EnableDecisionTest, Decides) {
    if (GetParam().persistedState)
        ns::UserDefaults::standardUserDefaults()->setInteger(
            kNEBAnalyticsEnabledStateUserDefaultsKey, GetParam().persistedState);
    startEngine(options(GetParam().options));
    EXPECT_EQ(engine_->wasEnabledDuringInitialization(), GetParam().enabled);
    // A deactivated engine ignores later enabling.
    engine_->setIsEnabled(true);
    loop().runUntilIdle();
    EXPECT_EQ(onWorker([&] { return engine_->isEnabled(); }),
              !GetParam().options.contains(kNEBAnalyticsCollectionDeactivated));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EnableDecisionTest,
    ::testing::Values(
        EnableCase{
            "PersistedNoWins", 2, {{kNEBAnalyticsCollectionEnabled, ns::Value(true)}}, false},
        EnableCase{
            "PersistedYesWins", 1, {{kNEBAnalyticsCollectionEnabled, ns::Value(false)}}, true},
        EnableCase{"OptionsDecide", 0, {{kNEBAnalyticsCollectionEnabled, ns::Value(false)}}, false},
        EnableCase{
            "Deactivated", 0, {{kNEBAnalyticsCollectionDeactivated, ns::Value(true)}}, false},
        EnableCase{"DeactivatedOverPersisted",
                   1,
                   {{kNEBAnalyticsCollectionDeactivated, ns::Value(true)}},
                   false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MeasurementTest, ChangedAppIDClearsStateAndDeletesTheOldDatabase) {
    persistedConfig()->setAppIDFromNMP("1:999:ios:old");
    {
        auto db = openDatabase();
        ASSERT_TRUE(db);
        ASSERT_TRUE(
            db->updateEventAggregates(*NEBAEventAggregates::initWithName("old", 3, 0, 0)).ok());
    }
    config_.reset();
    startEngine();
    EXPECT_EQ(engine_->previousNMPAppID(), "1:999:ios:old");
    EXPECT_EQ(engine_->persistedConfig()->appIDFromNMP(), kAppID);
    EXPECT_FALSE(
        onWorker([&] { return engine_->database()->eventAggregatesWithName("old").value(); }));
}

// The measurement folder as a whole stays out of backups; when it cannot, the start says so
// and goes on.
TEST_F(MeasurementTest, TheMeasurementFolderIsExcludedFromBackup) {
    const auto& files = ns::FileManager::defaultManager();
    startEngine();
    EXPECT_TRUE(files.isExcludedFromBackup(NEBADatabase::databaseDirectory()));
    EXPECT_FALSE(logs().contains("Failed to exclude directory from backup. Error"));

    engineOverride_.reset();
    engine_.reset();
    ns::InjectedFaults faults;
    ns::InjectedFaults::add("setxattr", EACCES, 100);
    ASSERT_TRUE(files.setExcludedFromBackup(NEBADatabase::databaseDirectory(), false).ok());
    startEngine();
    EXPECT_TRUE(engine_->database());
    EXPECT_TRUE(logs().contains("Failed to exclude directory from backup. Error"));
}

TEST_F(MeasurementTest, WorkerGuardLogsTheBlockAndGoesOn) {
    startEngine();
    bool ranAfter = false;
    engine_->scheduler()->scheduleOnWorkerQueueBlockID("NEBAMeasurement:9",
                                                       [] { throw std::runtime_error("boom"); });
    engine_->scheduler()->scheduleOnWorkerQueueBlockID("NEBAMeasurement:10",
                                                       [&] { ranAfter = true; });
    loop().runUntilIdle();
    EXPECT_TRUE(ranAfter);
    EXPECT_TRUE(logs().contains("Exception on worker queue. Block ID=NEBAMeasurement:9"));
}

}  // namespace
}  // namespace analyticstest
