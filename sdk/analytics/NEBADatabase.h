#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ns/Result.h"
#include "proto/measurement.pb.h"
#include "sdk/analytics/NEBAAppMetadata.h"
#include "sdk/analytics/NEBADailyCounts.h"
#include "sdk/analytics/NEBAEvent.h"
#include "sdk/analytics/NEBAEventAggregates.h"
#include "sdk/analytics/NEBAEventFilter.h"
#include "sdk/analytics/NEBAFilterResult.h"
#include "sdk/analytics/NEBAPersistedConfig.h"
#include "sdk/analytics/NEBAPropertyFilter.h"
#include "sdk/analytics/NEBARawEventData.h"
#include "sdk/analytics/NEBASqliteStore.h"
#include "sdk/analytics/NEBAUserAttribute.h"

// The limits the measurement configuration sets on the stored queues, clamped to their ranges.
struct NEBADatabaseLimits {
    int64_t maxEventsStored = 100000;
    double maxQueueTime = 2419200;
    double databaseDeleteStaleBundlesInterval = 86400;

    NEBADatabaseLimits clamped() const;
};

// The one SQLite file in which analytics keeps what it has not yet uploaded: raw events and
// their shared metadata, gzipped upload bundles, per-event aggregates, user properties,
// audience filters and results, and one row of app metadata that also carries the daily
// counters and the fetched measurement configuration.
//
// Not thread-safe: every call comes from the analytics worker queue.
class NEBADatabase {
public:
    using Record = NEBASqliteStore::Record;
    using ColumnInfo = std::vector<std::pair<std::string, std::string>>;
    using TableDefinitions = std::vector<std::pair<std::string, ColumnInfo>>;
    // A parsed bundle and its queue rowid.
    using BundlePair = std::pair<NEB_MEASUREMENT::ACPMeasurementBundle, int64_t>;

    static constexpr const char* kDatabaseName = "nebula-app-measurement.sql";
    // The most a stored bundle may inflate to; larger ones are damaged or hostile.
    static constexpr size_t kMaxInflatedBundleLength = size_t{32} << 20;

    // Application Support/Nebula/Measurement: the folder of the store.
    static std::string databaseDirectory();
    // Application Support/Nebula/Measurement/<name>; "" for an empty name.
    static std::string databasePathWithName(const std::string& name);
    // Removes the file and its journal files.
    static ns::Status deleteDatabaseFileWithName(const std::string& name);
    static std::unique_ptr<NEBADatabase> initWithDatabaseName(
        const std::string& name, std::shared_ptr<NEBAPersistedConfig> persistedConfig);

    NEBASqliteStore& sqliteStore() { return *store_; }
    bool performTransaction(const std::function<bool()>& block) {
        return store_->performTransaction(block);
    }
    void setLimits(const NEBADatabaseLimits& limits) { limits_ = limits.clamped(); }
    const NEBADatabaseLimits& limits() const { return limits_; }

    // Schema.
    bool ensureAllTables() { return ensureTables().ok(); }
    static const TableDefinitions& elementaryTableDefinitions();
    static const TableDefinitions& addOnTableDefinitions();
    static std::vector<std::string> columnNamesFromColumnInfo(const ColumnInfo& columnInfo);
    static std::optional<std::string> constructCreateStatementForTableWithName(
        const std::string& table, const ColumnInfo& columnInfo);
    static std::optional<std::string> constructAlterStatementForTableWithName(
        const std::string& table, const std::pair<std::string, std::string>& column);
    bool initializeAppMetadata();

    // Generic record operations. A null record (a conversion that failed) fails the write.
    template <class T>
    using CreateDataType = std::function<std::optional<T>(const Record&)>;
    template <class T>
    ns::Result<std::vector<T>> allDataTypesFromTableWithName(const std::string& table,
                                                             int64_t limit,
                                                             const CreateDataType<T>& create);
    template <class T>
    ns::Result<std::vector<T>> dataTypesFromTableWithName(const std::string& table,
                                                          const std::string& column,
                                                          const std::string& value,
                                                          const CreateDataType<T>& create);
    ns::Status insertRecord(const std::optional<Record>& record, const std::string& table);
    ns::Status upsertRecord(const std::optional<Record>& record, const std::string& table,
                            const std::string& column, const std::string& value,
                            int64_t tableLimit);
    ns::Status updateRecord(const std::optional<Record>& record, const std::string& table,
                            const std::string& column, const std::string& value);

