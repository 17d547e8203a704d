// When the next upload is due, and the upload: queued bundles in one batch to the measurement
// server, deleted once it confirms them; failures retried with growing intervals and a long
// back-off after the server says it is busy.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

#include "platform/dispatch/Clock.h"
#include "platform/ns/Format.h"
#include "sdk/analytics/NEBAMeasurement.h"
#include "sdk/analytics/NEBAMonitor.h"
#include "sdk/core/NEBBackoff.h"
#include "sdk/core/NEBServiceHosts.h"

namespace {

constexpr double kEpsilon = DBL_EPSILON;

}  // namespace

// --- Schedule ------------------------------------------------------------------------------

bool NEBAMeasurement::hasDataToUpload() {
    if (!database_) return false;
    auto queueEmpty = database_->isQueuedBundleTableEmpty();
    if (!queueEmpty) {
        NEBAMonitor::error("Failed to check if queue table is empty. Error", {queueEmpty.error()});
        return false;
    }
    if (!*queueEmpty) return true;
    auto rawEmpty = database_->isRawEventsTableEmpty();
    if (!rawEmpty) {
        NEBAMonitor::error("Failed to check if raw events table is empty. Error",
                           {rawEmpty.error()});
        return false;
    }
    return !*rawEmpty;
}

double NEBAMeasurement::nextUploadingTime() {
    const double succeeded = persistedConfig_->lastSuccessfulUploadTimestamp();
    const double failed = persistedConfig_->lastFailedUploadTimestamp();
    double latestRaw = 0;
    double latestBundle = 0;
    if (auto t = database_->queryLatestRawEventTime(); !t)
        NEBAMonitor::warning("Failed to query latest raw event time. Error", {t.error()});
    else
        latestRaw = t->value_or(0);
    if (auto t = database_->queryLatestBundleTime(); !t)
        NEBAMonitor::warning("Failed to query latest bundle time. Error", {t.error()});
    else
        latestBundle = t->value_or(0);
    const double latest = std::max(latestRaw, latestBundle);
    if (std::fabs(latest) < kEpsilon) return 0;

    const bool debugMode = context_.monitor->isDebugModeEnabled();
    bool realtime = debugMode;
    if (!realtime) {
        if (auto r = database_->containsRealtimeBundles(); !r)
            NEBAMonitor::warning("Failed to query for real-time bundle indicator. Error",
                                 {r.error()});
        else
            realtime = *r;
    }
    if (!realtime) {
        if (auto r = database_->containsRealtimeRawEvents(); !r)
            NEBAMonitor::warning("Failed to query for real-time raw event indicator. Error",
                                 {r.error()});
        else
            realtime = *r;
    }
    const double interval =
        realtime ? remoteConfig_->uploadingRealTimeInterval() : remoteConfig_->uploadingInterval();
    const double current = now();
    // Data stamped in the future (a clock set back) counts as that far in the past.
    const double base = current - std::fabs(latest - current);
    double next = std::fabs(current - succeeded) < interval
                      ? succeeded + interval
                      : base + remoteConfig_->uploadingInitialDelayInterval();
    if (debugMode) return std::min(next, base + interval);
    if (failed >= base) {
        // A failure since the latest data: retry after growing intervals, a limited number of
        // times; new data starts the count again.
        const auto backoff = NEBBackoffPolicies::measurementUpload(
            remoteConfig_->uploadingRetryInterval(), remoteConfig_->uploadingRetryCount());
        for (int64_t k = 0; auto wait = backoff.delay(k); ++k) {
            next += *wait;
            if (next > failed) return next;
        }
        return 0;
    }
    return next;
}

