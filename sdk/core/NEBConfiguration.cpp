#include "sdk/core/NEBConfiguration.h"

NEBConfiguration& NEBConfiguration::sharedInstance() {
    static auto& instance = *new NEBConfiguration();
    return instance;
}

NEBConfiguration::NEBConfiguration()
    : analyticsConfiguration_(NEBAnalyticsConfiguration::sharedInstance()) {}

std::shared_ptr<NEBAnalyticsConfiguration> NEBConfiguration::analyticsConfiguration() const {
    dispatch::Lock lock(mutex_);
    return analyticsConfiguration_;
}

void NEBConfiguration::setAnalyticsConfiguration(
    std::shared_ptr<NEBAnalyticsConfiguration> configuration) {
    dispatch::Lock lock(mutex_);
    analyticsConfiguration_ = std::move(configuration);
}