    // Raw events and their metadata.
    ns::Status insertIfNotExistsRawEventMetadata(
        const NEB_MEASUREMENT::ACPMeasurementBundle& metadata);
    ns::Result<std::optional<NEB_MEASUREMENT::ACPMeasurementBundle>>
    queryRawEventsMetadataWithFingerprint(int64_t fingerprint);
    ns::Status deleteRawEventMetadataWithMetadataFingerprint(int64_t fingerprint);
    ns::Status deleteUnusedRawEventsMetadata();
    ns::Status insertRawEvent(const NEBAEvent& event, int64_t metadataFingerprint, bool isRealtime);
    ns::Result<std::vector<NEBARawEventData>> rawEventsWithMetadataFingerprint(
        int64_t fingerprint, const NEBASqliteStore::RecordFilter& eventFilter);
    // The same rows as bundling reads them: each stored event message, named, with its row and
    // time, offered to `accept` in row order without building records; the first refusal ends
    // the read. Rows that cannot be read are deleted with a data-loss line and offered to no one.
    struct StoredEvent {
        int64_t rowID = 0;
        double timestamp = 0;
        NEB_MEASUREMENT::ACPEvent proto;
        // The serialized size of `proto`, named.
        int64_t size = 0;
    };
    using StoredEventFilter = std::function<bool(StoredEvent&&)>;
    ns::Status readStoredEventsWithMetadataFingerprint(int64_t fingerprint,
                                                       const StoredEventFilter& accept);

    ns::Result<bool> containsRawEventWithMetadataFingerprint(int64_t fingerprint);
    // None when the table is empty.
    ns::Result<std::optional<int64_t>> nextMetadataFingerprintToProcess();
    ns::Status deleteRawEventsWithMaxRowID(int64_t rowID);
    // Only the rows of that metadata: rows of other groups may sit between a group's first
    // and last row, and they are not bundled yet.
    ns::Status deleteRawEventsWithMaxRowID(int64_t rowID, int64_t metadataFingerprint);
    ns::Result<int64_t> deleteRawEventsOverAbsoluteLimit();
    ns::Status deleteStaleRawEventsDataOlderThanMaxAge(double maxAge);
    ns::Result<bool> isRawEventsTableEmpty();
    ns::Result<bool> containsRealtimeRawEvents();
    ns::Result<std::optional<double>> queryLatestRawEventTime();
    static std::optional<Record> dictionaryFromRawEvent(const NEBARawEventData& rawEvent,
                                                        bool isRealtime);
    static Record recordFromEvent(const NEBAEvent& event, int64_t fingerprint, bool isRealtime);
    static ns::Result<NEBARawEventData> rawEventDataFromDictionary(const Record& record);
    static ns::Result<NEBAEvent> eventFromDictionary(const Record& record);
    static ns::Result<NEBAEvent> eventFromStoredEvent(const std::string& name, double timestamp,
                                                      const NEB_MEASUREMENT::ACPEvent& proto);

    // The bundle queue.
    ns::Status insertBundle(const NEB_MEASUREMENT::ACPMeasurementBundle& bundle, bool isRealtime);
    ns::Result<std::vector<BundlePair>> queryBundlesWithCountLimit(int64_t countLimit,
                                                                   int64_t sizeLimit);
    std::vector<BundlePair> bundleRowIDPairsWithRecords(const std::vector<Record>& records,
                                                        int64_t countLimit, int64_t sizeLimit);
    ns::Status deleteBundlesWithRowIDs(const std::vector<int64_t>& rowIDs);
    ns::Status deleteStaleBundlesOlderThanMaxAge(double maxAge);
    // Whether a sweep ran.
    ns::Result<bool> maybeDeleteStaleData();
    ns::Result<bool> isQueuedBundleTableEmpty();
    ns::Result<bool> containsRealtimeBundles();
    ns::Result<std::optional<double>> queryLatestBundleTime();