void NEBAMeasurement::updateSchedule() {
    NEBAScheduler::checkOnBackgroundThreadWithMethodName("updateSchedule");
    if (!database_ || !alarm_) return;
    auto idle = [this](const char* why) {
        NEBAMonitor::debug(why);
        alarm_->cancel();
        if (network_) network_->setReachabilityDelegate({});
        swapBackgroundTaskWithNewTaskID(ui::kBackgroundTaskInvalid);
    };
    if (!hasDataToUpload()) return idle("No data to upload. Upload task will not be scheduled");
    double next = nextUploadingTime();
    if (std::fabs(next) < kEpsilon)
        return idle("No next uploading time. Upload task will not be scheduled");
    if (!network_ || !network_->isNetworkConnected()) {
        NEBAMonitor::debug("No network. Upload task will not be scheduled");
        alarm_->cancel();
        swapBackgroundTaskWithNewTaskID(ui::kBackgroundTaskInvalid);
        // The reachability callback schedules again once the network is back.
        if (network_) {
            network_->setReachabilityDelegate(
                std::weak_ptr<NEBNetworkReachabilityDelegate>(shared_from_this()));
            // A change that came between the check and the registration told no one.
            if (network_->isNetworkConnected()) reachabilityDidChange();
        }
        return;
    }
    network_->setReachabilityDelegate({});
    const double backoff = persistedConfig_->lastBackoffTimestamp();
    const double backoffInterval = remoteConfig_->uploadingBackoffInterval();
    if (std::fabs(backoff) > kEpsilon && now() - backoff < backoffInterval)
        next = std::max(next, backoff + backoffInterval);
    if (auto pending = alarm_->scheduledTimestamp(); pending && *pending <= next) {
        NEBAMonitor::debug("Do not schedule an upload task. Task already exists");
        return;
    }
    double delay = next - now();
    if (std::fabs(delay) < kEpsilon) delay = 0.001;
    std::weak_ptr<NEBAMeasurement> weak = weak_from_this();
    alarm_->runAfterDelay(delay, [weak] {
        if (auto self = weak.lock())
            self->scheduler_->scheduleOnWorkerQueueBlockID(BlockID::Upload, [weak] {
                if (auto engine = weak.lock()) engine->uploadData();
            });
    });
    NEBAMonitor::debug("Upload task scheduled to be executed in approx. (s)", {ns::Value(delay)});
}

void NEBAMeasurement::uploadDataOrRegisterAlarm() {
    if (network_ && network_->isNetworkConnected() && hasDataToUpload())
        uploadData();
    else
        updateSchedule();
}

bool NEBAMeasurement::isNetworkReadyForRequest() {
    bool transferring = network_ && network_->hasUploadInProgress();
    if (!isNetworkRequestPending_) return !transferring;
    if (!transferring) NEBAMonitor::error("Nebula is uploading but network is not uploading");
    return false;
}

// --- Upload --------------------------------------------------------------------------------

std::vector<NEBADatabase::BundlePair> NEBAMeasurement::filteredBundlesWithCompatibleAppID(
    const std::string& appID, const std::string& resettableDeviceID,
    const std::string& vendorDeviceID, const std::vector<NEBADatabase::BundlePair>& bundles) {
    if (!resettableDeviceID.empty() && !vendorDeviceID.empty()) {
        NEBAMonitor::log(NEBALogLevel::ErrorSampledOnly,
                         "Bundle filter must not specify both resettableDeviceID and "
                         "vendorDeviceID");
        return {};
    }
    const bool byResettable = !resettableDeviceID.empty();
    const std::string& key = byResettable ? resettableDeviceID : vendorDeviceID;
    std::vector<NEBADatabase::BundlePair> batch;
    for (const auto& pair : bundles) {
        const auto& bundle = pair.first;
        const std::string& id =
            byResettable ? bundle.resettable_device_id() : bundle.vendor_device_id();
        if ((!id.empty() && !key.empty() && id != key) || bundle.app_id() != appID) break;
        batch.push_back(pair);
    }
    return batch;
}

bool NEBAMeasurement::setUploadInProgressWithBundleIDs(const std::vector<int64_t>& bundleIDs) {
    if (bundleIDs.empty()) {
        NEBAMonitor::error("Bundle list is empty. Cancelling upload");
        return false;
    }
    if (!uploadingBundleIDs_.empty()) {
        NEBAMonitor::error("Set uploading progress before finishing the previous upload");
        return false;
    }
    uploadingBundleIDs_ = bundleIDs;
    return true;
}

