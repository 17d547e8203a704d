#pragma once

#include <cstdint>
#include <optional>

// Where the app's bundle sequence stands.
class NEBAAppMetadata {
public:
    // None for a negative index.
    static std::optional<NEBAAppMetadata> initWithLastBundleIndex(int32_t lastBundleIndex,
                                                                  double lastBundleStartTimestamp,
                                                                  double lastBundleEndTimestamp);

    int32_t lastBundleIndex() const { return lastBundleIndex_; }
    double lastBundleStartTimestamp() const { return lastBundleStartTimestamp_; }
    void setLastBundleStartTimestamp(double t) { lastBundleStartTimestamp_ = t; }
    double lastBundleEndTimestamp() const { return lastBundleEndTimestamp_; }
    void setLastBundleEndTimestamp(double t) { lastBundleEndTimestamp_ = t; }
    // From INT32_MAX the index starts again at 0, with a warning.
    void incrementLastBundleIndex();

private:
    NEBAAppMetadata(int32_t index, double start, double end)
        : lastBundleIndex_(index), lastBundleStartTimestamp_(start), lastBundleEndTimestamp_(end) {}

    int32_t lastBundleIndex_;
    double lastBundleStartTimestamp_;
    double lastBundleEndTimestamp_;
};
