// NEBADatabase: raw events, their shared metadata, and the queue of upload bundles.
#include <cmath>

#include "platform/dispatch/Clock.h"
#include "sdk/analytics/NEBADatabase.h"
#include "sdk/analytics/NSData+MD5.h"
#include "sdk/core/pb.h"
#include "toolbox/Foundation/NSData+TBXZLibAdditions.h"

namespace {

constexpr const char* kRawEventsMetadataTable = "raw_events_metadata";
constexpr const char* kRawEventsTable = "raw_events";
constexpr const char* kQueueTable = "queue";
constexpr int64_t kRawEventsMetadataLimit = 100000;
constexpr int64_t kRawEventsReadLimit = 1000;

ns::Value fingerprintValue(int64_t fingerprint) {
    return ns::Value(static_cast<long long>(fingerprint));
}

std::string fingerprintText(int64_t fingerprint) {
    return ns::format("%lld", static_cast<long long>(fingerprint));
}

// The size of a length-delimited field of field number below 16 holding `length` bytes.
int64_t namedFieldSize(size_t length) {
    return 1 +
           static_cast<int64_t>(
               pb::io::CodedOutputStream::VarintSize64(static_cast<uint64_t>(length))) +
           static_cast<int64_t>(length);
}

ns::Result<bool> booleanOf(ns::Result<ns::Value> number) {
    if (!number) return number.error();
    return number->integerValue() != 0;
}

ns::Result<std::optional<double>> optionalDoubleOf(ns::Result<ns::Value> number) {
    if (!number) return number.error();
    if (number->isNull()) return std::optional<double>();
    return std::optional<double>(number->doubleValue());
}

}  // namespace

// --- Metadata ----------------------------------------------------------------------------

ns::Status NEBADatabase::insertIfNotExistsRawEventMetadata(
    const NEB_MEASUREMENT::ACPMeasurementBundle& metadata) {
    std::string bytes = metadata.SerializeAsString();
    if (bytes.empty()) {
        NEBAMonitor::warning(
            "Received empty measurement bundle metadata for getting dictionary representation");
        return neba_stateError("Failed to insert/update unknown data type");
    }
    int64_t fingerprint = neba_64LSBMD5(bytes);
    auto existing = queryRawEventsMetadataWithFingerprint(fingerprint);
    if (!existing) return existing.error();
    if (*existing) return {};
    return upsertRecord(Record{{"metadata_fingerprint", fingerprintValue(fingerprint)},
                               {"metadata", ns::Value(ns::Data::fromString(bytes))}},
                        kRawEventsMetadataTable, "metadata_fingerprint",
                        fingerprintText(fingerprint), kRawEventsMetadataLimit);
}

ns::Result<std::optional<NEB_MEASUREMENT::ACPMeasurementBundle>>
NEBADatabase::queryRawEventsMetadataWithFingerprint(int64_t fingerprint) {
    using Bundle = NEB_MEASUREMENT::ACPMeasurementBundle;
    auto rows = dataTypesFromTableWithName<Bundle>(
        kRawEventsMetadataTable, "metadata_fingerprint", fingerprintText(fingerprint),
        [](const Record& record) -> std::optional<Bundle> {
            auto it = record.find("metadata");
            if (it == record.end() || !it->second.data() || it->second.data()->empty()) {
                NEBAMonitor::warning(
                    "Event metadata should not be empty for getting measurement bundle");
                return std::nullopt;
            }
            return safeParse<Bundle>(*it->second.data(), "ACPMeasurementBundle");
        });
    if (!rows) return rows.error();
    if (rows->empty()) return std::optional<Bundle>();
    return std::optional<Bundle>(std::move(rows->front()));
}

ns::Status NEBADatabase::deleteRawEventMetadataWithMetadataFingerprint(int64_t fingerprint) {
    auto deleted = store_->deleteRecordsFromTableWithName(
        kRawEventsMetadataTable, "metadata_fingerprint == ?", {fingerprintValue(fingerprint)});
    if (!deleted) return deleted.error();
    return {};
}

