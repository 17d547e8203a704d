#include "sdk/analytics/NEBARemoteConfig.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "platform/dispatch/Clock.h"
#include "platform/ns/CharacterSet.h"
#include "platform/ns/PercentEncoding.h"
#include "sdk/analytics/NEBADatabase.h"
#include "sdk/analytics/NEBAInternalNames.h"
#include "sdk/analytics/NEBAMonitor.h"
#include "sdk/analytics/NEBAScheduler.h"
#include "sdk/analytics/NEBNSDictionaryQuery.h"
#include "sdk/core/NEBServiceHosts.h"

namespace {

std::optional<int64_t> truncatedInt64(double value) {
    // Beyond int64 the conversion is undefined; such a value is no valid setting.
    if (!std::isfinite(value) || value >= 9223372036854775808.0 || value < -9223372036854775808.0)
        return std::nullopt;
    return static_cast<int64_t>(value);
}

}  // namespace

std::shared_ptr<NEBARemoteConfig> NEBARemoteConfig::defaultInstance() {
    static const auto& instance =
        *new std::shared_ptr<NEBARemoteConfig>(new NEBARemoteConfig("", nullptr));
    return instance;
}

std::shared_ptr<NEBARemoteConfig> NEBARemoteConfig::initWithNMPAppID(
    const std::string& appID, NEBADatabase* database,
    const std::optional<NEB_MEASUREMENT::ACPMeasurementConfig>& config) {
    if (appID.empty()) {
        NEBAMonitor::error("Cannot init remote configuration without valid NMP App ID");
        return nullptr;
    }
    if (!database) {
        NEBAMonitor::error("Cannot init remote configuration without valid database");
        return nullptr;
    }
    std::shared_ptr<NEBARemoteConfig> remote(new NEBARemoteConfig(appID, database));
    if (config) {
        remote->updateACPMeasurementConfig(&*config);
    } else if (auto stored = remote->ACPMeasurementConfigFromDatabase()) {
        dispatch::Lock lock(remote->mutex_);
        remote->remoteConfigProto_ = *stored;
        remote->parseRemoteConfigFromMeasurementConfig(*stored);
    }
    return remote;
}

bool NEBARemoteConfig::updateACPMeasurementConfig(
    const NEB_MEASUREMENT::ACPMeasurementConfig* config) {
    NEBAScheduler::checkOnBackgroundThreadWithMethodName("updateACPMeasurementConfig:");
    if (isDefaultInstance()) {
        NEBAMonitor::error("Cannot update the default measurement configuration");
        return false;
    }
    if (!config) {
        NEBAMonitor::warning("Cannot set empty measurement config to database");
        return false;
    }
    if (config->nmp_app_id() != appID_) {
        NEBAMonitor::error("Cannot set measurement config when NMP App ID does not match");
        return false;
    }
    if (auto stored = database_->updateRemoteConfig(*config); !stored) {
        NEBAMonitor::error("Cannot store config into the database", {stored.error()});
        return false;
    }
    dispatch::Lock lock(mutex_);
    remoteConfigProto_ = *config;
    parseRemoteConfigFromMeasurementConfig(*config);
    return true;
}

void NEBARemoteConfig::parseRemoteConfigFromMeasurementConfig(
    const NEB_MEASUREMENT::ACPMeasurementConfig& config) {
    if (config.settings_size() == 0) {
        NEBAMonitor::error("Cannot parse empty measurement config. Using default values");
        return;
    }
    if (config.nmp_app_id() != appID_) return;
    cachedValueByRemoteConfigKeys_.clear();
    for (const auto& setting : config.settings()) {
        if (setting.key().empty() || !setting.has_value()) {
            NEBAMonitor::warning("Cannot cache empty configuration value");
            continue;
        }
        cachedValueByRemoteConfigKeys_[setting.key()] = setting.value();
    }
    eventConfigByName_.clear();
    const auto& names = NEBAInternalNames::eventNameMap();
    for (const auto& eventConfig : config.event_config()) {
        if (eventConfig.name().empty()) {
            NEBAMonitor::warning(
                "Cannot cache event configuration with an empty configuration name");
            continue;
        }
        auto internal = names.find(eventConfig.name());
        eventConfigByName_[internal != names.end() ? internal->second : eventConfig.name()] =
            eventConfig;
    }
    if (config.has_version())
        NEBAMonitor::debug("Successfully parsed a configuration. Version",
                           {ns::Value(static_cast<long long>(config.version()))});
}

