#include "sdk/analytics/NEBADatabase.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "platform/dispatch/Clock.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/Sandbox.h"
#include "sdk/analytics/NEBAInternalNames.h"

namespace {

constexpr const char* kAppMetadataTable = "app_metadata";
constexpr const char* kEventsTable = "events";
constexpr const char* kUserAttributesTable = "user_attributes";
constexpr int64_t kAppMetadataLimit = 1;
constexpr int64_t kEventsLimit = 1000;
constexpr int64_t kUserAttributesLimit = 50;

std::optional<double> doubleOf(const NEBADatabase::Record& record, std::string_view key) {
    auto it = record.find(key);
    if (it == record.end() || !it->second.isNumber()) return std::nullopt;
    return it->second.doubleValue();
}

// A stored 32-bit field read back: numbers outside the range are refused rather than wrapped.
std::optional<int32_t> int32Of(const NEBADatabase::Record& record, std::string_view key) {
    auto it = record.find(key);
    if (it == record.end() || !it->second.isNumber()) return std::nullopt;
    double d = it->second.doubleValue();
    if (!(d >= INT32_MIN && d <= INT32_MAX)) return std::nullopt;
    return static_cast<int32_t>(d);
}

const std::string* stringOf(const NEBADatabase::Record& record, std::string_view key) {
    auto it = record.find(key);
    return it == record.end() ? nullptr : it->second.string();
}

}  // namespace

NEBADatabaseLimits NEBADatabaseLimits::clamped() const {
    NEBADatabaseLimits out = *this;
    out.maxEventsStored = std::clamp<int64_t>(maxEventsStored, 0, 1000000);
    out.maxQueueTime =
        std::isfinite(maxQueueTime) ? std::clamp(maxQueueTime, 604800.0, 7862400.0) : 2419200;
    out.databaseDeleteStaleBundlesInterval =
        std::isfinite(databaseDeleteStaleBundlesInterval)
            ? std::clamp(databaseDeleteStaleBundlesInterval, 3600.0, 604800.0)
            : 86400;
    return out;
}

double NEBADatabase::now() const {
    return dispatch::Clock::current().wallTime();
}

// --- File --------------------------------------------------------------------------------

std::string NEBADatabase::databaseDirectory() {
    auto directories = ns::FileManager::defaultManager().pathsForDirectory(
        ns::SearchPathDirectory::ApplicationSupport);
    std::string base =
        directories.empty() ? ns::Sandbox::applicationSupportDirectory() : directories.back();
    return (std::filesystem::path(base) / "Nebula" / "Measurement").string();
}

std::string NEBADatabase::databasePathWithName(const std::string& name) {
    if (name.empty()) return {};
    return (std::filesystem::path(databaseDirectory()) / name).string();
}

ns::Status NEBADatabase::deleteDatabaseFileWithName(const std::string& name) {
    if (name.empty()) return neba_argumentError("Received empty name for deleting database file");
    auto path = databasePathWithName(name);
    auto& files = ns::FileManager::defaultManager();
    // A journal left behind would be rolled back into the next file of that name: one that
    // cannot go keeps its file, and the caller hears why.
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
        if (!files.fileExists(path + suffix)) continue;
        if (auto removed = files.removeItem(path + suffix); !removed) return removed;
    }
    return files.removeItem(path);
}

