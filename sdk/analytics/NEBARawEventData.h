#pragma once

#include <cstdint>
#include <optional>

#include "sdk/analytics/NEBAEvent.h"

// An event as read back from the raw events table, with its row and metadata group.
class NEBARawEventData {
public:
    // None for a negative row ID.
    static std::optional<NEBARawEventData> initWithRawEvent(const NEBAEvent& event, int64_t rowID,
                                                            int64_t metadataFingerprint);

    const NEBAEvent& rawEvent() const { return rawEvent_; }
    int64_t rowID() const { return rowID_; }
    int64_t metadataFingerprint() const { return metadataFingerprint_; }

private:
    NEBARawEventData(NEBAEvent event, int64_t rowID, int64_t fingerprint)
        : rawEvent_(std::move(event)), rowID_(rowID), metadataFingerprint_(fingerprint) {}

    NEBAEvent rawEvent_;
    int64_t rowID_;
    int64_t metadataFingerprint_;
};
