#include "sdk/analytics/NEBAAudience.h"

#include <map>

#include "sdk/analytics/NEBAAudienceFilters.h"
#include "sdk/analytics/NEBAInternalNames.h"
#include "sdk/analytics/NEBAMonitor.h"
#include "sdk/analytics/NSError+NEBAAdditions.h"

namespace {

using NEB_MEASUREMENT::ACPAudience;
using NEB_MEASUREMENT::ACPEventFilter;
using NEB_MEASUREMENT::ACPFilter;
using NEB_MEASUREMENT::ACPPropertyFilter;
using NEB_MEASUREMENT::ACPResultData;

uint64_t bitOf(int32_t filterID) {
    return uint64_t{1} << (static_cast<uint32_t>(filterID) % 64);
}

ns::Data serialized(const pb::MessageLite& message) {
    return ns::Data::fromString(message.SerializeAsString());
}

void renameToInternal(std::string* name, const NEBAInternalNames::NameMap& map) {
    if (auto it = map.find(*name); it != map.end()) *name = it->second;
}

ns::Error invalid(int64_t code, std::string_view description) {
    return neba_errorWithCode(code, description);
}

// The checks of one condition, shared by the parameters of event filters and by property
// filters; `kind` is "Event" or "Property".
ns::Status checkCondition(const ACPFilter& filter, int64_t code, const std::string& kind) {
    if (filter.has_number_filter() == filter.has_string_filter())
        return invalid(code, kind + " filter must have exactly one of number or string filter");
    if (filter.has_number_filter() && !NEBAAudienceIsValidNumberFilter(filter.number_filter()))
        return invalid(code, kind + " filter has invalid number filter");
    if (filter.has_string_filter() && !NEBAAudienceIsValidStringFilter(filter.string_filter()))
        return invalid(code, kind + " filter has invalid string filter");
    return {};
}

bool filterIDInRange(bool present, int32_t id, int32_t maxFilters) {
    return present && id >= 0 && id < maxFilters && id < NEBAAudience::kFilterIDLimit;
}

// Texts of one evaluation kind: query, result read, no data, save.
constexpr const char* kEventMessages[] = {
    "Unable to query event filters for event. Event will not be evaluated. Event name, error",
    "Unable to query filter result for audience. Event will not be evaluated. Event name, error",
    "Event filter contains no data. Event will not be evaluated. Event name, filter ID, audience "
    "ID",
    "Unable to save updated Audience filter results. Event will not be evaluated. Event name, "
    "error"};
constexpr const char* kPropertyMessages[] = {
    "Unable to query property filters for property. Property will not be evaluated. Property "
    "name, error",
    "Unable to query filter result for audience. Property will not be evaluated. Property name, "
    "error",
    "User property filter contains no data. User property will not be evaluated. User property "
    "name, filter ID, audience ID",
    "Unable to save updated Audience filter results. User property will not be evaluated. User "
    "property name, error"};

}  // namespace

std::unique_ptr<NEBAAudience> NEBAAudience::initWithDatabase(
    NEBADatabase* database, std::shared_ptr<NEBARemoteConfig> remoteConfig) {
    if (!database) return nullptr;
    if (!remoteConfig) remoteConfig = NEBARemoteConfig::defaultInstance();
    return std::unique_ptr<NEBAAudience>(new NEBAAudience(database, std::move(remoteConfig)));
}

// --- Definitions ---------------------------------------------------------------------------

