// The engine's fetch of its measurement configuration from the measurement server.
#include <cstdint>

#include "platform/dispatch/Clock.h"
#include "sdk/analytics/NEBAMeasurement.h"
#include "sdk/analytics/NEBAMonitor.h"

void NEBAMeasurement::fetchRemoteConfig() {
    if (!remoteConfig_ || !identity_ || !network_) return;
    auto url = remoteConfig_->remoteConfigURLWithAppInstanceID(identity_->appInstanceID(), "ios",
                                                               identity_->libraryVersionFromNMP());
    if (!url) {
        NEBAMonitor::error("Unable to get configuration. Invalid server URL.");
        return;
    }
    NEBAMonitor::debug("Fetching configuration from the server");
    net::HTTPHeaderFields headers;
    auto lastModified = persistedConfig_->configServerLastModifiedString();
    if (lastModified && !lastModified->empty()) headers.emplace("If-Modified-Since", *lastModified);
    isNetworkRequestPending_ = true;
    network_->setTimeoutInterval(remoteConfig_->networkTimeout());
    std::weak_ptr<NEBAMeasurement> weak = weak_from_this();
    network_->getURL(url, headers, scheduler_->workerQueue(),
                     remoteConfig_->isNetworkBackgroundSessionEnabled(),
                     [weak](auto response, auto data, auto error) {
                         auto self = weak.lock();
                         if (!self) return;
                         NEBAScheduler::runGuarded(BlockID::FetchConfiguration, [&] {
                             self->isNetworkRequestPending_ = false;
                             self->networkRemoteConfigFetchCompletionHandler(response, data, error);
                         });
                     });
}

void NEBAMeasurement::networkRemoteConfigFetchCompletionHandler(
    const std::shared_ptr<const net::HTTPURLResponse>& response,
    const std::optional<ns::Data>& data, const std::optional<ns::Error>& error) {
    int code = response ? response->statusCode() : 0;
    double now = dispatch::Clock::current().wallTime();
    NEBAMonitor::debug("Fetched configuration. Status code", {ns::Value(code)});
    bool answered = code == 200 || code == 204 || code == 304 || code == 404;
    if (!answered) {
        std::vector<NEBALogContext> contexts{ns::Value(code)};
        if (error) contexts.emplace_back(*error);
        NEBAMonitor::debug(
            "Unable to get the configuration from server. Network request failed. Code, Error",
            contexts);
        persistedConfig_->setLastFailedUploadTimestamp(now);
        if (code == 503 || code == 429) persistedConfig_->setLastBackoffTimestamp(now);
        NEBAMonitor::debug("Network fetch failed. Will retry later. Code, error", contexts);
        updateSchedule();
        return;
    }
    persistedConfig_->setConfigServerLastModifiedString(
        response->valueForHTTPHeaderField("Last-Modified").value_or(""));
    if (code == 304)
        NEBAMonitor::debug(
            "Configuration has not been modified. Using the same configuration. Code",
            {ns::Value(code)});
    if (code == 404)
        NEBAMonitor::log(NEBALogLevel::WarningNotSampled,
                         "Configuration not found. Using default configuration");
    if (code == 200 || code == 204)
        NEBAMonitor::debug(
            "Successful fetched configuration from the server. Got network response. Code, size",
            {ns::Value(code), ns::Value(static_cast<long long>(data ? data->length() : 0))});
    // A timestamp that cannot be stored is logged and the answer still applies.
    bool stamped = database_->performTransaction([&] {
        if (auto stored = database_->updateRemoteConfigSuccessfulTimestamp(now); !stored) {
            NEBAMonitor::error(
                "Unable to update the configuration last set timestamp in database. "
                "Error",
                {stored.error()});
            return false;
        }
        return true;
    });
    if ((code == 200 || code == 204) && data && !data->empty()) applyRemoteConfig(*data);
    if (stamped) {
        uploadDataOrRegisterAlarm();
        return;
    }
    // Unstamped, the configuration still reads as expired and the next upload attempt would
    // only fetch it again: the attempt counts as failed, so that the retries space out.
    persistedConfig_->setLastFailedUploadTimestamp(now);
    updateSchedule();
}

void NEBAMeasurement::applyRemoteConfig(const ns::Data& data) {
    database_->performTransaction([&] {
        NEB_MEASUREMENT::ACPMeasurementConfig config;
        if (data.length() > INT32_MAX ||
            !config.ParseFromArray(data.bytes(), static_cast<int>(data.length()))) {
            NEBAMonitor::error("Configuration data is invalid.");
            return false;
        }
        if (config.nmp_app_id() != identity_->appIDFromNMP()) {
            NEBAMonitor::error("Configuration does not have valid NMP App ID.");
            return false;
        }
        if (!audience_->updateACPAudiences(config.audiences())) {
            NEBAMonitor::error("Failed to update audiences with new server configuration");
            return false;
        }
        config.clear_audiences();
        if (!remoteConfig_->updateACPMeasurementConfig(&config)) {
            NEBAMonitor::error("Failed to update configuration with new server configuration");
            return false;
        }
        return true;
    });
}