std::unique_ptr<NEBADatabase> NEBADatabase::initWithDatabaseName(
    const std::string& name, std::shared_ptr<NEBAPersistedConfig> persistedConfig) {
    if (name.empty()) {
        NEBAMonitor::error("Received empty database name in init");
        return nullptr;
    }
    auto store = NEBASqliteStore::initWithDatabasePath(databasePathWithName(name));
    if (!store) {
        NEBAMonitor::error("Failed to open database");
        return nullptr;
    }
    std::unique_ptr<NEBADatabase> database(
        new NEBADatabase(std::move(store), std::move(persistedConfig)));
    if (auto ensured = database->ensureTables(); !ensured) {
        NEBAMonitor::error("Failed to create or validate required database tables");
        database->store_->closeDatabase();
        // Only a file whose tables are unfit goes; one that could not be written to (full,
        // busy, failing) keeps its data for the next start.
        if (ensured.error().code() != NEBADomainCode::WrongState) return nullptr;
        // Kept for diagnosis rather than deleted; the next construction starts from nothing.
        auto aside = NEBASqliteStore::setAsideDamagedDatabaseFile(databasePathWithName(name));
        if (!aside) {
            NEBAMonitor::warning(
                "Failed to set the database file aside after failed validation. Error",
                {aside.error()});
            return nullptr;
        }
        NEBAMonitor::error("Database file set aside after failed validation. Copy",
                           {ns::Value(*aside)});
        return nullptr;
    }
    if (!database->initializeAppMetadata()) {
        NEBAMonitor::error("Failed to initialize App Metadata table");
        return nullptr;
    }
    return database;
}

// --- Schema ------------------------------------------------------------------------------

const NEBADatabase::TableDefinitions& NEBADatabase::elementaryTableDefinitions() {
    static const auto& definitions = *new TableDefinitions{
        {"app_metadata",
         {{"last_bundle_index", "INTEGER NOT NULL"},
          {"last_bundle_end_timestamp", "REAL NOT NULL"}}},
        {"raw_events_metadata",
         {{"metadata_fingerprint", "INTEGER NOT NULL PRIMARY KEY"}, {"metadata", "BLOB NOT NULL"}}},
        {"raw_events",
         {{"name", "TEXT NOT NULL"},
          {"timestamp", "INTEGER NOT NULL"},
          {"metadata_fingerprint", "INTEGER NOT NULL"},
          {"data", "BLOB NOT NULL"}}},
        {"events",
         {{"name", "TEXT NOT NULL PRIMARY KEY"},
          {"lifetime_count", "INTEGER NOT NULL"},
          {"current_bundle_count", "INTEGER NOT NULL"},
          {"last_fire_timestamp", "REAL NOT NULL"}}},
        {"user_attributes",
         {{"name", "TEXT NOT NULL PRIMARY KEY"},
          {"set_timestamp", "REAL NOT NULL"},
          {"value", "BLOB NOT NULL"}}},
        {"queue", {{"data", "BLOB NOT NULL"}, {"bundle_end_timestamp", "REAL NOT NULL"}}},
        {"event_filters",
         {{"audience_id", "INTEGER NOT NULL"},
          {"filter_id", "INTEGER NOT NULL"},
          {"event_name", "TEXT NOT NULL"},
          {"data", "BLOB NOT NULL"},
          {"PRIMARY KEY",
           ns::format("(%@, %@)", std::string("audience_id"), std::string("filter_id"))}}},
        {"property_filters",
         {{"audience_id", "INTEGER NOT NULL"},
          {"filter_id", "INTEGER NOT NULL"},
          {"property_name", "TEXT NOT NULL"},
          {"data", "BLOB NOT NULL"},
          {"PRIMARY KEY",
           ns::format("(%@, %@)", std::string("audience_id"), std::string("filter_id"))}}},
        {"audience_filter_values",
         {{"audience_id", "INTEGER NOT NULL PRIMARY KEY"},
          {"current_results", "BLOB"},
          {"previous_results", "BLOB"}}},
    };
    return definitions;
}

const NEBADatabase::TableDefinitions& NEBADatabase::addOnTableDefinitions() {
    static const auto& definitions = *new TableDefinitions{
        {"app_metadata",
         {{"last_bundle_start_timestamp", "REAL"},
          {"day", "INTEGER"},
          {"daily_conversions_count", "INTEGER"},
          {"daily_events_count", "INTEGER"},
          {"daily_public_events_count", "INTEGER"},
          {"daily_error_events_count", "INTEGER"},
          {"remote_config_data", "BLOB"},
          {"remote_config_timestamp", "REAL"},
          {"daily_real_time_conversion_events_count", "INTEGER"}}},
        {"raw_events", {{"is_realtime", "INTEGER"}}},
        {"queue", {{"is_realtime", "INTEGER"}}},
    };
    return definitions;
}

