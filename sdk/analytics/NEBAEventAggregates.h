#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Running counters of one event name.
class NEBAEventAggregates {
public:
    // None for an invalid name or a negative count.
    static std::optional<NEBAEventAggregates> initWithName(const std::string& name,
                                                           int32_t lifetimeCount,
                                                           int32_t currentBundleCount,
                                                           double lastFireTimestamp);

    const std::string& name() const { return name_; }
    int32_t lifetimeCount() const { return lifetimeCount_; }
    int32_t currentBundleCount() const { return currentBundleCount_; }
    double lastFireTimestamp() const { return lastFireTimestamp_; }
    void setLastFireTimestamp(double t) { lastFireTimestamp_ = t; }

    // From INT32_MAX a counter starts again at 0, with a warning.
    void incrementLifetimeCount();
    void incrementCurrentBundleCount();

private:
    NEBAEventAggregates(std::string name, int32_t lifetime, int32_t bundle, double last)
        : name_(std::move(name)),
          lifetimeCount_(lifetime),
          currentBundleCount_(bundle),
          lastFireTimestamp_(last) {}

    std::string name_;
    int32_t lifetimeCount_;
    int32_t currentBundleCount_;
    double lastFireTimestamp_;
};