ns::Status NEBADatabase::deleteUnusedRawEventsMetadata() {
    auto deleted = store_->deleteRecordsFromTableWithName(
        kRawEventsMetadataTable,
        "metadata_fingerprint NOT IN (SELECT DISTINCT metadata_fingerprint FROM raw_events)");
    if (!deleted) return deleted.error();
    return {};
}

// --- Raw events --------------------------------------------------------------------------

std::optional<NEBADatabase::Record> NEBADatabase::dictionaryFromRawEvent(
    const NEBARawEventData& rawEvent, bool isRealtime) {
    return recordFromEvent(rawEvent.rawEvent(), rawEvent.metadataFingerprint(), isRealtime);
}

NEBADatabase::Record NEBADatabase::recordFromEvent(const NEBAEvent& event, int64_t fingerprint,
                                                   bool isRealtime) {
    auto proto = event.protoEvent();
    proto.clear_name();  // the name lives in its own column
    std::string bytes = proto.SerializeAsString();
    Record record;
    record.reserve(5);
    // Appended in name order, the order a record keeps.
    record.appendUnsorted("data", ns::Value(ns::Data(bytes.data(), bytes.size())));
    record.appendUnsorted("is_realtime", ns::Value(isRealtime));
    record.appendUnsorted("metadata_fingerprint", fingerprintValue(fingerprint));
    record.appendUnsorted("name", ns::Value(event.name()));
    record.appendUnsorted("timestamp", ns::Value(event.timestamp()));
    record.finishAppending();
    return record;
}

ns::Status NEBADatabase::insertRawEvent(const NEBAEvent& event, int64_t metadataFingerprint,
                                        bool isRealtime) {
    return insertRecord(recordFromEvent(event, metadataFingerprint, isRealtime), kRawEventsTable);
}

ns::Result<NEBAEvent> NEBADatabase::eventFromDictionary(const Record& record) {
    auto data = record.find("data");
    std::optional<NEB_MEASUREMENT::ACPEvent> proto;
    if (data != record.end() && data->second.data()) {
        proto = safeParse<NEB_MEASUREMENT::ACPEvent>(*data->second.data(), "ACPEvent");
    }
    if (!proto) return neba_stateError("Failed to parse event from data");
    auto nameIt = record.find("name");
    std::string name =
        nameIt != record.end() && nameIt->second.string() ? *nameIt->second.string() : "";
    auto timeIt = record.find("timestamp");
    double time = timeIt != record.end() ? timeIt->second.doubleValue() : 0.0;
    return eventFromStoredEvent(name, time, *proto);
}

ns::Result<NEBAEvent> NEBADatabase::eventFromStoredEvent(const std::string& name, double timestamp,
                                                         const NEB_MEASUREMENT::ACPEvent& proto) {
    double previous = static_cast<double>(proto.previous_timestamp_millis()) / 1000.0;
    std::string origin;
    ns::Dictionary parameters;
    for (const auto& param : proto.params()) {
        if (param.name() == "_o") {
            if (!param.has_string_value()) {
                return neba_stateError(
                    "Cannot create an event from database. Origin parameter is not a string");
            }
            origin = param.string_value();
            continue;
        }
        if (param.has_string_value()) {
            parameters[param.name()] = ns::Value(param.string_value());
        } else if (param.has_int_value()) {
            parameters[param.name()] = ns::Value(static_cast<long long>(param.int_value()));
        } else if (param.has_double_value()) {
            parameters[param.name()] = ns::Value(param.double_value());
        } else {
            NEBAMonitor::warning(
                "Unknown event parameter type from converting an event from database",
                {ns::Value(param.name())});
        }
    }
    if (origin.empty())
        return neba_stateError("Cannot create an event from database. Missing origin parameter");
    auto event = NEBAEvent::initWithOrigin(origin, false, name, timestamp, previous, parameters);
    if (!event) return neba_stateError("Failed to parse event from data");
    return std::move(*event);
}