std::vector<std::string> NEBADatabase::columnNamesFromColumnInfo(const ColumnInfo& columnInfo) {
    std::vector<std::string> names;
    for (const auto& [name, type] : columnInfo) {
        if (name != "PRIMARY KEY") names.push_back(name);
    }
    return names;
}

std::optional<std::string> NEBADatabase::constructCreateStatementForTableWithName(
    const std::string& table, const ColumnInfo& columnInfo) {
    if (table.empty()) {
        NEBAMonitor::error("Received empty table name for constructing the create statement");
        return std::nullopt;
    }
    if (columnInfo.empty()) {
        NEBAMonitor::error(
            "Received empty column info for constructing the create statement for table",
            {ns::Value(table)});
        return std::nullopt;
    }
    std::string sql = ns::format("CREATE TABLE IF NOT EXISTS %@ ( ", table);
    for (const auto& [name, type] : columnInfo) sql += ns::format("%@ %@, ", name, type);
    sql.replace(sql.size() - 2, 2, ");");
    return sql;
}

std::optional<std::string> NEBADatabase::constructAlterStatementForTableWithName(
    const std::string& table, const std::pair<std::string, std::string>& column) {
    if (table.empty()) {
        NEBAMonitor::error("Received empty table name for constructing the alter statement");
        return std::nullopt;
    }
    if (column.first.empty() || column.second.empty()) {
        NEBAMonitor::error(
            "Received empty column info for constructing the alter statement for table",
            {ns::Value(table)});
        return std::nullopt;
    }
    return ns::format("ALTER TABLE %@ ADD COLUMN %@ %@", table, column.first, column.second);
}

ns::Status NEBADatabase::ensureTables() {
    for (const auto& [table, columns] : elementaryTableDefinitions()) {
        auto create = constructCreateStatementForTableWithName(table, columns);
        if (!create) {
            NEBAMonitor::error("Failed to set create statement for table. Table",
                               {ns::Value(table)});
            return neba_argumentError("Failed to set create statement for table");
        }
        NEBASqliteStore::AddOnColumns addOns;
        for (const auto& [addOnTable, addOnColumns] : addOnTableDefinitions()) {
            if (addOnTable != table) continue;
            for (const auto& column : addOnColumns) {
                auto alter = constructAlterStatementForTableWithName(table, column);
                if (!alter) {
                    NEBAMonitor::error("Failed to create alter statement for table. Table, column",
                                       {ns::Value(table), ns::Value(column.first)});
                    return neba_argumentError("Failed to create alter statement for table");
                }
                addOns.emplace_back(column.first, *alter);
            }
        }
        auto ensured =
            store_->ensureTableWithName(table, *create, columnNamesFromColumnInfo(columns), addOns);
        if (!ensured) {
            NEBAMonitor::error("Failed to ensure table. Table, error",
                               {ns::Value(table), ensured.error()});
            return ensured;
        }
    }
    // Bundling reads, tests and deletes the raw events of one metadata record at a time: without
    // an index each of those walks the whole table, once per bundle. An index the file cannot
    // take leaves the tables as they are, only slower.
    if (auto indexed =
            store_->executeSQL("CREATE INDEX IF NOT EXISTS raw_events_metadata_fingerprint ON "
                               "raw_events (metadata_fingerprint)");
        !indexed)
        NEBAMonitor::warning("Failed to index raw events by metadata. Error", {indexed.error()});
    return {};
}

