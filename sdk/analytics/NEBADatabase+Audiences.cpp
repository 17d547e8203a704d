// NEBADatabase: audience definitions (event and property filters) and their results.
#include <set>

#include "sdk/analytics/NEBADatabase.h"

namespace {

constexpr const char* kEventFiltersTable = "event_filters";
constexpr const char* kPropertyFiltersTable = "property_filters";
constexpr const char* kFilterValuesTable = "audience_filter_values";

std::optional<int32_t> int32Of(const NEBADatabase::Record& record, std::string_view key) {
    auto it = record.find(key);
    if (it == record.end()) return std::nullopt;
    auto value = it->second.int64();
    if (!value || *value < INT32_MIN || *value > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(*value);
}

std::string stringOf(const NEBADatabase::Record& record, std::string_view key) {
    auto it = record.find(key);
    return it != record.end() && it->second.string() ? *it->second.string() : std::string();
}

ns::Data dataOf(const NEBADatabase::Record& record, std::string_view key) {
    auto it = record.find(key);
    return it != record.end() && it->second.data() ? *it->second.data() : ns::Data();
}

ns::Status deleteWithCondition(NEBASqliteStore& store, const char* table,
                               const std::string& condition) {
    auto deleted = store.deleteRecordsFromTableWithName(table, condition);
    if (!deleted) return deleted.error();
    return {};
}

// Writes each item's record in turn; the first that makes no record or fails to write stops it.
template <class Item>
ns::Status upsertEach(NEBASqliteStore& store, const char* table, const std::vector<Item>& items,
                      std::optional<NEBADatabase::Record> (*recordOf)(const Item&)) {
    for (const auto& item : items) {
        auto record = recordOf(item);
        if (!record) return neba_argumentError("Received empty record for upsert");
        auto written = store.upsertRecord(*record, table);
        if (!written) return written;
    }
    return {};
}

// "(audience_id=A AND filter_id=F) OR ..." for the filters' keys.
template <class Filter>
std::string filterKeysCondition(const std::vector<Filter>& filters) {
    std::string condition;
    for (const auto& filter : filters) {
        if (!condition.empty()) condition += " OR ";
        condition +=
            ns::format("(audience_id=%d AND filter_id=%d)", filter.audienceID, filter.filterID);
    }
    return condition;
}

}  // namespace

// --- Conversions -------------------------------------------------------------------------

std::optional<NEBAEventFilter> NEBADatabase::eventFilterFromDictionary(const Record& record) {
    if (record.empty()) {
        NEBAMonitor::warning("Received empty dictionary for getting event filter");
        return std::nullopt;
    }
    auto audience = int32Of(record, "audience_id");
    auto filter = int32Of(record, "filter_id");
    if (!audience || !filter) return std::nullopt;
    return NEBAEventFilter{*audience, *filter, stringOf(record, "event_name"),
                           dataOf(record, "data")};
}

std::optional<NEBADatabase::Record> NEBADatabase::dictionaryFromEventFilter(
    const NEBAEventFilter& filter) {
    if (filter.eventName.empty()) {
        NEBAMonitor::warning(
            "Received event filter with empty event name for getting dictionary representation");
        return std::nullopt;
    }
    if (filter.data.empty()) {
        NEBAMonitor::warning(
            "Received event filter with empty data for getting dictionary representation");
        return std::nullopt;
    }
    return Record{{"audience_id", ns::Value(filter.audienceID)},
                  {"filter_id", ns::Value(filter.filterID)},
                  {"event_name", ns::Value(filter.eventName)},
                  {"data", ns::Value(filter.data)}};
}

std::optional<NEBAPropertyFilter> NEBADatabase::propertyFilterFromDictionary(const Record& record) {
    if (record.empty()) {
        NEBAMonitor::warning("Received empty dictionary for getting property filter");
        return std::nullopt;
    }
    auto audience = int32Of(record, "audience_id");
    auto filter = int32Of(record, "filter_id");
    if (!audience || !filter) return std::nullopt;
    return NEBAPropertyFilter{*audience, *filter, stringOf(record, "property_name"),
                              dataOf(record, "data")};
}

std::optional<NEBADatabase::Record> NEBADatabase::dictionaryFromPropertyFilter(
    const NEBAPropertyFilter& filter) {
    if (filter.propertyName.empty()) {
        NEBAMonitor::warning(
            "Received property filter with empty property name for getting dictionary "
            "representation");
        return std::nullopt;
    }
    if (filter.data.empty()) {
        NEBAMonitor::warning(
            "Received property filter with empty data for getting dictionary representation");
        return std::nullopt;
    }
    return Record{{"audience_id", ns::Value(filter.audienceID)},
                  {"filter_id", ns::Value(filter.filterID)},
                  {"property_name", ns::Value(filter.propertyName)},
                  {"data", ns::Value(filter.data)}};
}

std::optional<NEBAFilterResult> NEBADatabase::filterResultFromDictionary(const Record& record) {
    if (record.empty()) {
        NEBAMonitor::warning("Received empty dictionary for getting filter result");
        return std::nullopt;
    }
    auto audience = int32Of(record, "audience_id");
    if (!audience) return std::nullopt;
    return NEBAFilterResult{*audience, dataOf(record, "current_results"),
                            dataOf(record, "previous_results")};
}

std::optional<NEBADatabase::Record> NEBADatabase::dictionaryFromFilterResult(
    const NEBAFilterResult& result) {
    if (result.currentResults.empty()) {
        NEBAMonitor::warning(
            "Received filter result with empty data for getting dictionary representation");
        return std::nullopt;
    }
    return Record{
        {"audience_id", ns::Value(result.audienceID)},
        {"current_results", ns::Value(result.currentResults)},
        {"previous_results",
         result.previousResults.empty() ? ns::Value() : ns::Value(result.previousResults)}};
}

// --- Reads -------------------------------------------------------------------------------

ns::Result<std::map<int32_t, NEBAFilterResult>> NEBADatabase::allFilterResults() {
    auto results = allDataTypesFromTableWithName<NEBAFilterResult>(kFilterValuesTable, -1,
                                                                   filterResultFromDictionary);
    if (!results) return results.error();
    std::map<int32_t, NEBAFilterResult> byAudience;
    for (auto& result : *results) byAudience.insert_or_assign(result.audienceID, std::move(result));
    return byAudience;
}

ns::Result<std::vector<int32_t>> NEBADatabase::allAudienceIDs() {
    auto records = store_->recordsForQuery(
        "SELECT audience_id FROM event_filters UNION SELECT audience_id FROM property_filters");
    if (!records) return records.error();
    std::vector<int32_t> ids;
    for (const auto& record : *records) {
        auto id = int32Of(record, "audience_id");
        if (!id)
            return neba_argumentError("Received nil audience ID for querying all audience IDs");
        ids.push_back(*id);
    }
    return ids;
}

ns::Result<std::vector<NEBAEventFilter>> NEBADatabase::eventFiltersForEventName(
    const std::string& name) {
    if (name.empty())
        return neba_argumentError("Received empty event name for getting event filters");
    return dataTypesFromTableWithName<NEBAEventFilter>(kEventFiltersTable, "event_name", name,
                                                       eventFilterFromDictionary);
}

ns::Result<std::vector<NEBAPropertyFilter>> NEBADatabase::propertyFiltersForPropertyName(
    const std::string& name) {
    if (name.empty())
        return neba_argumentError("Received empty property name for getting property filters");
    return dataTypesFromTableWithName<NEBAPropertyFilter>(kPropertyFiltersTable, "property_name",
                                                          name, propertyFilterFromDictionary);
}

ns::Result<std::optional<NEBAFilterResult>> NEBADatabase::filterResultForAudienceID(
    int32_t audienceID) {
    auto results = dataTypesFromTableWithName<NEBAFilterResult>(
        kFilterValuesTable, "audience_id", std::to_string(audienceID), filterResultFromDictionary);
    if (!results) return results.error();
    if (results->empty()) return std::optional<NEBAFilterResult>();
    return std::optional<NEBAFilterResult>(std::move(results->front()));
}

// --- Writes ------------------------------------------------------------------------------

ns::Status NEBADatabase::updateEventFilters(const std::vector<NEBAEventFilter>& filters) {
    if (filters.empty()) return neba_argumentError("Received empty event filters to update");
    return upsertEach(*store_, kEventFiltersTable, filters, &dictionaryFromEventFilter);
}

ns::Status NEBADatabase::updatePropertyFilters(const std::vector<NEBAPropertyFilter>& filters) {
    if (filters.empty()) return neba_argumentError("Received empty property filters to update");
    return upsertEach(*store_, kPropertyFiltersTable, filters, &dictionaryFromPropertyFilter);
}

ns::Status NEBADatabase::updateFilterResults(const std::vector<NEBAFilterResult>& results) {
    if (results.empty()) return neba_argumentError("Received empty filter results to update");
    return upsertEach(*store_, kFilterValuesTable, results, &dictionaryFromFilterResult);
}

// --- Deletes -----------------------------------------------------------------------------

ns::Status NEBADatabase::deleteFilterResults(const std::vector<NEBAFilterResult>& results) {
    if (results.empty()) return neba_argumentError("Received empty filter results to delete");
    std::vector<int32_t> ids;
    std::set<int32_t> seen;
    for (const auto& result : results) {
        if (seen.insert(result.audienceID).second) ids.push_back(result.audienceID);
    }
    std::string list;
    for (int32_t id : ids) list += (list.empty() ? "" : ",") + std::to_string(id);
    return deleteWithCondition(*store_, kFilterValuesTable,
                               ns::format("%@ IN (%@)", std::string("audience_id"), list));
}

ns::Status NEBADatabase::deleteEventFilters(const std::vector<NEBAEventFilter>& filters) {
    if (filters.empty()) return neba_argumentError("Received empty event filters to delete");
    return deleteWithCondition(*store_, kEventFiltersTable, filterKeysCondition(filters));
}

ns::Status NEBADatabase::deletePropertyFilters(const std::vector<NEBAPropertyFilter>& filters) {
    if (filters.empty()) return neba_argumentError("Received empty property filters to delete");
    return deleteWithCondition(*store_, kPropertyFiltersTable, filterKeysCondition(filters));
}

ns::Status NEBADatabase::deleteAllEventFilters() {
    return store_->deleteAllRecordsFromTableWithName(kEventFiltersTable);
}

ns::Status NEBADatabase::deleteAllPropertyFilters() {
    return store_->deleteAllRecordsFromTableWithName(kPropertyFiltersTable);
}
