#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sdk/analytics/NEBAMeasurement.h"
#include "sdk/analytics/NEBAnalytics.h"
#include "tests/sdk/analytics/AnalyticsFixture.h"

namespace analyticstest {

// A started engine installed as the shared one, a fresh facade with collection enabled, and a
// listener that records every event reaching the engine through the facade.
class EngineTest : public AnalyticsTest {
protected:
    static constexpr const char* kAppID = "1:123456789:ios:abcdef";
    static constexpr const char* kInstanceID = "instance-identity-id";
    static constexpr const char* kBundleID = "com.example.analytics";

    void SetUp() override {
        AnalyticsTest::SetUp();
        facade_ = std::make_unique<NEBAnalytics::ScopedState>();
    }

    void TearDown() override {
        loop().runUntilIdle();
        engineOverride_.reset();
        engine_.reset();
        facade_.reset();
        AnalyticsTest::TearDown();
    }

    static std::shared_ptr<NEBOptions> options(ns::Dictionary extra = {}) {
        extra.insert_or_assign(kNEBNebulaAppID, ns::Value(kAppID));
        extra.try_emplace(kNEBBundleID, ns::Value(kBundleID));
        return std::make_shared<NEBOptions>(std::make_shared<const ns::Dictionary>(extra));
    }

    void startEngine(std::shared_ptr<NEBOptions> opts = options(), bool keepStartupEvents = false,
                     std::shared_ptr<NEBNetwork> network = nullptr) {
        engine_ = NEBAMeasurement::initWithDatabaseName(
            NEBADatabase::kDatabaseName, NEBAPersistedConfig::kSuiteName,
            std::make_shared<NEBAScheduler>("test.measurement.worker"), std::move(opts),
            NEBAMeasurement::Context{services_, monitor_, NEBAnalytics::eventPort()},
            std::move(network));
        engineOverride_ = std::make_unique<NEBAMeasurement::ScopedSharedOverride>(engine_);
        NEBAnalytics::setIsAnalyticsEnabled(engine_->wasEnabledDuringInitialization());
        if (!listening_) {
            listening_ = true;
            NEBAnalytics::addLogEventListener([this](const NEBAEvent& event) {
                std::lock_guard lock(seenMutex_);
                seen_.push_back(event);
            });
        }
        loop().runUntilIdle();
        if (keepStartupEvents) return;
        // The first open's events and records of updates are the start's own; tests of
        // what comes later begin without them.
        {
            std::lock_guard lock(seenMutex_);
            seen_.clear();
        }
        engine_->scheduler()->workerQueue()->sync([&] {
            if (!engine_->database()) return;
            ASSERT_TRUE(
                engine_->database()->sqliteStore().executeSQL("DELETE FROM raw_events").ok());
        });
    }

    // The next launch: a new engine over the same files, start-up events kept.
    void restartEngine(std::shared_ptr<NEBOptions> opts = options()) {
        loop().runUntilIdle();
        engineOverride_.reset();
        engine_.reset();
        startEngine(std::move(opts), true);
    }

    // The events the facade's listeners saw with this name.
    std::vector<NEBAEvent> seenNamed(const std::string& name) {
        loop().runUntilIdle();
        std::lock_guard lock(seenMutex_);
        std::vector<NEBAEvent> found;
        for (const auto& event : seen_)
            if (event.name() == name) found.push_back(event);
        return found;
    }

    template <class F>
    auto onWorker(F&& fn) {
        return engine_->scheduler()->workerQueue()->sync(std::forward<F>(fn));
    }

    NEBADailyCounts counts() {
        return onWorker([&] { return engine_->database()->dailyCounts().value().value(); });
    }

    void setCounts(int32_t all, int32_t publicCount, int32_t errors, int32_t realtime = 0,
                   int32_t dayOffset = 0) {
        onWorker([&] {
            auto* db = engine_->database();
            ASSERT_TRUE(db->updateDailyCounts(NEBADailyCounts(db->currentDay() + dayOffset, 0, all,
                                                              publicCount, errors, realtime))
                            .ok());
        });
    }

    // The keychain the engine's services hold.
    NEBAKeychainWrapper keychain() const { return NEBAKeychainWrapper(services_->keychain()); }

    int64_t storedEvents(const std::string& name) {
        return onWorker([&] {
            return engine_->database()
                ->sqliteStore()
                .rowCountForTableWithName("raw_events", "name", name)
                .value()
                .integerValue();
        });
    }

    // The codes of the "_err" events seen so far.
    std::vector<int64_t> errorCodes() {
        std::lock_guard lock(seenMutex_);
        std::vector<int64_t> codes;
        for (const auto& event : seen_) {
            if (event.name() != "_err") continue;
            auto it = event.parameters().find("_err");
            codes.push_back(it == event.parameters().end() ? -1 : it->second.int64Value());
        }
        return codes;
    }

    size_t logLines(const std::string& text) {
        size_t n = 0;
        for (const auto& line : logs().lines()) n += line.find(text) != std::string::npos;
        return n;
    }

    void applyConfig(const Settings& settings,
                     const std::vector<NEB_MEASUREMENT::ACPEventConfig>& events = {}) {
        auto config = configWith(kAppID, settings);
        for (const auto& event : events) *config.add_event_config() = event;
        onWorker([&] {
            ASSERT_TRUE(engine_->engineRemoteConfig()->updateACPMeasurementConfig(&config));
        });
    }

    // Instance identity stays out of the engine's tests: its ID is a fixed text.
    NEBAIdentity::ScopedInstanceIDSource instanceID_{
        [] { return ns::Result<std::string>(std::string(kInstanceID)); }};
    std::shared_ptr<const NEBServices> services_ = NEBServices::standard();
    std::unique_ptr<NEBAnalytics::ScopedState> facade_;
    std::shared_ptr<NEBAMeasurement> engine_;
    std::unique_ptr<NEBAMeasurement::ScopedSharedOverride> engineOverride_;
    std::mutex seenMutex_;
    std::vector<NEBAEvent> seen_;
    bool listening_ = false;
};

}  // namespace analyticstest
