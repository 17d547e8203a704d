#include "sdk/analytics/NEBARawEventData.h"

#include "sdk/analytics/NEBAMonitor.h"

std::optional<NEBARawEventData> NEBARawEventData::initWithRawEvent(const NEBAEvent& event,
                                                                   int64_t rowID,
                                                                   int64_t metadataFingerprint) {
    if (rowID < 0) {
        NEBAMonitor::warning("Failed to create raw event data. Received invalid row ID. Row ID",
                             {ns::Value(static_cast<long long>(rowID))});
        return std::nullopt;
    }
    return NEBARawEventData(event, rowID, metadataFingerprint);
}