std::optional<NEB_MEASUREMENT::ACPMeasurementConfig>
NEBARemoteConfig::ACPMeasurementConfigFromDatabase() {
    if (isDefaultInstance()) {
        NEBAMonitor::error(
            "Cannot retrieve a measurement configuration from the database for the "
            "default instance");
        return std::nullopt;
    }
    auto stored = database_->queryACPMeasurementConfig();
    if (!stored) {
        NEBAMonitor::error("Cannot retrieve configuration data from database. Error",
                           {stored.error()});
        return std::nullopt;
    }
    if (!*stored) {
        NEBAMonitor::debug(
            "Configuration was not found in database. The configuration will be "
            "fetched from the network when necessary");
    }
    return *stored;
}

std::optional<NEB_MEASUREMENT::ACPEventConfig> NEBARemoteConfig::eventConfigWithName(
    const std::string& name) {
    if (name.empty()) {
        NEBAMonitor::warning("Cannot find event config with empty event name");
        return std::nullopt;
    }
    dispatch::Lock lock(mutex_);
    auto it = eventConfigByName_.find(name);
    if (it == eventConfigByName_.end()) return std::nullopt;
    return it->second;
}

bool NEBARemoteConfig::isEventBlacklisted(const std::string& name) {
    auto config = eventConfigWithName(name);
    if (config && config->has_blacklisted() && config->blacklisted()) return true;
    bool isPublic = !name.empty() && name[0] != '_';
    return isPublic ? blacklistPublic() : blacklistInternal();
}

bool NEBARemoteConfig::isEventCustomConversion(const std::string& name) {
    auto config = eventConfigWithName(name);
    return config && config->has_conversion() && config->conversion();
}

int64_t NEBARemoteConfig::version() {
    dispatch::Lock lock(mutex_);
    if (!remoteConfigProto_ || !remoteConfigProto_->has_version()) return -1;
    return remoteConfigProto_->version();
}

bool NEBARemoteConfig::isExpired() {
    if (isDefaultInstance()) {
        NEBAMonitor::error("Cannot fetch the last update timestamp from the default configuration");
        return false;
    }
    double age = dispatch::Clock::current().wallTime() - lastRemoteConfigUpdateTimestamp();
    return std::fabs(age) >= remoteConfigCacheTimeInterval();
}

double NEBARemoteConfig::lastRemoteConfigUpdateTimestamp() {
    if (isDefaultInstance()) {
        NEBAMonitor::error(
            "Cannot fetch the last configuration update timestamp from the default instance");
        return 0;
    }
    auto stored = database_->lastRemoteConfigUpdateTimestamp();
    if (!stored) {
        NEBAMonitor::warning("Failed to query last configuration update timestamp. Error",
                             {stored.error()});
        return 0;
    }
    return stored->value_or(0);
}

std::optional<ns::URL> NEBARemoteConfig::remoteConfigURLWithAppInstanceID(
    const std::string& appInstanceID, const std::string& platform, int64_t NMPVersion) const {
    if (appInstanceID.empty() || platform.empty()) {
        NEBAMonitor::error(
            "Cannot create a URL to fetch a configuration with empty app instance "
            "ID or empty platform (app instance, platform)",
            {ns::Value(appInstanceID), ns::Value(platform)});
        return std::nullopt;
    }
    static const auto unreserved = [] {
        auto set = ns::CharacterSet::alphanumericCharacterSet();
        set.addCharactersInString("-._~:");
        return set;
    }();
    const std::string path = ns::percentEncode(appID_, unreserved);
    std::string query = neba_queryString({{"app_instance_id", ns::Value(appInstanceID)},
                                          {"platform", ns::Value(platform)},
                                          {"nmp_version", ns::Value(NMPVersion)}});
    return ns::URL::parse("https://" + NEBServiceHosts::measurementUploadHost() + "/config/app/" +
                          path + "?" + query);
}