bool NEBADatabase::initializeAppMetadata() {
    return performTransaction([&] {
        auto existing = queryAppMetadata();
        if (!existing) {
            NEBAMonitor::error("Failed to query app metadata", {existing.error()});
            return false;
        }
        if (*existing) return true;
        auto fresh = NEBAAppMetadata::initWithLastBundleIndex(0, 0.0, 0.0);
        auto inserted = upsertRecord(dictionaryFromAppMetadata(*fresh), kAppMetadataTable, "rowid",
                                     "1", kAppMetadataLimit);
        if (!inserted) {
            NEBAMonitor::error("Unable to update the app metadata. Error", {inserted.error()});
            return false;
        }
        return true;
    });
}

// --- Generic record operations -------------------------------------------------------------

ns::Status NEBADatabase::insertRecord(const std::optional<Record>& record,
                                      const std::string& table) {
    if (table.empty()) return neba_argumentError("Received empty table name for inserting");
    if (!record) return neba_stateError("Failed to insert unknown data type");
    return store_->upsertRecord(*record, table);
}

ns::Status NEBADatabase::upsertRecord(const std::optional<Record>& record, const std::string& table,
                                      const std::string& column, const std::string& value,
                                      int64_t tableLimit) {
    if (table.empty()) return neba_argumentError("Received empty table name for checking upsert");
    auto matching = store_->rowCountForTableWithName(table, column, value);
    if (!matching) return matching.error();
    auto all = store_->rowCountForTableWithName(table);
    if (!all) return all.error();
    bool replacing = matching->integerValue() > 0;
    if (!replacing && all->integerValue() >= tableLimit) {
        return neba_stateError("Failed to insert data type. Table is full");
    }
    if (!record) return neba_stateError("Failed to insert/update unknown data type");
    return store_->upsertRecord(*record, table);
}

ns::Status NEBADatabase::updateRecord(const std::optional<Record>& record, const std::string& table,
                                      const std::string& column, const std::string& value) {
    if (table.empty()) return neba_argumentError("Received empty table name for updating");
    auto matching = store_->rowCountForTableWithName(table, column, value);
    if (!matching) return matching.error();
    if (matching->integerValue() <= 0)
        return neba_stateError("Failed to update record. Item doesn't exist");
    if (!record) return neba_stateError("Failed to update unknown data type");
    return store_->updateRecord(*record, table, column, value);
}

// --- App metadata and daily counts -------------------------------------------------------

std::optional<NEBAAppMetadata> NEBADatabase::appMetadataFromDictionary(const Record& record) {
    if (record.empty()) {
        NEBAMonitor::warning("Received empty dictionary for getting app metadata");
        return std::nullopt;
    }
    return NEBAAppMetadata::initWithLastBundleIndex(
        int32Of(record, "last_bundle_index").value_or(0),
        doubleOf(record, "last_bundle_start_timestamp").value_or(0.0),
        doubleOf(record, "last_bundle_end_timestamp").value_or(0.0));
}

std::optional<NEBADatabase::Record> NEBADatabase::dictionaryFromAppMetadata(
    const NEBAAppMetadata& metadata) {
    return Record{{"rowid", ns::Value("1")},
                  {"last_bundle_index", ns::Value(metadata.lastBundleIndex())},
                  {"last_bundle_start_timestamp", ns::Value(metadata.lastBundleStartTimestamp())},
                  {"last_bundle_end_timestamp", ns::Value(metadata.lastBundleEndTimestamp())}};
}

int32_t NEBADatabase::currentDay() {
    double offset = persistedConfig_ ? persistedConfig_->midnightOffset() : 0.0;
    double day = std::floor((now() - offset) / 86400.0);
    if (!(day >= INT32_MIN && day <= INT32_MAX)) return 0;
    return static_cast<int32_t>(day);
}