void NEBAMeasurement::uploadData() {
    NEBAScheduler::checkOnBackgroundThreadWithMethodName("uploadData");
    if (!database_ || !remoteConfig_) return;
    NEBAMonitor::debug("Starting data upload");
    if (!isNetworkReadyForRequest()) {
        NEBAMonitor::debug("Network operation is pending. Ignoring upload request");
        return;
    }
    if (!network_ || !network_->isNetworkConnected()) {
        NEBAMonitor::debug("Network not connected, ignoring upload request");
        updateSchedule();
        return;
    }
    const bool expired = remoteConfig_->isExpired();
    if (!expired) {
        int64_t passes = remoteConfig_->maxBundlesCreatedPerIteration();
        for (int64_t i = 0; i < passes && bundleRawEvents(); ++i) {
        }
    }
    auto queued = database_->queryBundlesWithCountLimit(remoteConfig_->uploadMaxBundlesLimit(),
                                                        remoteConfig_->uploadMaxSizeLimitBytes());
    if (!queued) {
        NEBAMonitor::error("Failed to query bundles. Error", {queued.error()});
        swapBackgroundTaskWithNewTaskID(ui::kBackgroundTaskInvalid);
        return;
    }
    if (queued->empty()) {
        NEBAMonitor::debug("No data to upload");
        if (expired) fetchRemoteConfig();
        return;
    }
    const double current = now();
    if (double succeeded = persistedConfig_->lastSuccessfulUploadTimestamp();
        std::fabs(succeeded) > kEpsilon)
        NEBAMonitor::debug("Uploading events. Elapsed time since last successful upload (s)",
                           {ns::Value(std::fabs(current - succeeded))});

    // One batch carries one app and at most one device: the first bundle that names a device
    // decides which.
    const std::string appID = queued->front().first.app_id();
    std::string resettable;
    std::string vendor;
    for (const auto& [bundle, rowID] : *queued) {
        if (!bundle.resettable_device_id().empty()) {
            resettable = bundle.resettable_device_id();
            break;
        }
        if (!bundle.vendor_device_id().empty()) {
            vendor = bundle.vendor_device_id();
            break;
        }
    }
    auto batchBundles = filteredBundlesWithCompatibleAppID(appID, resettable, vendor, *queued);
    const auto uploadTime = static_cast<int64_t>(current * 1000);
    NEB_MEASUREMENT::ACPMeasurementBatch batch;
    std::vector<int64_t> rowIDs;
    NEBAPersistedConfig::BackgroundUpload carried;
    for (auto& [bundle, rowID] : batchBundles) {
        bundle.set_uploading_nmp_version(identity_->libraryVersionFromNMP());
        bundle.set_upload_timestamp_millis(uploadTime);
        carried.bundles.emplace_back(rowID, bundle.end_timestamp_millis());
        *batch.add_bundles() = std::move(bundle);
        rowIDs.push_back(rowID);
    }
    std::string payload = batch.SerializeAsString();
    NEBAMonitor::debug("Measurement data sent to network. Timestamp (ms), data",
                       {ns::Value(static_cast<long long>(uploadTime)),
                        ns::Value(ns::format("%d bundles, %d bytes", batch.bundles_size(),
                                             static_cast<int>(payload.size())))});
    // A batch whose rows are not recorded could never be deleted: it is not sent.
    if (!setUploadInProgressWithBundleIDs(rowIDs)) return;
    // Recorded first: a process that dies before the answer counts as a failed attempt.
    persistedConfig_->setLastFailedUploadTimestamp(current);

    isNetworkRequestPending_ = true;
    network_->setTimeoutInterval(remoteConfig_->networkTimeout());
    auto url = ns::URL::parse("https://" + NEBServiceHosts::measurementUploadHost() + "/a");
    const bool background = remoteConfig_->isNetworkBackgroundSessionEnabled();
    auto session = network_->postURL(url, ns::Data::fromString(payload), scheduler_->workerQueue(),
                                     background, uploadCompletion());
    if (!session) {
        NEBAMonitor::error("Unable to create network session.");
        uploadingBundleIDs_.clear();
    } else if (background) {
        // A later launch may take the upload up: it must know which bundles the answer is for.
        carried.sessionID = *session;
        persistedConfig_->setBackgroundUpload(carried);
    }
}

NEBNetwork::CompletionHandler NEBAMeasurement::uploadCompletion() {
    std::weak_ptr<NEBAMeasurement> weak = weak_from_this();
    return [weak](auto response, auto, auto error) {
        auto self = weak.lock();
        if (!self) return;
        NEBAScheduler::runGuarded(BlockID::Upload, [&] {
            self->isNetworkRequestPending_ = false;
            self->networkUploadCompletionHandlerWithResponse(response, error);
        });
    };
}