ns::Status NEBAAudience::isValidACPAudience(const ACPAudience& audience,
                                            const std::set<int32_t>& usedAudienceIDs,
                                            int32_t maxFiltersPerAudience,
                                            int32_t maxParametersPerFilter) {
    using enum NEBADomainCode::AudiencePart;
    if (!audience.has_audience_id() || audience.audience_id() < 0)
        return invalid(Audience, "Audience ID missing or negative");
    if (usedAudienceIDs.contains(audience.audience_id()))
        return invalid(Audience, "Duplicate audience ID");
    if (audience.event_filters_size() == 0 && audience.property_filters_size() == 0)
        return invalid(Audience, "Audience missing filters arrays");
    int64_t count = int64_t{audience.event_filters_size()} + audience.property_filters_size();
    if (count < 1 || count > maxFiltersPerAudience)
        return invalid(Audience, "Audience filter count out of range");

    std::set<int32_t> filterIDs;
    for (const auto& filter : audience.event_filters()) {
        if (!filter.has_event_name() || filter.event_name().empty())
            return invalid(EventFilter, "Event filter missing event name");
        if (!filterIDInRange(filter.has_id(), filter.id(), maxFiltersPerAudience))
            return invalid(EventFilter, "Event filter ID missing or out of range");
        if (!filterIDs.insert(filter.id()).second)
            return invalid(EventFilter, "Duplicate event filter ID");
        if (filter.has_event_count_filter()) {
            const auto& countFilter = filter.event_count_filter();
            if (countFilter.has_match_as_float() && countFilter.match_as_float())
                return invalid(EventFilter, "Event filter has float event count filter");
            if (!NEBAAudienceIsValidNumberFilter(countFilter))
                return invalid(EventFilter, "Event filter has invalid event count filter");
        }
        if (filter.filters_size() > maxParametersPerFilter)
            return invalid(EventFilter, "Event filter parameters filters count out of range");
        for (const auto& condition : filter.filters()) {
            if (!condition.has_param_name() || condition.param_name().empty())
                return invalid(EventFilter, "Event filter missing parameter name");
            auto checked = checkCondition(condition, EventFilter, "Event");
            if (!checked) return checked;
        }
    }
    for (const auto& filter : audience.property_filters()) {
        if (!filter.has_property_name() || filter.property_name().empty())
            return invalid(PropertyFilter, "Property filter missing property name");
        if (!filterIDInRange(filter.has_id(), filter.id(), maxFiltersPerAudience))
            return invalid(PropertyFilter, "Property filter ID missing or out of range");
        if (!filterIDs.insert(filter.id()).second)
            return invalid(PropertyFilter, "Duplicate property filter ID");
        if (!filter.has_filter()) return invalid(PropertyFilter, "Property filter has no filter");
        auto checked = checkCondition(filter.filter(), PropertyFilter, "Property");
        if (!checked) return checked;
    }
    return {};
}

bool NEBAAudience::updateACPAudiences(const Audiences& audiences) {
    int32_t maxAudiences = remoteConfig_->maxAudienceCount();
    if (audiences.size() > maxAudiences) {
        NEBAMonitor::error(
            "Configuration contains too many audiences. Audiences will not be saved. "
            "Audience count",
            {ns::Value(audiences.size())});
        return true;
    }
    int32_t maxFilters = remoteConfig_->maxFiltersPerAudience();
    int32_t maxParameters = remoteConfig_->maxParametersPerFilter();
    std::set<int32_t> accepted;
    std::vector<NEBAEventFilter> eventFilters;
    std::vector<NEBAPropertyFilter> propertyFilters;
    for (const auto& definition : audiences) {
        if (auto valid = isValidACPAudience(definition, accepted, maxFilters, maxParameters);
            !valid) {
            NEBAMonitor::error(
                "Audience definition is invalid. Audience will not be saved. Audience, error",
                {ns::Value(definition.audience_id()), valid.error()});
            continue;
        }
        accepted.insert(definition.audience_id());
        ACPAudience audience = definition;
        for (auto& filter : *audience.mutable_event_filters()) {
            renameToInternal(filter.mutable_event_name(), NEBAInternalNames::eventNameMap());
            for (auto& condition : *filter.mutable_filters())
                renameToInternal(condition.mutable_param_name(),
                                 NEBAInternalNames::parameterNameMap());
            eventFilters.push_back(NEBAEventFilter{audience.audience_id(), filter.id(),
                                                   filter.event_name(), serialized(filter)});
        }
        for (auto& filter : *audience.mutable_property_filters()) {
            renameToInternal(filter.mutable_property_name(),
                             NEBAInternalNames::userPropertyNameMap());
            propertyFilters.push_back(NEBAPropertyFilter{
                audience.audience_id(), filter.id(), filter.property_name(), serialized(filter)});
        }
    }
    if (!maybeDeleteStaleFilterResults(accepted)) return false;

    auto fail = [](const char* message, const ns::Status& status) {
        NEBAMonitor::error(message, {status.error()});
        return false;
    };
    if (auto done = database_->deleteAllEventFilters(); !done)
        return fail(
            "Unable to delete existing Audience event filters. Audiences will not be saved. Error",
            done);
    if (auto done = database_->deleteAllPropertyFilters(); !done)
        return fail(
            "Unable to delete existing Audience user property filters. Audiences will not be "
            "saved. Error",
            done);
    if (!eventFilters.empty()) {
        if (auto done = database_->updateEventFilters(eventFilters); !done)
            return fail("Unable to save Audience event filters. Audiences will not be saved. Error",
                        done);
    }
    if (!propertyFilters.empty()) {
        if (auto done = database_->updatePropertyFilters(propertyFilters); !done)
            return fail(
                "Unable to save Audience user property filters. Audiences will not be saved. "
                "Error",
                done);
    }
    auto properties = database_->userAttributesIncludingInternal(true);
    if (!properties) {
        NEBAMonitor::error(
            "Unable to query current user properties. Audiences will not be saved. Error",
            {properties.error()});
        return false;
    }
    for (const auto& property : *properties) {
        if (!evaluateFiltersForUserProperty(property)) return false;
    }
    return true;
}