std::optional<NEBADailyCounts> NEBADatabase::dailyCountsFromDictionary(const Record& record) {
    if (record.empty()) {
        NEBAMonitor::warning("Received empty dictionary for getting daily counts");
        return std::nullopt;
    }
    auto day = int32Of(record, "day");
    return NEBADailyCounts(day ? *day : currentDay(),
                           int32Of(record, "daily_conversions_count").value_or(0),
                           int32Of(record, "daily_events_count").value_or(0),
                           int32Of(record, "daily_public_events_count").value_or(0),
                           int32Of(record, "daily_error_events_count").value_or(0),
                           int32Of(record, "daily_real_time_conversion_events_count").value_or(0));
}

std::optional<NEBADatabase::Record> NEBADatabase::dictionaryFromDailyCounts(
    const NEBADailyCounts& counts) {
    return Record{{"day", ns::Value(counts.day())},
                  {"daily_conversions_count", ns::Value(counts.conversionsCount())},
                  {"daily_events_count", ns::Value(counts.allEventsCount())},
                  {"daily_public_events_count", ns::Value(counts.publicEventsCount())},
                  {"daily_error_events_count", ns::Value(counts.errorEventsCount())},
                  {"daily_real_time_conversion_events_count", ns::Value(counts.realtimeCount())}};
}

ns::Result<std::optional<NEBAAppMetadata>> NEBADatabase::queryAppMetadata() {
    auto rows = dataTypesFromTableWithName<NEBAAppMetadata>(kAppMetadataTable, "rowid", "1",
                                                            appMetadataFromDictionary);
    if (!rows) return rows.error();
    if (rows->empty()) return std::optional<NEBAAppMetadata>();
    return std::optional<NEBAAppMetadata>(rows->front());
}

ns::Status NEBADatabase::updateAppMetadata(const NEBAAppMetadata& metadata) {
    return updateRecord(dictionaryFromAppMetadata(metadata), kAppMetadataTable, "rowid", "1");
}

ns::Result<std::optional<NEBADailyCounts>> NEBADatabase::dailyCounts() {
    auto rows = dataTypesFromTableWithName<NEBADailyCounts>(
        kAppMetadataTable, "rowid", "1",
        [this](const Record& record) { return dailyCountsFromDictionary(record); });
    if (!rows) return rows.error();
    if (rows->empty()) return std::optional<NEBADailyCounts>();
    return std::optional<NEBADailyCounts>(rows->front());
}

ns::Status NEBADatabase::updateDailyCounts(const NEBADailyCounts& counts) {
    return updateRecord(dictionaryFromDailyCounts(counts), kAppMetadataTable, "rowid", "1");
}

// --- Event aggregates --------------------------------------------------------------------

std::optional<NEBAEventAggregates> NEBADatabase::eventAggregatesFromDictionary(
    const Record& record) {
    const auto* name = stringOf(record, "name");
    auto lifetime = int32Of(record, "lifetime_count");
    auto bundle = int32Of(record, "current_bundle_count");
    if (!name || !lifetime || !bundle) return std::nullopt;
    return NEBAEventAggregates::initWithName(*name, *lifetime, *bundle,
                                             doubleOf(record, "last_fire_timestamp").value_or(0.0));
}

std::optional<NEBADatabase::Record> NEBADatabase::dictionaryFromEventAggregates(
    const NEBAEventAggregates& aggregates) {
    if (aggregates.name().empty()) {
        NEBAMonitor::warning(
            "Received event aggregates object with empty name for getting dictionary "
            "representation");
        return std::nullopt;
    }
    return Record{{"name", ns::Value(aggregates.name())},
                  {"lifetime_count", ns::Value(aggregates.lifetimeCount())},
                  {"current_bundle_count", ns::Value(aggregates.currentBundleCount())},
                  {"last_fire_timestamp", ns::Value(aggregates.lastFireTimestamp())}};
}