// A background upload that an earlier launch started and did not hear answered is taken up
// as the upload in flight: its answer deletes or keeps its bundles as any upload's does, and
// they are not sent again meanwhile.
void NEBAMeasurement::takeUpEarlierBackgroundUpload() {
    auto earlier = persistedConfig_->backgroundUpload();
    if (!earlier) return;
    std::vector<int64_t> rowIDs = rowsStillHolding(earlier->bundles);
    if (!rowIDs.empty() && network_ && setUploadInProgressWithBundleIDs(rowIDs)) {
        isNetworkRequestPending_ = true;
        if (network_->takeUpBackgroundUpload(earlier->sessionID, scheduler_->workerQueue(),
                                             uploadCompletion())) {
            return;
        }
        isNetworkRequestPending_ = false;
        uploadingBundleIDs_.clear();
    }
    // Nothing of it is left to answer: its bundles go with a later upload.
    persistedConfig_->removeBackgroundUpload();
}

// The rows that still hold the bundles an upload carried: a store started anew (after damage)
// may hold others under the same row IDs.
std::vector<int64_t> NEBAMeasurement::rowsStillHolding(
    const std::vector<std::pair<int64_t, int64_t>>& bundles) {
    const auto limit = std::max<int64_t>(static_cast<int64_t>(bundles.size()),
                                         remoteConfig_->uploadMaxBundlesLimit());
    auto queued = database_->queryBundlesWithCountLimit(limit, std::numeric_limits<int64_t>::max());
    if (!queued) {
        NEBAMonitor::error("Failed to query bundles. Error", {queued.error()});
        return {};
    }
    std::vector<int64_t> rowIDs;
    for (const auto& [bundle, rowID] : *queued) {
        const std::pair<int64_t, int64_t> key{rowID, bundle.end_timestamp_millis()};
        if (std::find(bundles.begin(), bundles.end(), key) != bundles.end())
            rowIDs.push_back(rowID);
    }
    return rowIDs;
}

void NEBAMeasurement::networkUploadCompletionHandlerWithResponse(
    const std::shared_ptr<const net::HTTPURLResponse>& response,
    const std::optional<ns::Error>& error) {
    // Answered: no later launch takes this upload up.
    persistedConfig_->removeBackgroundUpload();
    const int code = response ? response->statusCode() : 0;
    const double current = now();
    if (code != 200 && code != 204) {
        persistedConfig_->setLastFailedUploadTimestamp(current);
        if (code == 503 || code == 429) persistedConfig_->setLastBackoffTimestamp(current);
        std::vector<NEBALogContext> contexts{ns::Value(code)};
        if (error) contexts.emplace_back(*error);
        NEBAMonitor::debug("Network upload failed. Will retry later. Code, error", contexts);
        uploadingBundleIDs_.clear();
        updateSchedule();
        return;
    }
    auto length = response->valueForHTTPHeaderField("Content-Length");
    NEBAMonitor::debug("Successful upload. Got network response. Code, size",
                       {ns::Value(code), ns::Value(length.value_or("-1"))});
    persistedConfig_->setLastSuccessfulUploadTimestamp(current);
    persistedConfig_->setLastFailedUploadTimestamp(0.0);
    updateSchedule();
    bool removed = removeBundlesFromDatabaseWithIDs(uploadingBundleIDs_);
    if (!removed) NEBAMonitor::error("Unable to delete uploaded bundles");
    uploadingBundleIDs_.clear();
    // Sending on while the delivered bundles are still queued would send them again, at
    // once and without end on a disk that refuses the delete: the schedule retries later.
    if (!removed) return;
    if (network_ && network_->isNetworkConnected() && hasDataToUpload())
        uploadData();
    else if (remoteConfig_->isExpired())
        uploadData();
    else
        updateSchedule();
}

bool NEBAMeasurement::removeBundlesFromDatabaseWithIDs(const std::vector<int64_t>& bundleIDs) {
    return database_->performTransaction([&] {
        if (auto deleted = database_->deleteBundlesWithRowIDs(bundleIDs); !deleted) {
            NEBAMonitor::error("Failed to delete bundles from database. Error", {deleted.error()});
            return false;
        }
        return true;
    });
}

void NEBAMeasurement::swapBackgroundTaskWithNewTaskID(ui::BackgroundTaskIdentifier taskID) {
    auto old = backgroundUpdateTask_.exchange(taskID);
    if (old == ui::kBackgroundTaskInvalid) return;
    NEBAMonitor::debug("Cancelling background upload task. Task ID ",
                       {ns::Value(static_cast<long long>(old))});
    ui::Application::shared().endBackgroundTask(old);
}

// --- Network delegate ----------------------------------------------------------------------

void NEBAMeasurement::reachabilityDidChange() {
    std::weak_ptr<NEBAMeasurement> weak = weak_from_this();
    scheduler_->scheduleOnWorkerQueueBlockID(BlockID::ReachabilityChanged, [weak] {
        if (auto self = weak.lock()) self->updateSchedule();
    });
}