    // App metadata, daily counts, aggregates, user properties, stored configuration.
    ns::Result<std::optional<NEBAAppMetadata>> queryAppMetadata();
    ns::Status updateAppMetadata(const NEBAAppMetadata& metadata);
    ns::Result<std::optional<NEBADailyCounts>> dailyCounts();
    ns::Status updateDailyCounts(const NEBADailyCounts& counts);
    int32_t currentDay();
    ns::Result<std::optional<NEBAEventAggregates>> eventAggregatesWithName(const std::string& name);
    ns::Result<std::vector<NEBAEventAggregates>> allEventAggregates();
    ns::Status updateEventAggregates(const NEBAEventAggregates& aggregates);
    ns::Result<int64_t> publicEventCount();
    ns::Result<std::optional<NEBAUserAttribute>> userAttributeWithName(const std::string& name);
    ns::Result<bool> containsUserAttributeWithName(const std::string& name);
    ns::Result<int64_t> publicUserAttributeCount();
    ns::Result<std::vector<NEBAUserAttribute>> userAttributesIncludingInternal(
        bool includeInternal);
    ns::Result<std::vector<NEBAUserAttribute>> allLifetimeValueUserAttributes();
    ns::Status updateUserAttribute(const NEBAUserAttribute& attribute);
    ns::Status deleteUserAttributeWithName(const std::string& name);
    ns::Status updateRemoteConfig(const NEB_MEASUREMENT::ACPMeasurementConfig& config);
    ns::Status updateRemoteConfigSuccessfulTimestamp(double timestamp);
    ns::Result<std::optional<NEB_MEASUREMENT::ACPMeasurementConfig>> queryACPMeasurementConfig();
    ns::Result<std::optional<double>> lastRemoteConfigUpdateTimestamp();

    static std::optional<NEBAAppMetadata> appMetadataFromDictionary(const Record& record);
    static std::optional<Record> dictionaryFromAppMetadata(const NEBAAppMetadata& metadata);
    std::optional<NEBADailyCounts> dailyCountsFromDictionary(const Record& record);
    static std::optional<Record> dictionaryFromDailyCounts(const NEBADailyCounts& counts);
    static std::optional<NEBAEventAggregates> eventAggregatesFromDictionary(const Record& record);
    static std::optional<Record> dictionaryFromEventAggregates(
        const NEBAEventAggregates& aggregates);
    static std::optional<NEBAUserAttribute> userAttributeFromDictionary(const Record& record);
    static std::optional<Record> dictionaryFromUserAttribute(const NEBAUserAttribute& attribute);

    // Audience definitions and results.
    ns::Result<std::map<int32_t, NEBAFilterResult>> allFilterResults();
    ns::Result<std::vector<int32_t>> allAudienceIDs();
    ns::Result<std::vector<NEBAEventFilter>> eventFiltersForEventName(const std::string& name);
    ns::Result<std::vector<NEBAPropertyFilter>> propertyFiltersForPropertyName(
        const std::string& name);
    ns::Result<std::optional<NEBAFilterResult>> filterResultForAudienceID(int32_t audienceID);
    ns::Status updateEventFilters(const std::vector<NEBAEventFilter>& filters);
    ns::Status updatePropertyFilters(const std::vector<NEBAPropertyFilter>& filters);
    ns::Status updateFilterResults(const std::vector<NEBAFilterResult>& results);
    ns::Status deleteFilterResults(const std::vector<NEBAFilterResult>& results);
    ns::Status deleteEventFilters(const std::vector<NEBAEventFilter>& filters);
    ns::Status deletePropertyFilters(const std::vector<NEBAPropertyFilter>& filters);
    ns::Status deleteAllEventFilters();
    ns::Status deleteAllPropertyFilters();

    static std::optional<NEBAEventFilter> eventFilterFromDictionary(const Record& record);
    static std::optional<Record> dictionaryFromEventFilter(const NEBAEventFilter& filter);
    static std::optional<NEBAPropertyFilter> propertyFilterFromDictionary(const Record& record);
    static std::optional<Record> dictionaryFromPropertyFilter(const NEBAPropertyFilter& filter);
    static std::optional<NEBAFilterResult> filterResultFromDictionary(const Record& record);
    static std::optional<Record> dictionaryFromFilterResult(const NEBAFilterResult& result);

    // Parses stored bytes as a message; none for empty or unparsable bytes.
    template <class Message>
    static std::optional<Message> safeParse(const ns::Data& data, const char* className);

private:
    NEBADatabase(std::unique_ptr<NEBASqliteStore> store,
                 std::shared_ptr<NEBAPersistedConfig> config)
        : store_(std::move(store)), persistedConfig_(std::move(config)) {}
    double now() const;
    // Fails with code 2 for a file found unfit, code 3 for one busy, full or on a failing disk.
    ns::Status ensureTables();
    ns::Status deleteUndecodableRawEvents(const std::vector<int64_t>& rowIDs);

    std::unique_ptr<NEBASqliteStore> store_;
    std::shared_ptr<NEBAPersistedConfig> persistedConfig_;
    NEBADatabaseLimits limits_;
};

#include "sdk/analytics/NEBADatabase+Templates.h"
