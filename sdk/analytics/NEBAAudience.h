#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "platform/ns/Result.h"
#include "proto/measurement.pb.h"
#include "sdk/analytics/NEBADatabase.h"
#include "sdk/analytics/NEBAEvent.h"
#include "sdk/analytics/NEBAEventAggregates.h"
#include "sdk/analytics/NEBAFilterResult.h"
#include "sdk/analytics/NEBARemoteConfig.h"
#include "sdk/analytics/NEBAUserAttribute.h"
#include "sdk/core/pb.h"

// The audiences of the measurement configuration, evaluated on the device: stores their
// filters, keeps per audience which filters were evaluated and which held (one bit per filter
// ID in a 64-bit word), and hands the results to bundling. Runs on the worker queue, inside the
// caller's transaction; NO from an operation means the store failed and the caller rolls back.
class NEBAAudience {
public:
    using Audiences = pb::RepeatedPtrField<NEB_MEASUREMENT::ACPAudience>;
    using LeafResults = std::vector<NEB_MEASUREMENT::ACPAudienceLeafFilterResult>;

    // One result word holds 64 filters; a higher ID would share a bit with a lower one, so
    // definitions that use one are refused whatever the configured limit.
    static constexpr int32_t kFilterIDLimit = 64;

    // Null without a database.
    static std::unique_ptr<NEBAAudience> initWithDatabase(
        NEBADatabase* database, std::shared_ptr<NEBARemoteConfig> remoteConfig);

    bool updateACPAudiences(const Audiences& audiences);
    bool evaluateFiltersForEvent(const NEBAEvent& event, const NEBAEventAggregates& aggregates);
    bool evaluateFiltersForUserProperty(const NEBAUserAttribute& property);
    bool maybeDeleteStaleFilterResults(const std::set<int32_t>& audienceIDs);
    // None when the store failed.
    std::optional<LeafResults> resultsForBundling();

    // Valid, or the first problem as an analytics error (9 audience, 10 event filter, 11
    // property filter).
    static ns::Status isValidACPAudience(const NEB_MEASUREMENT::ACPAudience& audience,
                                         const std::set<int32_t>& usedAudienceIDs,
                                         int32_t maxFiltersPerAudience,
                                         int32_t maxParametersPerFilter);
    static bool isFilterResult(const NEBAFilterResult& result, int32_t filterID);
    static NEBAFilterResult updatedFilterResultWithFilterID(
        int32_t filterID, int32_t audienceID, const std::optional<NEBAFilterResult>& current,
        bool newEvaluationResult);

private:
    NEBAAudience(NEBADatabase* database, std::shared_ptr<NEBARemoteConfig> remoteConfig)
        : database_(database), remoteConfig_(std::move(remoteConfig)) {}
    template <class Filter, class Evaluate>
    bool evaluateFilters(const ns::Result<std::vector<Filter>>& filters, const std::string& name,
                         const char* const* messages, const Evaluate& evaluate);

    NEBADatabase* database_;
    std::shared_ptr<NEBARemoteConfig> remoteConfig_;
};
