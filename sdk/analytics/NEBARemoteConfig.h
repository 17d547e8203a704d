#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/URL.h"
#include "proto/measurement.pb.h"

class NEBADatabase;

// The engine's tunables, from the measurement configuration the server sends. Each setting has
// a default and a valid range; one that is absent, unparsable or out of range reads as its
// default. Also answers whether an event is blacklisted or a custom conversion.
//
// The getters may be called from any thread; updates run on the worker queue.
class NEBARemoteConfig {
public:
    // Shared, without app ID, database or configuration: every getter answers its default.
    static std::shared_ptr<NEBARemoteConfig> defaultInstance();
    // Null (logged) for an empty app ID or no database. Loads the stored configuration.
    static std::shared_ptr<NEBARemoteConfig> initWithNMPAppID(
        const std::string& appID, NEBADatabase* database,
        const std::optional<NEB_MEASUREMENT::ACPMeasurementConfig>& config = std::nullopt);

    bool updateACPMeasurementConfig(const NEB_MEASUREMENT::ACPMeasurementConfig* config);
    std::optional<NEB_MEASUREMENT::ACPEventConfig> eventConfigWithName(const std::string& name);
    bool isEventBlacklisted(const std::string& name);
    bool isEventCustomConversion(const std::string& name);
    int64_t version();
    // Whether the stored configuration is older than its cache time (never for the default).
    bool isExpired();
    double lastRemoteConfigUpdateTimestamp();
    // "https://" + the measurement host + "/config/app/" + the app ID (percent-encoded, so
    // that no app ID can reach another path) + the query; none without instance ID or platform.
    std::optional<ns::URL> remoteConfigURLWithAppInstanceID(const std::string& appInstanceID,
                                                            const std::string& platform,
                                                            int64_t NMPVersion) const;

    double uploadingBackoffInterval();
    int32_t maxAudienceCount();
    int32_t maxFiltersPerAudience();
    int32_t maxFilterResultCount();
    int32_t maxParametersPerFilter();
    double databaseDeleteStaleBundlesInterval();
    double adIDCacheTime();
    double maxQueueTime();
    double monitoringSamplePeriod();
    bool isNetworkBackgroundSessionEnabled();
    double networkTimeout();
    double sessionDefaultMinimumInterval();
    double sessionDefaultTimeoutInterval();
    double sessionEventUserEngagementInterval();
    bool uploadWhenAppInBackgroundEnabled();
    bool parsePurchaseDataEnabled();
    int32_t maxConversionsPerDay();
    int32_t maxEventsPerDay();
    int32_t maxPublicEventsPerDay();
    int32_t maxErrorEventsPerDay();
    int32_t maxTrackedCurrencies();
    int32_t maxEventsStored();
    double uploadingInterval();
    double uploadingInitialDelayInterval();
    int64_t uploadMaxBundlesLimit();
    int64_t uploadMaxEventsPerBundle();
    int64_t uploadMaxSizeLimitBytes();
    int32_t uploadingRetryCount();
    double uploadingRetryInterval();
    int64_t maxBundlesCreatedPerIteration();
    int32_t maxRealtimeEventCountPerDay();
    double uploadingRealTimeInterval();
    bool blacklistInternal();
    bool blacklistPublic();
    double remoteConfigCacheTimeInterval();

    // Setting text as a number, in the C locale whatever the user's; none unless the whole
    // text is one finite number.
    static std::optional<double> numberFromString(std::string_view text);

private:
    using Cached = std::variant<std::string, double>;
    NEBARemoteConfig(std::string appID, NEBADatabase* database)
        : appID_(std::move(appID)), database_(database) {}
    bool isDefaultInstance() const { return database_ == nullptr; }
    std::optional<double> numberFromCache(std::string_view key, double defaultValue,
                                          std::optional<double> maxValue,
                                          std::optional<double> minValue, bool isTime);
    int32_t intValue(std::string_view key, int32_t def, int32_t max, int32_t min);
    int64_t int64Value(std::string_view key, int64_t def, int64_t max, int64_t min);
    double timeValue(std::string_view key, double def, double max, double min);
    bool flagValue(std::string_view key, bool def);
    void parseRemoteConfigFromMeasurementConfig(const NEB_MEASUREMENT::ACPMeasurementConfig& c)
        REQUIRES(mutex_);
    std::optional<NEB_MEASUREMENT::ACPMeasurementConfig> ACPMeasurementConfigFromDatabase();

    std::string appID_;
    NEBADatabase* database_;
    dispatch::Mutex mutex_;
    std::optional<NEB_MEASUREMENT::ACPMeasurementConfig> remoteConfigProto_ GUARDED_BY(mutex_);
    std::map<std::string, Cached, std::less<>> cachedValueByRemoteConfigKeys_ GUARDED_BY(mutex_);
    std::map<std::string, NEB_MEASUREMENT::ACPEventConfig, std::less<>> eventConfigByName_
        GUARDED_BY(mutex_);
};