ns::Result<std::optional<NEBAEventAggregates>> NEBADatabase::eventAggregatesWithName(
    const std::string& name) {
    auto rows = dataTypesFromTableWithName<NEBAEventAggregates>(kEventsTable, "name", name,
                                                                eventAggregatesFromDictionary);
    if (!rows) return rows.error();
    if (rows->empty()) return std::optional<NEBAEventAggregates>();
    return std::optional<NEBAEventAggregates>(rows->front());
}

ns::Result<std::vector<NEBAEventAggregates>> NEBADatabase::allEventAggregates() {
    return allDataTypesFromTableWithName<NEBAEventAggregates>(kEventsTable, kEventsLimit,
                                                              eventAggregatesFromDictionary);
}

ns::Status NEBADatabase::updateEventAggregates(const NEBAEventAggregates& aggregates) {
    return upsertRecord(dictionaryFromEventAggregates(aggregates), kEventsTable, "name",
                        aggregates.name(), kEventsLimit);
}

ns::Result<int64_t> NEBADatabase::publicEventCount() {
    auto count =
        store_->numberForQuery("SELECT count(1) FROM events WHERE name NOT LIKE '!_%' ESCAPE '!'");
    if (!count) return count.error();
    return count->integerValue();
}

// --- User properties ---------------------------------------------------------------------

std::optional<NEBAUserAttribute> NEBADatabase::userAttributeFromDictionary(const Record& record) {
    const auto* name = stringOf(record, "name");
    if (!name) return std::nullopt;
    auto it = record.find("value");
    if (it == record.end()) return std::nullopt;
    std::optional<NEBAValue> value;
    if (const auto* text = it->second.string()) {
        value = NEBAValue(*text);
    } else if (it->second.isDouble()) {
        value = NEBAValue(it->second.doubleValue());
    } else if (auto integer = it->second.int64()) {
        value = NEBAValue(*integer);
    }
    if (!value) return std::nullopt;
    return NEBAUserAttribute::initWithName(*name, *value,
                                           doubleOf(record, "set_timestamp").value_or(0.0));
}

std::optional<NEBADatabase::Record> NEBADatabase::dictionaryFromUserAttribute(
    const NEBAUserAttribute& attribute) {
    if (attribute.name().empty()) {
        NEBAMonitor::warning(
            "Received user property with empty name for getting dictionary representation");
        return std::nullopt;
    }
    const auto* text = attribute.value().stringValue();
    if (text && text->empty()) {
        NEBAMonitor::error("Received empty string value for user property");
        return std::nullopt;
    }
    return Record{{"name", ns::Value(attribute.name())},
                  {"value", attribute.value().object()},
                  {"set_timestamp", ns::Value(attribute.lastSetTimestamp())}};
}

ns::Result<std::optional<NEBAUserAttribute>> NEBADatabase::userAttributeWithName(
    const std::string& name) {
    auto rows = dataTypesFromTableWithName<NEBAUserAttribute>(kUserAttributesTable, "name", name,
                                                              userAttributeFromDictionary);
    if (!rows) return rows.error();
    if (rows->empty()) return std::optional<NEBAUserAttribute>();
    return std::optional<NEBAUserAttribute>(rows->front());
}

ns::Result<bool> NEBADatabase::containsUserAttributeWithName(const std::string& name) {
    if (name.empty())
        return neba_argumentError("Received empty user property name for exists query");
    auto found = store_->numberForQuery(
        "SELECT EXISTS (SELECT 1 FROM user_attributes WHERE name = ? LIMIT 1)", {ns::Value(name)});
    if (!found) return found.error();
    return found->integerValue() != 0;
}

ns::Result<int64_t> NEBADatabase::publicUserAttributeCount() {
    auto count = store_->numberForQuery(
        "SELECT count(1) FROM user_attributes WHERE name NOT LIKE '!_%' ESCAPE '!'");
    if (!count) return count.error();
    return count->integerValue();
}