bool NEBAAudience::maybeDeleteStaleFilterResults(const std::set<int32_t>& audienceIDs) {
    auto results = database_->allFilterResults();
    if (!results) {
        NEBAMonitor::error(
            "Unable to query Audience filter results. Audiences will not be saved. "
            "Error",
            {results.error()});
        return false;
    }
    int32_t maxResults = remoteConfig_->maxFilterResultCount();
    if (results->size() <= static_cast<size_t>(std::max(maxResults, 0))) return true;
    NEBAMonitor::log(NEBALogLevel::WarningNotSampled,
                     "Too many Audience filter results. Deleting filter results for deleted "
                     "Audiences. Filter result count, max filter result count",
                     {ns::Value(static_cast<long long>(results->size())), ns::Value(maxResults)});
    auto current = database_->allAudienceIDs();
    if (!current) {
        NEBAMonitor::error(
            "Unable to query current Audience IDs. Audiences will not be saved. Error",
            {current.error()});
        return false;
    }
    std::set<int32_t> kept(current->begin(), current->end());
    kept.insert(audienceIDs.begin(), audienceIDs.end());
    std::vector<NEBAFilterResult> stale;
    for (const auto& [audienceID, result] : *results) {
        if (!kept.contains(audienceID)) stale.push_back(result);
    }
    // Every stored result belongs to a live audience: nothing to purge is no failure (the
    // store refuses an empty delete, and treating that as one would refuse every update).
    if (stale.empty()) return true;
    if (auto deleted = database_->deleteFilterResults(stale); !deleted) {
        NEBAMonitor::error(
            "Unable to delete stale Audience filter results. Audiences will not be "
            "saved. Error",
            {deleted.error()});
        return false;
    }
    return true;
}

// --- Evaluation ----------------------------------------------------------------------------

template <class Filter, class Evaluate>
bool NEBAAudience::evaluateFilters(const ns::Result<std::vector<Filter>>& filters,
                                   const std::string& name, const char* const* messages,
                                   const Evaluate& evaluate) {
    if (!filters) {
        NEBAMonitor::error(messages[0], {ns::Value(name), filters.error()});
        return false;
    }
    // Results changed by this call, and results read during it.
    std::map<int32_t, NEBAFilterResult> updated;
    std::map<int32_t, std::optional<NEBAFilterResult>> read;
    for (const auto& filter : *filters) {
        std::optional<NEBAFilterResult> current;
        if (auto it = updated.find(filter.audienceID); it != updated.end()) {
            current = it->second;
        } else if (auto cached = read.find(filter.audienceID); cached != read.end()) {
            current = cached->second;
        } else {
            auto stored = database_->filterResultForAudienceID(filter.audienceID);
            if (!stored) {
                NEBAMonitor::error(messages[1], {ns::Value(name), stored.error()});
                return false;
            }
            current = *stored;
            read.emplace(filter.audienceID, current);
        }
        // A filter that held once holds for good.
        if (current && isFilterResult(*current, filter.filterID)) continue;
        auto outcome = evaluate(filter);
        if (!outcome) {
            NEBAMonitor::error(messages[2], {ns::Value(name), ns::Value(filter.filterID),
                                             ns::Value(filter.audienceID)});
            continue;
        }
        if (*outcome == NEBAAudienceEvaluation::kNotEvaluated) continue;
        updated.insert_or_assign(filter.audienceID, updatedFilterResultWithFilterID(
                                                        filter.filterID, filter.audienceID, current,
                                                        *outcome == NEBAAudienceEvaluation::kTrue));
        read.erase(filter.audienceID);
    }
    if (updated.empty()) return true;
    std::vector<NEBAFilterResult> results;
    for (auto& [audienceID, result] : updated) results.push_back(std::move(result));
    if (auto saved = database_->updateFilterResults(results); !saved) {
        NEBAMonitor::error(messages[3], {ns::Value(name), saved.error()});
        return false;
    }
    return true;
}

bool NEBAAudience::evaluateFiltersForEvent(const NEBAEvent& event,
                                           const NEBAEventAggregates& aggregates) {
    return evaluateFilters(
        database_->eventFiltersForEventName(event.name()), event.name(), kEventMessages,
        [&](const NEBAEventFilter& filter) -> std::optional<NEBAAudienceEvaluation> {
            auto message = NEBADatabase::safeParse<ACPEventFilter>(filter.data, "ACPEventFilter");
            if (!message) return std::nullopt;
            return NEBAAudienceEvaluateEventFilter(&*message, &event, &aggregates);
        });
}

