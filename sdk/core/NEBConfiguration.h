#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/dispatch/Mutex.h"
#include "sdk/core/NEBAnalyticsConfiguration.h"

// The SDK's process-wide settings: a log level and the analytics configuration.
class NEBConfiguration {
public:
    static NEBConfiguration& sharedInstance();

    int64_t logLevel() const { return logLevel_.load(); }
    void setLogLevel(int64_t level) { logLevel_.store(level); }
    std::shared_ptr<NEBAnalyticsConfiguration> analyticsConfiguration() const;
    void setAnalyticsConfiguration(std::shared_ptr<NEBAnalyticsConfiguration> configuration);

private:
    NEBConfiguration();

    std::atomic<int64_t> logLevel_{0};
    mutable dispatch::Mutex mutex_;
    std::shared_ptr<NEBAnalyticsConfiguration> analyticsConfiguration_ GUARDED_BY(mutex_);
};
