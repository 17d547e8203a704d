#include "sdk/analytics/NEBAAppMetadata.h"

#include <climits>

#include "sdk/analytics/NEBAMonitor.h"

std::optional<NEBAAppMetadata> NEBAAppMetadata::initWithLastBundleIndex(
    int32_t lastBundleIndex, double lastBundleStartTimestamp, double lastBundleEndTimestamp) {
    if (lastBundleIndex < 0) {
        NEBAMonitor::warning(
            "Failed to create app metadata object. Received negative last bundle index.");
        return std::nullopt;
    }
    return NEBAAppMetadata(lastBundleIndex, lastBundleStartTimestamp, lastBundleEndTimestamp);
}

void NEBAAppMetadata::incrementLastBundleIndex() {
    if (lastBundleIndex_ == INT32_MAX) {
        lastBundleIndex_ = 0;
        NEBAMonitor::warning("Bundle index overflow. Bundle index reset to 0.");
        return;
    }
    ++lastBundleIndex_;
}