ns::Result<NEBARawEventData> NEBADatabase::rawEventDataFromDictionary(const Record& record) {
    if (record.empty())
        return neba_argumentError("Received empty dictionary for getting raw event data");
    auto present = [&](const char* key) {
        auto it = record.find(key);
        return it != record.end() && !it->second.isNull();
    };
    if (!present("rowid"))
        return neba_argumentError("Unable to find row ID in the database dictionary");
    if (!present("data"))
        return neba_argumentError("Unable to find event data in the database dictionary");
    if (!present("metadata_fingerprint")) {
        return neba_argumentError("Unable to find event metadata in the database dictionary");
    }
    int64_t rowID = record.at("rowid").integerValue();
    int64_t fingerprint = record.at("metadata_fingerprint").integerValue();
    auto event = eventFromDictionary(record);
    if (!event) return event.error();
    auto raw = NEBARawEventData::initWithRawEvent(*event, rowID, fingerprint);
    if (!raw) return neba_stateError("Failed to initialize raw event data from dictionary");
    return std::move(*raw);
}

ns::Result<std::vector<NEBARawEventData>> NEBADatabase::rawEventsWithMetadataFingerprint(
    int64_t fingerprint, const NEBASqliteStore::RecordFilter& eventFilter) {
    auto records = store_->recordsForQuery(
        "SELECT rowid, * FROM raw_events WHERE metadata_fingerprint = ? ORDER BY rowid ASC LIMIT ?",
        {fingerprintValue(fingerprint), ns::Value(kRawEventsReadLimit)}, eventFilter);
    if (!records) return records.error();
    std::vector<NEBARawEventData> events;
    std::vector<int64_t> undecodable;
    for (const auto& record : *records) {
        auto raw = rawEventDataFromDictionary(record);
        if (raw) {
            events.push_back(std::move(*raw));
            continue;
        }
        auto rowID = record.find("rowid");
        if (rowID != record.end() && rowID->second.int64())
            undecodable.push_back(*rowID->second.int64());
    }
    if (auto deleted = deleteUndecodableRawEvents(undecodable); !deleted) return deleted.error();
    return events;
}

ns::Status NEBADatabase::readStoredEventsWithMetadataFingerprint(int64_t fingerprint,
                                                                 const StoredEventFilter& accept) {
    std::vector<int64_t> undecodable;
    {
        auto statement = store_->statementForQuery(
            "SELECT rowid, name, timestamp, data FROM raw_events WHERE metadata_fingerprint = ? "
            "ORDER BY rowid ASC LIMIT ?",
            {fingerprintValue(fingerprint), ns::Value(kRawEventsReadLimit)});
        if (!statement) return statement.error();
        sqlite3_stmt* stmt = statement->get();
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            StoredEvent event;
            event.rowID = sqlite3_column_int64(stmt, 0);
            const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
            event.timestamp = sqlite3_column_double(stmt, 2);
            const void* bytes = sqlite3_column_blob(stmt, 3);
            const int length = sqlite3_column_bytes(stmt, 3);
            // A row is readable when its message parses and names its origin, as every row the
            // event road writes does.
            bool readable = name && *name && bytes &&
                            NEBAEvent::isValidTimestamp(event.timestamp) &&
                            event.proto.ParseFromArray(bytes, length);
            bool origin = false;
            if (readable)
                for (const auto& param : event.proto.params())
                    origin = origin || (param.name() == "_o" && param.has_string_value());
            if (!readable || !origin) {
                NEBAMonitor::warning("Failed to bundle raw event. Error",
                                     {neba_stateError("Failed to parse event from data")});
                undecodable.push_back(event.rowID);
                continue;
            }
            const bool storedWithName = event.proto.has_name();
            const size_t nameLength = static_cast<size_t>(sqlite3_column_bytes(stmt, 1));
            event.proto.set_name(name, nameLength);
            // The stored bytes are the message as the event road serialised it, without its
            // name: their length and the name field's are its size, without a second walk.
            event.size = storedWithName ? static_cast<int64_t>(event.proto.ByteSizeLong())
                                        : length + namedFieldSize(nameLength);
            if (!accept(std::move(event))) {
                rc = SQLITE_DONE;
                break;
            }
        }
        if (rc != SQLITE_DONE) return store_->databaseError("query records");
    }
    return deleteUndecodableRawEvents(undecodable);
}

