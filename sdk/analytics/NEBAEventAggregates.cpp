#include "sdk/analytics/NEBAEventAggregates.h"

#include <climits>

#include "sdk/analytics/NEBADataTypeValidator.h"
#include "sdk/analytics/NEBAMonitor.h"

std::optional<NEBAEventAggregates> NEBAEventAggregates::initWithName(const std::string& name,
                                                                     int32_t lifetimeCount,
                                                                     int32_t currentBundleCount,
                                                                     double lastFireTimestamp) {
    if (!NEBADataTypeValidator::isValidInternalEventName(ns::Value(name))) return std::nullopt;
    if (lifetimeCount < 0 || currentBundleCount < 0) {
        NEBAMonitor::warning("Failed to create event aggregates object. Received negative count.");
        return std::nullopt;
    }
    return NEBAEventAggregates(name, lifetimeCount, currentBundleCount, lastFireTimestamp);
}

void NEBAEventAggregates::incrementLifetimeCount() {
    if (lifetimeCount_ == INT32_MAX) {
        lifetimeCount_ = 0;
        NEBAMonitor::warning("Lifetime count overflow. Lifetime count reset to 0.");
        return;
    }
    ++lifetimeCount_;
}

void NEBAEventAggregates::incrementCurrentBundleCount() {
    if (currentBundleCount_ == INT32_MAX) {
        currentBundleCount_ = 0;
        NEBAMonitor::warning("Bundle count overflow. Bundle count reset to 0.");
        return;
    }
    ++currentBundleCount_;
}