ns::Result<std::vector<NEBAUserAttribute>> NEBADatabase::userAttributesIncludingInternal(
    bool includeInternal) {
    auto all = allDataTypesFromTableWithName<NEBAUserAttribute>(
        kUserAttributesTable, kUserAttributesLimit, userAttributeFromDictionary);
    if (!all || includeInternal) return all;
    std::vector<NEBAUserAttribute> publicOnes;
    const auto& reserved = NEBAInternalNames::userPropertyNameMap();
    for (auto& attribute : *all) {
        const auto& name = attribute.name();
        if (name.starts_with("_") || name.starts_with("nebula_") || reserved.count(name)) continue;
        publicOnes.push_back(std::move(attribute));
    }
    return publicOnes;
}

ns::Result<std::vector<NEBAUserAttribute>> NEBADatabase::allLifetimeValueUserAttributes() {
    // "_" matches any character in LIKE: escaped, only names that truly begin with "_ltv_" match.
    auto records = store_->recordsForQuery(
        "SELECT * FROM user_attributes WHERE name LIKE '!_ltv!_%' ESCAPE '!' ORDER BY "
        "set_timestamp DESC");
    if (!records) return records.error();
    std::vector<NEBAUserAttribute> attributes;
    for (const auto& record : *records) {
        if (auto attribute = userAttributeFromDictionary(record))
            attributes.push_back(std::move(*attribute));
    }
    return attributes;
}

ns::Status NEBADatabase::updateUserAttribute(const NEBAUserAttribute& attribute) {
    return upsertRecord(dictionaryFromUserAttribute(attribute), kUserAttributesTable, "name",
                        attribute.name(), kUserAttributesLimit);
}

ns::Status NEBADatabase::deleteUserAttributeWithName(const std::string& name) {
    return store_->deleteRecordFromTableWithName(kUserAttributesTable, "name", name);
}

// --- Stored configuration ----------------------------------------------------------------

ns::Status NEBADatabase::updateRemoteConfig(const NEB_MEASUREMENT::ACPMeasurementConfig& config) {
    std::string bytes = config.SerializeAsString();
    if (bytes.empty()) return neba_argumentError("Invalid measurement config data");
    if (config.nmp_app_id().empty())
        return neba_argumentError("Missing NMP app ID in measurement configuration");
    return updateRecord(Record{{"remote_config_data", ns::Value(ns::Data::fromString(bytes))},
                               {"remote_config_timestamp", ns::Value(now())}},
                        kAppMetadataTable, "rowid", "1");
}

ns::Status NEBADatabase::updateRemoteConfigSuccessfulTimestamp(double timestamp) {
    return updateRecord(Record{{"remote_config_timestamp", ns::Value(timestamp)}},
                        kAppMetadataTable, "rowid", "1");
}

ns::Result<std::optional<NEB_MEASUREMENT::ACPMeasurementConfig>>
NEBADatabase::queryACPMeasurementConfig() {
    using Config = NEB_MEASUREMENT::ACPMeasurementConfig;
    auto records = store_->recordsForQuery("SELECT remote_config_data FROM app_metadata LIMIT 1");
    if (!records) return records.error();
    if (records->empty()) return std::optional<Config>();
    auto it = records->front().find("remote_config_data");
    if (it == records->front().end() || !it->second.data() || it->second.data()->empty()) {
        return std::optional<Config>();
    }
    auto config = safeParse<Config>(*it->second.data(), "ACPMeasurementConfig");
    if (!config) return neba_stateError("Remote config data is corrupted");
    return std::optional<Config>(std::move(*config));
}

ns::Result<std::optional<double>> NEBADatabase::lastRemoteConfigUpdateTimestamp() {
    auto value = store_->numberForQuery("SELECT remote_config_timestamp FROM app_metadata LIMIT 1");
    if (!value) return value.error();
    if (value->isNull()) return std::optional<double>();
    return std::optional<double>(value->doubleValue());
}