ns::Status NEBADatabase::deleteUndecodableRawEvents(const std::vector<int64_t>& rowIDs) {
    // A row that can never be read would stop its whole group from being bundled: it goes,
    // and the loss is said.
    for (int64_t rowID : rowIDs) {
        NEBAMonitor::error("Data loss. Deleted raw event that cannot be read. Row ID",
                           {ns::Value(static_cast<long long>(rowID))});
        auto deleted = store_->deleteRecordsFromTableWithName(
            kRawEventsTable, "rowid = ?", {ns::Value(static_cast<long long>(rowID))});
        if (!deleted) return deleted.error();
    }
    return {};
}

ns::Result<bool> NEBADatabase::containsRawEventWithMetadataFingerprint(int64_t fingerprint) {
    return booleanOf(store_->numberForQuery(
        "SELECT EXISTS (SELECT 1 FROM raw_events WHERE metadata_fingerprint = ? LIMIT 1)",
        {fingerprintValue(fingerprint)}));
}

ns::Result<std::optional<int64_t>> NEBADatabase::nextMetadataFingerprintToProcess() {
    // The oldest row's group, found through the row ID's order rather than by an aggregate over
    // the whole table.
    auto records = store_->recordsForQuery(
        "SELECT metadata_fingerprint FROM raw_events ORDER BY rowid ASC LIMIT 1");
    if (!records) return records.error();
    if (records->empty()) return std::optional<int64_t>();
    if (records->size() != 1) return neba_stateError("Only one event metadata should be processed");
    auto it = records->front().find("metadata_fingerprint");
    if (it == records->front().end() || it->second.isNull()) return std::optional<int64_t>();
    return std::optional<int64_t>(it->second.integerValue());
}

ns::Status NEBADatabase::deleteRawEventsWithMaxRowID(int64_t rowID) {
    auto deleted = store_->deleteRecordsFromTableWithName(
        kRawEventsTable, "rowid <= ?", {ns::Value(static_cast<long long>(rowID))});
    if (!deleted) return deleted.error();
    return {};
}

ns::Status NEBADatabase::deleteRawEventsWithMaxRowID(int64_t rowID, int64_t metadataFingerprint) {
    auto deleted = store_->deleteRecordsFromTableWithName(
        kRawEventsTable, "rowid <= ? AND metadata_fingerprint = ?",
        {ns::Value(static_cast<long long>(rowID)), fingerprintValue(metadataFingerprint)});
    if (!deleted) return deleted.error();
    return {};
}

ns::Result<int64_t> NEBADatabase::deleteRawEventsOverAbsoluteLimit() {
    auto deleted = store_->deleteRecordsFromTableWithName(
        kRawEventsTable,
        "rowid IN (SELECT rowid FROM raw_events ORDER BY rowid DESC LIMIT -1 OFFSET ?)",
        {ns::Value(static_cast<long long>(limits_.maxEventsStored - 1))});
    if (!deleted) return deleted.error();
    // Metadata whose last event went with the trim would otherwise stay for ever.
    if (*deleted > 0) {
        auto swept = deleteUnusedRawEventsMetadata();
        if (!swept) return swept.error();
    }
    return *deleted;
}