void NEBAMeasurement::nebNetwork_logWithLevel(NEBNetworkLogLevel level, std::string_view message,
                                              const std::vector<ns::Value>& contexts) {
    int64_t monitorLevel = NEBALogLevel::WarningNotSampled;
    switch (level) {
        case NEBNetworkLogLevel::Error:
            monitorLevel = NEBALogLevel::Error;
            break;
        case NEBNetworkLogLevel::Warning:
            monitorLevel = NEBALogLevel::Warning;
            break;
        case NEBNetworkLogLevel::Info:
            monitorLevel = NEBALogLevel::Info;
            break;
        case NEBNetworkLogLevel::Debug:
            monitorLevel = NEBALogLevel::Debug;
            break;
    }
    std::vector<NEBALogContext> converted(contexts.begin(), contexts.end());
    NEBAMonitor::log(monitorLevel, message, converted);
}

void NEBAMeasurement::nebNetwork_logWithLevel(NEBNetworkLogLevel level, std::string_view message,
                                              const ns::Value& context) {
    nebNetwork_logWithLevel(level, message, std::vector<ns::Value>{context});
}

void NEBAMeasurement::nebNetwork_logWithLevel(NEBNetworkLogLevel level, std::string_view message) {
    nebNetwork_logWithLevel(level, message, std::vector<ns::Value>{});
}

// --- Application life cycle ----------------------------------------------------------------

void NEBAMeasurement::observeApplicationState() {
    auto& center = ns::NotificationCenter::defaultCenter();
    std::weak_ptr<NEBAMeasurement> weak = weak_from_this();
    auto on = [&](const char* name, void (NEBAMeasurement::*handler)()) {
        observers_.push_back(center.addObserver(name, nullptr, [weak, handler](const auto&) {
            if (auto self = weak.lock()) ((*self).*handler)();
        }));
    };
    on(ui::kApplicationDidBecomeActiveNotification,
       &NEBAMeasurement::handleAppDidBecomeActiveEvent);
    on(ui::kApplicationWillResignActiveNotification,
       &NEBAMeasurement::handleAppWillResignActiveEvent);
    on(ui::kApplicationWillEnterForegroundNotification,
       &NEBAMeasurement::handleAppWillEnterForegroundNotification);
}

void NEBAMeasurement::handleAppDidBecomeActiveEvent() {
    if (!remoteConfig_ || !remoteConfig_->blacklistInternal()) return;
    std::weak_ptr<NEBAMeasurement> weak = weak_from_this();
    scheduler_->scheduleOnWorkerQueueBlockID(BlockID::FetchConfiguration, [weak] {
        auto self = weak.lock();
        if (!self) return;
        constexpr double kWeek = 604800;
        if (std::fabs(now() - self->remoteConfig_->lastRemoteConfigUpdateTimestamp()) < kWeek)
            return;
        if (self->isNetworkReadyForRequest())
            self->fetchRemoteConfig();
        else
            NEBAMonitor::debug(
                "Network operation is pending. Ignoring request to fetch configuration");
    });
}

void NEBAMeasurement::handleAppWillResignActiveEvent() {
    if (!remoteConfig_ || !remoteConfig_->uploadWhenAppInBackgroundEnabled()) return;
    NEBAMonitor::debug("App will resign active state. Scheduling data upload");
    std::weak_ptr<NEBAMeasurement> weak = weak_from_this();
    auto task = ui::Application::shared().beginBackgroundTask("NEBAMeasurement", [weak] {
        if (auto self = weak.lock())
            self->swapBackgroundTaskWithNewTaskID(ui::kBackgroundTaskInvalid);
    });
    swapBackgroundTaskWithNewTaskID(task);
    NEBAMonitor::debug("Background task started. Task ID",
                       {ns::Value(static_cast<long long>(task))});
    // Behind the events the facade holds already, so that they go with this upload.
    if (!context_.events) return;
    context_.events->afterQueuedCalls([weak] {
        auto self = weak.lock();
        if (!self) return;
        self->scheduler_->scheduleOnWorkerQueueBlockID(BlockID::UploadInBackground, [weak] {
            if (auto engine = weak.lock()) engine->uploadData();
        });
    });
}

void NEBAMeasurement::handleAppWillEnterForegroundNotification() {
    swapBackgroundTaskWithNewTaskID(ui::kBackgroundTaskInvalid);
}