bool NEBAAudience::evaluateFiltersForUserProperty(const NEBAUserAttribute& property) {
    return evaluateFilters(
        database_->propertyFiltersForPropertyName(property.name()), property.name(),
        kPropertyMessages,
        [&](const NEBAPropertyFilter& filter) -> std::optional<NEBAAudienceEvaluation> {
            auto message =
                NEBADatabase::safeParse<ACPPropertyFilter>(filter.data, "ACPPropertyFilter");
            if (!message) return std::nullopt;
            return NEBAAudienceEvaluatePropertyFilter(&*message, &property);
        });
}

// --- Result words ----------------------------------------------------------------------------

bool NEBAAudience::isFilterResult(const NEBAFilterResult& result, int32_t filterID) {
    if (result.currentResults.empty()) return false;
    auto data = NEBADatabase::safeParse<ACPResultData>(result.currentResults, "ACPResultData");
    if (!data || data->status_size() == 0 || data->results_size() == 0) {
        NEBAMonitor::log(NEBALogLevel::ErrorSampledOnly,
                         "Audience filter result is non-nil and is missing status or results "
                         "array. Audience result will not be bundled. Audience ID, result data",
                         {ns::Value(result.audienceID), ns::Value(result.currentResults)});
        return false;
    }
    uint64_t bit = bitOf(filterID);
    return (data->status(0) & bit) && (data->results(0) & bit);
}

NEBAFilterResult NEBAAudience::updatedFilterResultWithFilterID(
    int32_t filterID, int32_t audienceID, const std::optional<NEBAFilterResult>& current,
    bool newEvaluationResult) {
    uint64_t status = 0;
    uint64_t results = 0;
    if (current && !current->currentResults.empty()) {
        auto data =
            NEBADatabase::safeParse<ACPResultData>(current->currentResults, "ACPResultData");
        if (data && data->status_size() > 0 && data->results_size() > 0) {
            status = data->status(0);
            results = data->results(0);
        }
    }
    uint64_t bit = bitOf(filterID);
    status |= bit;
    results = newEvaluationResult ? (results | bit) : (results & ~bit);
    ACPResultData words;
    words.add_status(status);
    words.add_results(results);
    NEBAFilterResult updated;
    updated.audienceID = audienceID;
    updated.currentResults = serialized(words);
    if (current) updated.previousResults = current->previousResults;
    return updated;
}

std::optional<NEBAAudience::LeafResults> NEBAAudience::resultsForBundling() {
    auto stored = database_->allFilterResults();
    if (!stored) {
        NEBAMonitor::error(
            "Unable to query Audience filter results. Audience results will not be "
            "bundled. Error",
            {stored.error()});
        return std::nullopt;
    }
    LeafResults leaves;
    std::vector<NEBAFilterResult> rewritten;
    for (const auto& [audienceID, result] : *stored) {
        auto current =
            NEBADatabase::safeParse<ACPResultData>(result.currentResults, "ACPResultData");
        if (!current) {
            NEBAMonitor::error(
                "Current result data is nil. Audience result will not be bundled. "
                "Audience ID",
                {ns::Value(audienceID)});
            continue;
        }
        if (current->status_size() == 0 || current->status(0) == 0) {
            NEBAMonitor::error(
                "Current result status is 0. Audience result will not be bundled. "
                "Audience ID",
                {ns::Value(audienceID)});
            continue;
        }
        NEB_MEASUREMENT::ACPAudienceLeafFilterResult leaf;
        leaf.set_audience_id(audienceID);
        *leaf.mutable_current_data() = *current;
        if (result.previousResults.empty()) {
            leaf.set_new_audience(true);
        } else {
            leaf.set_new_audience(false);
            auto previous =
                NEBADatabase::safeParse<ACPResultData>(result.previousResults, "ACPResultData");
            if (previous && previous->SerializeAsString() != current->SerializeAsString())
                *leaf.mutable_previous_data() = *previous;
        }
        leaves.push_back(std::move(leaf));
        rewritten.push_back(
            NEBAFilterResult{audienceID, result.currentResults, result.currentResults});
    }
    if (!rewritten.empty()) {
        if (auto saved = database_->updateFilterResults(rewritten); !saved) {
            NEBAMonitor::error(
                "Unable to save updated Audience filter results. Audience results "
                "will not be bundled. Error",
                {saved.error()});
            return std::nullopt;
        }
    }
    return leaves;
}