ns::Status NEBADatabase::deleteStaleRawEventsDataOlderThanMaxAge(double maxAge) {
    if (maxAge < 0)
        return neba_argumentError("Cannot delete stale raw events given negative time period");
    auto deleted = store_->deleteRecordsFromTableWithName(
        kRawEventsTable, "abs(timestamp - cast(? as REAL)) > cast(? as REAL)",
        {ns::Value(now()), ns::Value(maxAge)});
    if (!deleted) return deleted.error();
    if (*deleted > 0) return deleteUnusedRawEventsMetadata();
    return {};
}

ns::Result<bool> NEBADatabase::isRawEventsTableEmpty() {
    return booleanOf(
        store_->numberForQuery("SELECT NOT EXISTS (SELECT 1 FROM raw_events LIMIT 1)"));
}

ns::Result<bool> NEBADatabase::containsRealtimeRawEvents() {
    return booleanOf(store_->numberForQuery(
        "SELECT EXISTS (SELECT 1 FROM raw_events WHERE is_realtime = 1 LIMIT 1)"));
}

ns::Result<std::optional<double>> NEBADatabase::queryLatestRawEventTime() {
    return optionalDoubleOf(store_->numberForQuery("SELECT MAX(timestamp) FROM raw_events"));
}

// --- Bundle queue ------------------------------------------------------------------------

ns::Status NEBADatabase::insertBundle(const NEB_MEASUREMENT::ACPMeasurementBundle& bundle,
                                      bool isRealtime) {
    std::string bytes = bundle.SerializeAsString();
    if (bytes.empty()) return neba_argumentError("Failed to insert nil bundle");
    if (bundle.app_id().empty())
        return neba_argumentError("Failed to insert bundle without App ID");
    if (bundle.end_timestamp_millis() < 1)
        return neba_argumentError("Failed to insert bundle without valid timestamp");
    auto swept = maybeDeleteStaleData();
    if (!swept) return swept.error();
    double end = static_cast<double>(bundle.end_timestamp_millis()) / 1000.0;
    if (std::fabs(end - now()) > limits_.maxQueueTime) {
        NEBAMonitor::warning("Storing bundle outside of the max uploading time span");
    }
    auto compressed = tbx_dataByGzippingBytes(bytes.data(), bytes.size());
    if (!compressed || compressed->empty()) return neba_stateError("Failed to compress bundle");
    NEBAMonitor::debug("Saving bundle. size (bytes)",
                       {ns::Value(static_cast<long long>(compressed->length()))});
    return store_->upsertRecord(Record{{"bundle_end_timestamp", ns::Value(end)},
                                       {"data", ns::Value(std::move(*compressed))},
                                       {"is_realtime", ns::Value(isRealtime)}},
                                kQueueTable);
}

ns::Result<std::vector<NEBADatabase::BundlePair>> NEBADatabase::queryBundlesWithCountLimit(
    int64_t countLimit, int64_t sizeLimit) {
    auto records = store_->recordsForQuery(
        "SELECT rowid, data FROM queue ORDER BY bundle_end_timestamp ASC LIMIT ?",
        {ns::Value(static_cast<long long>(countLimit))});
    if (!records) return records.error();
    return bundleRowIDPairsWithRecords(*records, countLimit, sizeLimit);
}

