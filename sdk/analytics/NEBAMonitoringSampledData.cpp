#include "sdk/analytics/NEBAMonitoringSampledData.h"

#include <climits>
#include <cmath>

#include "platform/dispatch/Clock.h"
#include "platform/ns/Format.h"

NEBAMonitoringSampledData::NEBAMonitoringSampledData(const ns::Value& array) {
    if (!isValidUserDefaultsArrayEntry(array)) return;
    const auto& items = *array.array();
    sample_ = Sample{*items[0].string(), static_cast<int32_t>(items[1].integerValue()),
                     *items[2].string(), items[3].date()->timeIntervalSince1970()};
}

bool NEBAMonitoringSampledData::isValidUserDefaultsArrayEntry(const ns::Value& array) {
    const auto* items = array.array();
    return items && items->size() == 4 && (*items)[0].isString() && (*items)[1].isNumber() &&
           (*items)[2].isString() && (*items)[3].isDate();
}

void NEBAMonitoringSampledData::insertOrUpdateSampledDataWithKey(const std::string& key,
                                                                 const std::string& encodedContext,
                                                                 double now) {
    if (!sample_) {
        sample_ = Sample{encodedContext, 1, key, now};
        return;
    }
    // A counter that has seen INT32_MAX messages keeps its last sample rather than wrapping.
    if (sample_->population == INT32_MAX) return;
    int32_t n = ++sample_->population;
    if (std::uniform_int_distribution<int32_t>(0, n - 1)(random_) == 0) {
        sample_->key = key;
        sample_->context = encodedContext;
    }
}

std::optional<std::string> NEBAMonitoringSampledData::monitoringDataForDispatchWithSamplePeriod(
    double samplePeriod, double lastSampledTimestamp) {
    double now = dispatch::Clock::current().wallTime();
    if (!sample_) {
        if (lastSampledTimestamp > 0 && std::fabs(now - lastSampledTimestamp) > samplePeriod) {
            return std::string("0:");
        }
        return std::nullopt;
    }
    if (std::fabs(now - sample_->started) <= samplePeriod) return std::nullopt;
    auto text = monitoringURLParamWithKey(sample_->key, sample_->population, sample_->context);
    sample_.reset();
    return text;
}

ns::Value NEBAMonitoringSampledData::sampledData() const {
    if (!sample_) return ns::Value();
    return sampledDataEntryWithKey(sample_->key, sample_->started, sample_->context,
                                   sample_->population);
}

std::string NEBAMonitoringSampledData::monitoringURLParamWithKey(const std::string& key,
                                                                 int32_t population,
                                                                 const std::string& context) {
    if (context.empty()) return ns::format("%d:%@", population, key);
    return ns::format("%d:%@:%@", population, key, context);
}

ns::Value NEBAMonitoringSampledData::sampledDataEntryWithKey(const std::string& key,
                                                             double timestamp,
                                                             const std::string& context,
                                                             int32_t population) {
    return ns::Value(ns::Array{ns::Value(context), ns::Value(population), ns::Value(key),
                               ns::Value(ns::Date::fromTimeIntervalSince1970(timestamp))});
}