std::optional<double> NEBARemoteConfig::numberFromString(std::string_view text) {
    // from_chars ignores the process locale, so "1,5" never reads as 1.5 on a device set to
    // a comma-decimal language, and a server value reads the same everywhere.
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<double> NEBARemoteConfig::numberFromCache(std::string_view key, double defaultValue,
                                                        std::optional<double> maxValue,
                                                        std::optional<double> minValue,
                                                        bool isTime) {
    if (key.empty()) {
        NEBAMonitor::debug("Cannot get setting with empty key from cache");
        return std::nullopt;
    }
    dispatch::Lock lock(mutex_);
    auto it = cachedValueByRemoteConfigKeys_.find(key);
    if (it == cachedValueByRemoteConfigKeys_.end()) {
        cachedValueByRemoteConfigKeys_.emplace(std::string(key), defaultValue);
        return defaultValue;
    }
    if (const double* resolved = std::get_if<double>(&it->second)) return *resolved;
    std::optional<double> number = numberFromString(std::get<std::string>(it->second));
    if (number && isTime) {
        auto millis = truncatedInt64(*number);
        number =
            millis ? std::optional<double>(static_cast<double>(*millis) / 1000.0) : std::nullopt;
    }
    if (!number || (minValue && *number < *minValue) || (maxValue && *number > *maxValue))
        number = defaultValue;
    it->second = *number;
    return number;
}

int32_t NEBARemoteConfig::intValue(std::string_view key, int32_t def, int32_t max, int32_t min) {
    auto n = numberFromCache(key, def, max, min, false);
    return n ? static_cast<int32_t>(*n) : def;
}

int64_t NEBARemoteConfig::int64Value(std::string_view key, int64_t def, int64_t max, int64_t min) {
    auto n = numberFromCache(key, static_cast<double>(def), static_cast<double>(max),
                             static_cast<double>(min), false);
    auto v = n ? truncatedInt64(*n) : std::nullopt;
    return v ? *v : def;
}

double NEBARemoteConfig::timeValue(std::string_view key, double def, double max, double min) {
    return numberFromCache(key, def, max, min, true).value_or(def);
}

bool NEBARemoteConfig::flagValue(std::string_view key, bool def) {
    auto n = numberFromCache(key, def ? 1 : 0, 1, 0, false);
    return n && *n == 1;
}

// clang-format off
double NEBARemoteConfig::uploadingBackoffInterval() { return timeValue("measurement.upload.backoff_period", 43200, 604800, 3600); }
int32_t NEBARemoteConfig::maxAudienceCount() { return intValue("measurement.audience.max_count", 50, 500, 0); }
int32_t NEBARemoteConfig::maxFiltersPerAudience() { return intValue("measurement.audience.filter_max_count_per_audience", 10, 100, 0); }
int32_t NEBARemoteConfig::maxFilterResultCount() { return intValue("measurement.audience.filter_result_max_count", 200, 2000, 0); }
int32_t NEBARemoteConfig::maxParametersPerFilter() { return intValue("measurement.audience.parameter_max_count_filter", 25, 250, 0); }
double NEBARemoteConfig::databaseDeleteStaleBundlesInterval() { return timeValue("measurement.upload.stale_data_deletion_interval", 86400, 604800, 3600); }
double NEBARemoteConfig::adIDCacheTime() { return timeValue("measurement.ad_id_cache_time", 1, 86400, 0); }
double NEBARemoteConfig::maxQueueTime() { return timeValue("measurement.upload.max_queue_time", 2419200, 7862400, 604800); }
double NEBARemoteConfig::monitoringSamplePeriod() { return timeValue("measurement.monitoring.sample_period_millis", 86400, 604800, 0); }
bool NEBARemoteConfig::isNetworkBackgroundSessionEnabled() { return flagValue("measurement.network.background_session_enabled", false); }
double NEBARemoteConfig::networkTimeout() { return timeValue("measurement.network.network_timeout", 60, 3600, 30); }
double NEBARemoteConfig::sessionDefaultMinimumInterval() { return timeValue("measurement.session.default_minimum_interval", 10, 86400, 0); }
double NEBARemoteConfig::sessionDefaultTimeoutInterval() { return timeValue("measurement.session.default_timeout_interval", 1800, 86400, 0); }
double NEBARemoteConfig::sessionEventUserEngagementInterval() { return timeValue("measurement.session.event_user_engagement_interval", 3600, 86400, 0); }
bool NEBARemoteConfig::uploadWhenAppInBackgroundEnabled() { return flagValue("measurement.upload.upload_when_app_in_background_enabled", true); }
bool NEBARemoteConfig::parsePurchaseDataEnabled() { return flagValue("measurement.upload.parse_purchase_data_enabled", true); }
int32_t NEBARemoteConfig::maxConversionsPerDay() { return intValue("measurement.upload.max_conversions_per_day", 500, 1000000, 0); }
int32_t NEBARemoteConfig::maxEventsPerDay() { return intValue("measurement.upload.max_events_per_day", 100000, 1000000, 0); }
int32_t NEBARemoteConfig::maxPublicEventsPerDay() { return intValue("measurement.upload.max_public_events_per_day", 50000, 1000000, 0); }
int32_t NEBARemoteConfig::maxErrorEventsPerDay() { return intValue("measurement.upload.max_error_events_per_day", 1000, 1000000, 0); }
int32_t NEBARemoteConfig::maxTrackedCurrencies() { return intValue("measurement.lifetimevalue.max_currency_tracked", 4, 100, 1); }
int32_t NEBARemoteConfig::maxEventsStored() { return intValue("measurement.store.max_stored_events_per_app", 100000, 1000000, 0); }
double NEBARemoteConfig::uploadingInterval() { return timeValue("measurement.upload.interval", 3600, 86400, 15); }
double NEBARemoteConfig::uploadingInitialDelayInterval() { return timeValue("measurement.upload.initial_upload_delay_time", 15, 86400, 1); }
int64_t NEBARemoteConfig::uploadMaxBundlesLimit() { return int64Value("measurement.upload.max_bundles", 100, 10000, 1); }
int64_t NEBARemoteConfig::uploadMaxEventsPerBundle() { return int64Value("measurement.upload.max_events_per_bundle", 1000, 1000000, 1); }
int64_t NEBARemoteConfig::uploadMaxSizeLimitBytes() { return int64Value("measurement.upload.max_batch_size", 65536, 10485760, 0); }
int32_t NEBARemoteConfig::uploadingRetryCount() { return intValue("measurement.upload.retry_count", 6, 24, 1); }
double NEBARemoteConfig::uploadingRetryInterval() { return timeValue("measurement.upload.retry_time", 1800, 86400, 60); }
int64_t NEBARemoteConfig::maxBundlesCreatedPerIteration() { return static_cast<int64_t>(timeValue("measurement.upload.max_bundles_created_per_iteration", 100, 10000, 1)); }
int32_t NEBARemoteConfig::maxRealtimeEventCountPerDay() { return intValue("measurement.upload.max_realtime_events_per_day", 10, 10, 0); }
double NEBARemoteConfig::uploadingRealTimeInterval() { return timeValue("measurement.upload.realtime_upload_interval", 10, 15, 10); }
bool NEBARemoteConfig::blacklistInternal() { return flagValue("measurement.upload.blacklist_internal", false); }
bool NEBARemoteConfig::blacklistPublic() { return flagValue("measurement.upload.blacklist_public", false); }
double NEBARemoteConfig::remoteConfigCacheTimeInterval() { return timeValue("measurement.config.cache_time", 3600, 86400, 60); }
// clang-format on
