// Measurement configuration bytes from the server through audience filter evaluation: any
// definition must evaluate without crashing or hanging, and a complemented condition must give
// the opposite answer whenever the plain one gives an answer.
#include <cstddef>
#include <cstdint>

#include "fuzz/AnalyticsFuzzSetup.h"
#include "fuzz/Require.h"
#include "sdk/analytics/NEBAAudienceFilters.h"

namespace {

void checkComplement(const NEB_MEASUREMENT::ACPFilter& filter, const NEBAValue& value) {
    auto plain = filter;
    plain.set_complement(false);
    auto flipped = filter;
    flipped.set_complement(true);
    auto a = NEBAAudienceEvaluateFilter(plain, value);
    auto b = NEBAAudienceEvaluateFilter(flipped, value);
    if (a == NEBAAudienceEvaluation::kNotEvaluated)
        fuzzing::require(b == NEBAAudienceEvaluation::kNotEvaluated);
    else
        fuzzing::require(a != b && b != NEBAAudienceEvaluation::kNotEvaluated);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::analyticsMonitor();
    NEB_MEASUREMENT::ACPMeasurementConfig config;
    if (size > (1u << 20) || !config.ParseFromArray(data, static_cast<int>(size))) return 0;
    const NEBAValue values[] = {NEBAValue(int64_t{10}), NEBAValue(10.5), NEBAValue("10"),
                                NEBAValue("gold member")};
    for (const auto& audience : config.audiences()) {
        for (const auto& filter : audience.event_filters()) {
            ns::Dictionary parameters;
            for (const auto& condition : filter.filters())
                if (condition.has_param_name() && !condition.param_name().empty())
                    parameters.insert_or_assign(condition.param_name(), ns::Value(10));
            auto event = NEBAEvent::initWithOrigin(
                "app", true, filter.event_name().empty() ? "e" : filter.event_name(), 1.8e9, 0,
                parameters);
            auto aggregates =
                NEBAEventAggregates::initWithName(event ? event->name() : "e", 3, 0, 0);
            NEBAAudienceEvaluateEventFilter(&filter, event ? &*event : nullptr,
                                            aggregates ? &*aggregates : nullptr);
            for (const auto& condition : filter.filters())
                for (const auto& value : values) checkComplement(condition, value);
        }
        for (const auto& filter : audience.property_filters()) {
            for (const auto& value : values) {
                auto property = NEBAUserAttribute::initWithName(
                    filter.property_name().empty() ? "p" : filter.property_name(), value, 1.8e9);
                NEBAAudienceEvaluatePropertyFilter(&filter, property ? &*property : nullptr);
                if (filter.has_filter()) checkComplement(filter.filter(), value);
            }
        }
    }
    fuzzing::settleAnalyticsMonitor();
    return 0;
}