std::vector<NEBADatabase::BundlePair> NEBADatabase::bundleRowIDPairsWithRecords(
    const std::vector<Record>& records, int64_t /*countLimit*/, int64_t sizeLimit) {
    std::vector<BundlePair> pairs;
    std::vector<int64_t> undecodable;
    int64_t total = 0;
    for (const auto& record : records) {
        auto rowIt = record.find("rowid");
        if (rowIt == record.end() || !rowIt->second.int64()) continue;
        int64_t rowID = *rowIt->second.int64();
        auto dataIt = record.find("data");
        if (dataIt == record.end() || !dataIt->second.data() || dataIt->second.data()->empty()) {
            NEBAMonitor::error("Cannot decompress an empty bundle data");
            undecodable.push_back(rowID);
            continue;
        }
        auto inflated = tbx_dataByInflatingData(*dataIt->second.data(), kMaxInflatedBundleLength);
        if (!inflated || inflated->empty()) {
            NEBAMonitor::error("Cannot decompress data");
            undecodable.push_back(rowID);
            continue;
        }
        auto size = static_cast<int64_t>(inflated->length());
        if (!pairs.empty() && total + size > sizeLimit) break;
        auto bundle =
            safeParse<NEB_MEASUREMENT::ACPMeasurementBundle>(*inflated, "ACPMeasurementBundle");
        if (!bundle) {
            NEBAMonitor::error("Unable to parse bundle from decompressed data");
            undecodable.push_back(rowID);
            continue;
        }
        pairs.emplace_back(std::move(*bundle), rowID);
        total += size;
        if (total > sizeLimit) break;
    }
    // A bundle that can never be read would hold its place at the head of the queue until it
    // aged out: it goes now, and the loss is said.
    if (!undecodable.empty()) {
        NEBAMonitor::error("Data loss. Deleted queued bundles that cannot be read. Count",
                           {ns::Value(static_cast<long long>(undecodable.size()))});
        auto deleted = deleteBundlesWithRowIDs(undecodable);
        if (!deleted)
            NEBAMonitor::error("Failed to delete queued bundles that cannot be read. Error",
                               {deleted.error()});
    }
    return pairs;
}

ns::Status NEBADatabase::deleteBundlesWithRowIDs(const std::vector<int64_t>& rowIDs) {
    if (rowIDs.empty()) return neba_argumentError("Received empty row IDs to delete bundles");
    std::string placeholders;
    NEBASqliteStore::Values values;
    for (int64_t rowID : rowIDs) {
        placeholders += placeholders.empty() ? "?" : ",?";
        values.emplace_back(static_cast<long long>(rowID));
    }
    auto deleted = store_->deleteRecordsFromTableWithName(
        kQueueTable, ns::format("rowid IN (%@)", placeholders), values);
    if (!deleted) return deleted.error();
    return {};
}

ns::Status NEBADatabase::deleteStaleBundlesOlderThanMaxAge(double maxAge) {
    if (maxAge < 0)
        return neba_argumentError("Cannot delete stale bundles after negative time period");
    auto deleted = store_->deleteRecordsFromTableWithName(
        kQueueTable, "abs(bundle_end_timestamp - cast(? as REAL)) > cast(? as REAL)",
        {ns::Value(now()), ns::Value(maxAge)});
    if (!deleted) return deleted.error();
    return {};
}

ns::Result<bool> NEBADatabase::maybeDeleteStaleData() {
    double current = now();
    double last = persistedConfig_ ? persistedConfig_->lastDeleteStaleBundlesTimestamp() : 0.0;
    if (!(std::fabs(current - last) > limits_.databaseDeleteStaleBundlesInterval)) return false;
    auto events = deleteStaleRawEventsDataOlderThanMaxAge(limits_.maxQueueTime);
    if (!events) return events.error();
    auto bundles = deleteStaleBundlesOlderThanMaxAge(limits_.maxQueueTime);
    if (!bundles) return bundles.error();
    if (persistedConfig_) persistedConfig_->setLastDeleteStaleBundlesTimestamp(current);
    return true;
}

ns::Result<bool> NEBADatabase::isQueuedBundleTableEmpty() {
    return booleanOf(store_->numberForQuery("SELECT NOT EXISTS (SELECT 1 FROM queue LIMIT 1)"));
}

ns::Result<bool> NEBADatabase::containsRealtimeBundles() {
    return booleanOf(store_->numberForQuery(
        "SELECT EXISTS (SELECT 1 FROM queue WHERE is_realtime = 1 LIMIT 1)"));
}

ns::Result<std::optional<double>> NEBADatabase::queryLatestBundleTime() {
    return optionalDoubleOf(store_->numberForQuery("SELECT MAX(bundle_end_timestamp) FROM queue"));
}
