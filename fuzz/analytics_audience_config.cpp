// Measurement configuration bytes from the server through audience storage and evaluation:
// any definition must be stored or refused, and evaluate, without crashing or hanging; a
// complemented condition must give the opposite answer whenever the plain one gives an answer;
// a stored filter ID always fits one result word.
#include <cstddef>
#include <cstdint>

#include "fuzz/AnalyticsFuzzSetup.h"
#include "fuzz/Require.h"
#include "sdk/analytics/NEBAAudience.h"
#include "sdk/analytics/NEBAAudienceFilters.h"

namespace {

constexpr const char* kAppID = "1:1:ios:fuzz";

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

NEBADatabase& database() {
    static NEBADatabase* db = [] {
        auto config = NEBAPersistedConfig::initWithSuiteName("fuzz.measurement");
        auto made = NEBADatabase::initWithDatabaseName("fuzz-measurement.sql", config);
        if (!made) std::abort();
        return made.release();
    }();
    return *db;
}

const NEBAValue kValues[] = {NEBAValue(int64_t{10}), NEBAValue(10.5), NEBAValue("10"),
                             NEBAValue("gold member")};

// The definitions go through the audience engine inside a transaction that is always rolled
// back, so that every input starts from the same empty tables.
void throughStorage(const NEB_MEASUREMENT::ACPMeasurementConfig& config) {
    auto settings = config;
    settings.clear_audiences();
    settings.set_nmp_app_id(kAppID);
    auto& db = database();
    auto remote = NEBARemoteConfig::initWithNMPAppID(kAppID, &db, settings);
    auto audience = NEBAAudience::initWithDatabase(&db, remote);
    db.performTransaction([&] {
        if (!audience->updateACPAudiences(config.audiences())) return false;
        for (const auto& definition : config.audiences()) {
            for (const auto& filter : definition.event_filters()) {
                auto event = NEBAEvent::initWithOrigin("app", true, filter.event_name(), 1.8e9, 0,
                                                       {{"p", ns::Value(10)}});
                auto aggregates = NEBAEventAggregates::initWithName(
                    filter.event_name().empty() ? "e" : filter.event_name(), 3, 0, 0);
                if (event && aggregates) audience->evaluateFiltersForEvent(*event, *aggregates);
            }
            for (const auto& filter : definition.property_filters()) {
                for (const auto& value : kValues) {
                    auto property =
                        NEBAUserAttribute::initWithName(filter.property_name(), value, 1.8e9);
                    if (property) audience->evaluateFiltersForUserProperty(*property);
                }
            }
        }
        for (const auto& stored : db.allFilterResults().valueOr({})) {
            NEB_MEASUREMENT::ACPResultData words;
            if (words.ParseFromString(std::string(stored.second.currentResults.chars())) &&
                words.status_size() > 0)
                fuzzing::require((words.results(0) & ~words.status(0)) == 0);
        }
        audience->resultsForBundling();
        return false;
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::analyticsMonitor();
    NEB_MEASUREMENT::ACPMeasurementConfig config;
    if (size > (1u << 20) || !config.ParseFromArray(data, static_cast<int>(size))) return 0;
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
                for (const auto& value : kValues) checkComplement(condition, value);
        }
        for (const auto& filter : audience.property_filters()) {
            for (const auto& value : kValues) {
                auto property = NEBAUserAttribute::initWithName(
                    filter.property_name().empty() ? "p" : filter.property_name(), value, 1.8e9);
                NEBAAudienceEvaluatePropertyFilter(&filter, property ? &*property : nullptr);
                if (filter.has_filter()) checkComplement(filter.filter(), value);
            }
        }
    }
    throughStorage(config);
    fuzzing::settleAnalyticsMonitor();
    return 0;
}
