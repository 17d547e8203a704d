#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>

#include "platform/ns/Value.h"

// A reservoir of one message: which monitorable message was seen, with its encoded context, and
// how many were seen since the sample started. Its stored form is the four-element array
// [context, population, key, start date].
class NEBAMonitoringSampledData {
public:
    // Anything but a valid stored array starts empty.
    explicit NEBAMonitoringSampledData(const ns::Value& array);

    // `now` is when the message was logged: the sample's period starts then, not when the
    // monitor's queue comes to it.
    void insertOrUpdateSampledDataWithKey(const std::string& key, const std::string& encodedContext,
                                          double now);
    // The health string once a whole period has passed since the sample started (the sample is
    // then dropped), "0:" after a whole period without any, otherwise none.
    std::optional<std::string> monitoringDataForDispatchWithSamplePeriod(
        double samplePeriod, double lastSampledTimestamp);

    // The stored form, or null without a sample.
    ns::Value sampledData() const;

    static bool isValidUserDefaultsArrayEntry(const ns::Value& array);
    static std::string monitoringURLParamWithKey(const std::string& key, int32_t population,
                                                 const std::string& context);
    static ns::Value sampledDataEntryWithKey(const std::string& key, double timestamp,
                                             const std::string& context, int32_t population);

private:
    struct Sample {
        std::string context;
        int32_t population = 0;
        std::string key;
        double started = 0;
    };
    std::optional<Sample> sample_;
    std::mt19937_64 random_{std::random_device{}()};
};
