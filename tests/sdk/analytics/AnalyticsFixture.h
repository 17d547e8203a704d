#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ns/ProcessInfo.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/UserDefaults.h"
#include "sdk/analytics/NEBADatabase.h"
#include "sdk/analytics/NEBALogging.h"
#include "sdk/analytics/NEBAMonitor.h"
#include "tests/support/ManualRunLoop.h"
#include "tests/support/TempDir.h"

namespace analyticstest {

using Settings = std::vector<std::pair<std::string, std::string>>;

// A measurement configuration of the app with these settings, version 7.
inline NEB_MEASUREMENT::ACPMeasurementConfig configWith(const std::string& appID,
                                                        const Settings& settings) {
    NEB_MEASUREMENT::ACPMeasurementConfig config;
    config.set_nmp_app_id(appID);
    config.set_version(7);
    for (const auto& [key, value] : settings) {
        auto* setting = config.add_settings();
        setting->set_key(key);
        setting->set_value(value);
    }
    return config;
}

// Keeps the monitor's lines for assertions.
class CapturingLogger : public NEBALogging {
public:
    void logMessage(const std::string& message, int64_t level) override {
        std::lock_guard lock(mutex_);
        lines_.push_back(message);
        levels_.push_back(level);
    }
    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    bool contains(const std::string& text) const {
        for (const auto& line : lines()) {
            if (line.find(text) != std::string::npos) return true;
        }
        return false;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::vector<int64_t> levels_;
};

// Installs a monitor for a scope and puts the previous one back after it.
class ScopedMonitor {
public:
    explicit ScopedMonitor(std::shared_ptr<NEBAMonitor> monitor)
        : previous_(NEBAMonitor::setShared(std::move(monitor))) {}
    ~ScopedMonitor() { NEBAMonitor::setShared(std::move(previous_)); }
    ScopedMonitor(const ScopedMonitor&) = delete;
    ScopedMonitor& operator=(const ScopedMonitor&) = delete;

private:
    std::shared_ptr<NEBAMonitor> previous_;
};

// A fresh sandbox per test, on the main run loop with a manual clock, with a monitor of its own
// that prints every level into a capture.
class AnalyticsTest : public testsupport::ManualRunLoop {
protected:
    void SetUp() override {
        ManualRunLoop::SetUp();
        ASSERT_TRUE(ns::Sandbox::configure(dir_.str() + "/sandbox").ok());
        ns::UserDefaults::resetStandardUserDefaults();
        ns::ProcessInfo::processInfo().setArguments(
            std::vector<std::string>{"sdk_analytics_tests"});
        logger_ = std::make_shared<CapturingLogger>();
        monitor_ = std::make_shared<NEBAMonitor>(7, logger_, 3403);
        override_ = std::make_unique<ScopedMonitor>(monitor_);
    }

    void TearDown() override {
        monitor_->flush();
        override_.reset();
        loop().runUntilIdle();
        ManualRunLoop::TearDown();
    }

    // The monitor's lines so far.
    const CapturingLogger& logs() {
        monitor_->flush();
        return *logger_;
    }

    std::shared_ptr<NEBAPersistedConfig> persistedConfig() {
        if (!config_)
            config_ = NEBAPersistedConfig::initWithSuiteName(NEBAPersistedConfig::kSuiteName);
        return config_;
    }

    std::unique_ptr<NEBADatabase> openDatabase() {
        return NEBADatabase::initWithDatabaseName(NEBADatabase::kDatabaseName, persistedConfig());
    }

    static std::string databasePath() {
        return NEBADatabase::databasePathWithName(NEBADatabase::kDatabaseName);
    }

    testsupport::TempDir dir_;
    std::shared_ptr<CapturingLogger> logger_;
    std::shared_ptr<NEBAMonitor> monitor_;
    std::unique_ptr<ScopedMonitor> override_;
    std::shared_ptr<NEBAPersistedConfig> config_;
};

}  // namespace analyticstest
