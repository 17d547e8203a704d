#include "sdk/analytics/NEBAMeasurement.h"

#include <charconv>
#include <limits>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/QueueContract.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/Format.h"
#include "sdk/analytics/NEBAEnvironmentInfo.h"
#include "sdk/analytics/NEBAErrorEvent.h"
#include "sdk/analytics/NEBAIdentity.h"
#include "sdk/analytics/NEBAInAppPurchaseTransactionReporter.h"
#include "sdk/analytics/NEBALifetimeValueRecorder.h"
#include "sdk/analytics/NEBAMonitor.h"
#include "sdk/analytics/NSData+MD5.h"
#include "sdk/analytics/NSError+NEBAAdditions.h"
#include "sdk/core/NEBServiceHosts.h"

namespace {

struct SharedEngine {
    dispatch::Mutex mutex;
    std::shared_ptr<NEBAMeasurement> engine GUARDED_BY(mutex);
    bool created GUARDED_BY(mutex) = false;
};

SharedEngine& sharedEngine() {
    static SharedEngine* shared = new SharedEngine;  // never freed: queues may outlive exit
    return *shared;
}

ns::Value contextOf(const NEBAEvent& event) {
    return ns::Value(NEBAEvent::dictionaryFromParameters(event.parameters()));
}

}  // namespace

// --- Shared instance ---------------------------------------------------------------------

void NEBAMeasurement::initializeSharedInstanceWithOptions(
    const std::shared_ptr<NEBOptions>& options, std::shared_ptr<const NEBServices> services,
    std::shared_ptr<NEBAEventPort> events) {
    auto& shared = sharedEngine();
    dispatch::Lock lock(shared.mutex);
    if (shared.created) return;
    shared.created = true;
    if (!options || options->nebulaAppID().value_or("").empty()) return;
    // The process keeps the placeholder monitor until the engine installs its versioned one;
    // one installed on purpose (a test's capture) stays.
    if (NEBAMonitor::shared()->libraryVersion() == 0) {
        NEBAMonitor::setShared(std::make_shared<NEBAMonitor>(
            NEBAIdentity::formattedLibraryVersionFromNEBOptions(NEBOptions::libraryVersionID())));
    }
    shared.engine = initWithOptions(
        options, Context{std::move(services), NEBAMonitor::shared(), std::move(events)});
}

std::shared_ptr<NEBAMeasurement> NEBAMeasurement::sharedInstance() {
    auto& shared = sharedEngine();
    dispatch::Lock lock(shared.mutex);
    if (!shared.created) {
        NEBAMonitor::error(
            "Nebula Analytics has not been created. Please, configure Nebula by "
            "calling [NEBApp configure]");
    }
    return shared.engine;
}

std::shared_ptr<NEBARemoteConfig> NEBAMeasurement::remoteConfig() {
    auto& shared = sharedEngine();
    std::shared_ptr<NEBAMeasurement> engine;
    {
        dispatch::Lock lock(shared.mutex);
        engine = shared.engine;
    }
    if (engine && engine->remoteConfig_) return engine->remoteConfig_;
    return NEBARemoteConfig::defaultInstance();
}

NEBAMeasurement::ScopedSharedOverride::ScopedSharedOverride(
    std::shared_ptr<NEBAMeasurement> engine) {
    auto& shared = sharedEngine();
    dispatch::Lock lock(shared.mutex);
    previous_ = std::exchange(shared.engine, std::move(engine));
    previousCreated_ = std::exchange(shared.created, shared.engine != nullptr);
}

NEBAMeasurement::ScopedSharedOverride::~ScopedSharedOverride() {
    auto& shared = sharedEngine();
    dispatch::Lock lock(shared.mutex);
    shared.engine = std::move(previous_);
    shared.created = previousCreated_;
}

// --- Creation and enabling ---------------------------------------------------------------

std::shared_ptr<NEBAMeasurement> NEBAMeasurement::initWithOptions(
    std::shared_ptr<NEBOptions> options, Context context) {
    NEBAMonitor::info(
        ns::format("Nebula Analytics v.%@ started", std::string(NEBOptions::libraryVersionID())));
    NEBAMonitor::info(
        "To enable debug logging set the following application argument: "
        "-NEBAnalyticsDebugEnabled (see the SDK's logging documentation)");
    NEBAMonitor::debug("Debug logging enabled");
    auto network = NEBNetwork::create(NEBServiceHosts::measurementUploadHost(),
                                      context.services->requests().network);
    if (network) {
        network->setIsDebugModeEnabled(context.monitor->isDebugModeEnabled());
    } else {
        NEBAMonitor::error("Failed to initialize network component");
    }
    return initWithDatabaseName(NEBADatabase::kDatabaseName, NEBAPersistedConfig::kSuiteName,
                                std::make_shared<NEBAScheduler>(NEBAScheduler::kWorkerQueueLabel),
                                std::move(options), std::move(context), std::move(network));
}

std::shared_ptr<NEBAMeasurement> NEBAMeasurement::initWithDatabaseName(
    std::string databaseName, std::string_view persistedConfigName,
    std::shared_ptr<NEBAScheduler> scheduler, std::shared_ptr<NEBOptions> options, Context context,
    std::shared_ptr<NEBNetwork> network) {
    std::shared_ptr<NEBAMeasurement> engine(new NEBAMeasurement);
    engine->keychain_ = std::make_unique<NEBAKeychainWrapper>(context.services->keychain());
    engine->context_ = std::move(context);
    engine->network_ = std::move(network);
    engine->initTimestamp_ = now();
    engine->options_ = std::move(options);
    engine->databaseName_ = std::move(databaseName);
    engine->persistedConfig_ = NEBAPersistedConfig::initWithSuiteName(persistedConfigName);
    engine->scheduler_ = std::move(scheduler);
    engine->alarm_ = std::make_unique<NEBAAlarm>(*engine->scheduler_->workerQueue());
    if (engine->network_) engine->network_->setLoggerDelegate(engine);
    bool enable = engine->options_ &&
                  shouldEnableMeasurement(*engine->options_, engine->persistedConfig_.get());
    engine->setIsEnabled(enable);
    engine->wasEnabledDuringInitialization_ = enable;
    engine->swapBackgroundTaskWithNewTaskID(ui::kBackgroundTaskInvalid);
    return engine;
}

NEBAMeasurement::~NEBAMeasurement() {
    for (auto token : observers_) ns::NotificationCenter::defaultCenter().removeObserver(token);
}

double NEBAMeasurement::now() {
    return dispatch::Clock::current().wallTime();
}

bool NEBAMeasurement::shouldEnableMeasurement(const NEBOptions& options,
                                              const NEBAPersistedConfig* persistedConfig) {
    if (options.isAnalyticsCollectionDeactivated()) return false;
    int64_t state = persistedConfig ? persistedConfig->measurementEnabledState() : 0;
    if (state == 1) return true;
    if (state == 2) return false;
    return options.isAnalyticsCollectionEnabled();
}

void NEBAMeasurement::setIsEnabled(bool enabled) {
    scheduler_->scheduleOnWorkerQueueBlockID(
        BlockID::SetIsEnabled,
        [self = shared_from_this(), enabled] { self->setIsEnabledOnWorkerQueue(enabled); });
}

void NEBAMeasurement::setIsEnabledOnWorkerQueue(bool enabled) {
    NEBAScheduler::checkOnBackgroundThreadWithMethodName("setIsEnabledOnWorkerQueue");
    if (enabled && options_ && options_->isAnalyticsCollectionDeactivated()) return;
    isEnabled_ = enabled;
    if (enabled) {
        if (!startMeasurementOnWorkerQueue()) {
            NEBAMonitor::debug("Failed to start Nebula Analytics. Nebula Analytics is disabled");
            setIsEnabled(false);
            return;
        }
        sessionReporter_->setIsReportingEnabled(true);
        NEBAMonitor::info("Nebula Analytics enabled");
    } else {
        if (sessionReporter_) sessionReporter_->setIsReportingEnabled(false);
        NEBAMonitor::info("Nebula Analytics disabled");
    }
}

bool NEBAMeasurement::startMeasurementOnWorkerQueue() {
    NEBAScheduler::checkOnBackgroundThreadWithMethodName("startMeasurementOnWorkerQueue");
    if (!componentsInitialized_) {
        // A failed build leaves the guard open so that the next enabling tries again.
        if (!initializeComponents()) return false;
        componentsInitialized_ = true;
        takeUpEarlierBackgroundUpload();
    }
    updateSchedule();
    return true;
}

bool NEBAMeasurement::initializeComponents() {
    std::string appID = options_ ? options_->nebulaAppID().value_or("") : "";
    if (!persistedConfig_) return false;
    std::string persistedAppID = persistedConfig_->appIDFromNMP().value_or("");
    if (!persistedAppID.empty() && !appID.empty() && persistedAppID != appID) {
        previousNMPAppID_ = persistedAppID;
        persistedConfig_->clearValues();
        context_.monitor->clearMonitoringData();
        if (auto deleted = NEBADatabase::deleteDatabaseFileWithName(databaseName_); !deleted) {
            NEBAMonitor::warning("Failed to delete old database file. Error", {deleted.error()});
        }
    }
    persistedConfig_->setAppIDFromNMP(appID);

    database_ = NEBADatabase::initWithDatabaseName(databaseName_, persistedConfig_);
    if (!database_) database_ = NEBADatabase::initWithDatabaseName(databaseName_, persistedConfig_);
    if (!database_) return false;
    identity_ = NEBAIdentity::initWithPersistedConfig(persistedConfig_, options_);
    if (!identity_) return false;
    remoteConfig_ = NEBARemoteConfig::initWithNMPAppID(identity_->appIDFromNMP(), database_.get());
    if (!remoteConfig_) return false;
    identity_->setRemoteConfig(remoteConfig_);
    audience_ = NEBAAudience::initWithDatabase(database_.get(), remoteConfig_);
    if (!audience_) return false;
    NEBADatabaseLimits limits;
    limits.maxEventsStored = remoteConfig_->maxEventsStored();
    limits.maxQueueTime = remoteConfig_->maxQueueTime();
    limits.databaseDeleteStaleBundlesInterval = remoteConfig_->databaseDeleteStaleBundlesInterval();
    database_->setLimits(limits);
    // The folder as a whole, with what else comes to live in it beside the store.
    if (auto excluded = ns::FileManager::defaultManager().setExcludedFromBackup(
            NEBADatabase::databaseDirectory(), true);
        !excluded) {
        NEBAMonitor::warning("Failed to exclude directory from backup. Error", {excluded.error()});
    }

    NEBAMonitor::debug("Nebula Analytics is ready to receive events");
    context_.monitor->setEncodeContexts(true);
    if (auto swept = database_->maybeDeleteStaleData(); !swept) {
        NEBAMonitor::warning("Unable to delete stale data. Error", {swept.error()});
    }
    reportFirstOpenOnWorkerQueue();
    reportAppUpdateOnWorkerQueue();
    reportOSUpdateOnWorkerQueue();
    auto& purchases = NEBAInAppPurchaseTransactionReporter::sharedInstance();
    if (!purchases.reportingWasDisabled()) purchases.enableReporting(context_.events);
    sessionReporter_ = NEBASessionReporter::initWithPersistedConfig(persistedConfig_, remoteConfig_,
                                                                    context_.events);
    if (!sessionReporter_) return false;
    observeApplicationState();
    return true;
}

void NEBAMeasurement::setMinimumSessionInterval(double seconds) {
    scheduler_->scheduleOnWorkerQueueBlockID(
        BlockID::SetMinimumSessionInterval, [self = shared_from_this(), seconds] {
            if (self->sessionReporter_) self->sessionReporter_->setMinimumSessionInterval(seconds);
        });
}

void NEBAMeasurement::setSessionTimeoutInterval(double seconds) {
    scheduler_->scheduleOnWorkerQueueBlockID(
        BlockID::SetSessionTimeout, [self = shared_from_this(), seconds] {
            if (self->sessionReporter_) self->sessionReporter_->setTimeoutSessionInterval(seconds);
        });
}

// --- Events ------------------------------------------------------------------------------

void NEBAMeasurement::logEvent(const std::optional<NEBAEvent>& event) {
    if (!event) {
        NEBAMonitor::warning("Attempted to log nil event");
        return;
    }
    scheduler_->scheduleOnWorkerQueueBlockID(
        BlockID::LogEvent,
        [self = shared_from_this(), event = *event] { self->logEventOnWorkerQueue(event); });
}

void NEBAMeasurement::logOwnEvent(const std::string& name, const ns::Dictionary& parameters) {
    auto event = NEBAEvent::initWithOrigin("auto", false, name, now(), 0, parameters);
    if (!event) return;
    // Never within the block running now: that may be inside a transaction of the store.
    scheduler_->scheduleOnWorkerQueueBlockID(
        BlockID::LogEvent, [self = shared_from_this(), event = std::move(*event)] {
            if (self->isEnabled_ && self->context_.events)
                self->context_.events->notifyEventListeners(event);
            self->logEventOnWorkerQueue(event);
        });
}

void NEBAMeasurement::logErrorEvent(int64_t code, const std::string& name, size_t limit) {
    logOwnEvent(kNEBAErrorEventName, NEBAErrorEventParameters(code, ns::Value(name), limit));
}

void NEBAMeasurement::maybeAddDebugAndRealtimeParameters(NEBAEvent& event) {
    if (!context_.monitor->isDebugModeEnabled()) return;
    event.setIsRealtime(true);
    event.setIsDebug(true);
    NEBAMonitor::debug(
        "Debug mode is enabled. Marking event as debug and real-time. Event name, "
        "parameters",
        {ns::Value(event.name()), contextOf(event)});
}

void NEBAMeasurement::logEventOnWorkerQueue(NEBAEvent event) {
    if (scheduler_) HYB_EXPECT_QUEUE(*scheduler_->workerQueue());
    NEBAScheduler::checkOnBackgroundThreadWithMethodName("logEventOnWorkerQueue:");
    NEBAMonitor::debug("Logging event: origin, name, params",
                       {ns::Value(event.origin()), ns::Value(event.name()), contextOf(event)});
    if (!isEnabled_ || !database_) {
        NEBAMonitor::debug("Nebula Analytics is disabled. Event not logged");
        return;
    }
    const std::string& name = event.name();
    if (remoteConfig_->isEventBlacklisted(name)) {
        NEBAMonitor::warning(
            "Rejected event. Contact Nebula Support for more information. Event name",
            {ns::Value(name)});
        if (remoteConfig_->blacklistInternal() || remoteConfig_->blacklistPublic() ||
            NEBAIsErrorEventName(name))
            return;
        logErrorEvent(NEBAErrorCode::RejectedEvent, name, NEBAErrorItemLimit::EventName);
        return;
    }

    if (NEBALifetimeValueRecorder::isPurchaseEvent(event)) {
        bool recorded = database_->performTransaction([&] {
            if (NEBALifetimeValueRecorder::recordLifetimeValueToDatabase(*database_, event,
                                                                         *remoteConfig_))
                return true;
            auto parameter = [&](const char* key) {
                auto it = event.parameters().find(key);
                return it == event.parameters().end() ? ns::Value() : it->second.object();
            };
            NEBAMonitor::error(
                "Cannot record lifetime value of event. Name, currency code, "
                "transaction value",
                {ns::Value(name), parameter("currency"), parameter("value")});
            return false;
        });
        if (!recorded) return;
    }

    bool dropped = false;
    bool realtime = false;
    bool counted =
        database_->performTransaction([&] { return applyDailyLimits(event, dropped, realtime); });
    if (!counted) return;
    if (dropped) {
        NEBAMonitor::debug("Event dropped. Event name, event params",
                           {ns::Value(name), contextOf(event)});
        return;
    }
    if (database_->performTransaction([&] { return storeEvent(event, realtime); }))
        updateSchedule();
}

bool NEBAMeasurement::applyDailyLimits(NEBAEvent& event, bool& dropped, bool& realtime) {
    auto stored = database_->dailyCounts();
    if (!stored) {
        NEBAMonitor::error("Data loss. Unable to query daily event counts. Error",
                           {stored.error()});
        return false;
    }
    int32_t today = database_->currentDay();
    // The limits are per day: yesterday's totals must not refuse today's first events.
    NEBADailyCounts counts =
        *stored && (*stored)->day() == today ? **stored : NEBADailyCounts(today, 0, 0, 0, 0, 0);
    const std::string& name = event.name();
    bool isPublic = NEBAIsPublicName(name);
    bool errorEvent = NEBAIsErrorEventName(name);
    bool droppedByKind = false;

    int64_t over = int64_t{counts.allEventsCount()} - remoteConfig_->maxEventsPerDay();
    if (over >= 0) {
        dropped = true;
        if (over % 1000 == 0)
            NEBAMonitor::error("Data loss. Too many events logged. Name, limit",
                               {ns::Value(name), ns::Value(remoteConfig_->maxEventsPerDay())});
    }
    if (!dropped && errorEvent) {
        over = int64_t{counts.errorEventsCount()} - remoteConfig_->maxErrorEventsPerDay();
        if (over >= 0) {
            dropped = droppedByKind = true;
            if (over % 1000 == 0) {
                auto code = event.parameters().find(kNEBAErrorEventName);
                NEBAMonitor::error(
                    "Too many error events logged. Error code, limit",
                    {code != event.parameters().end() ? code->second.object() : ns::Value(),
                     ns::Value(remoteConfig_->maxErrorEventsPerDay())});
            }
        }
    }
    if (!dropped && isPublic) {
        over = int64_t{counts.publicEventsCount()} - remoteConfig_->maxPublicEventsPerDay();
        if (over >= 0) {
            dropped = droppedByKind = true;
            if (over % 1000 == 0)
                NEBAMonitor::error(
                    "Data loss. Too many public events logged. Name, limit",
                    {ns::Value(name), ns::Value(remoteConfig_->maxPublicEventsPerDay())});
            logErrorEvent(NEBAErrorCode::PublicEventsOverDailyLimit, name,
                          NEBAErrorItemLimit::CountedEventName);
        }
    }
    if (errorEvent)
        counts.incrementErrorEventsCountForCurrentDay(today);
    else
        counts.incrementCountsForCurrentDay(today, isPublic, false);
    if (droppedByKind) counts.decrementAllEventsCount();

    bool qualifies = event.isConversion() || remoteConfig_->isEventCustomConversion(name);
    if (qualifies) {
        if (counts.realtimeCount() < remoteConfig_->maxRealtimeEventCountPerDay()) {
            realtime = true;
            NEBAMonitor::debug(
                "Conversion event is under real-time daily limit. Marking the event "
                "as real-time. Event name, parameters",
                {ns::Value(name), contextOf(event)});
        }
        if (context_.monitor->isDebugModeEnabled() || name == "_iap" || name == "_f") {
            realtime = true;
            NEBAMonitor::debug(
                "Conversion event is not subject to real-time daily limit. Marking "
                "the event as real-time. Event name, parameters",
                {ns::Value(name), contextOf(event)});
        }
    }
    maybeAddDebugAndRealtimeParameters(event);
    realtime = realtime || event.isRealtime();

    if (auto updated = database_->updateDailyCounts(counts); !updated) {
        NEBAMonitor::error("Data loss. Unable to update daily event counts. Name, error",
                           {ns::Value(name), updated.error()});
        return false;
    }
    return true;
}

bool NEBAMeasurement::storeEvent(const NEBAEvent& event, bool realtime) {
    const std::string& name = event.name();
    auto aggregates = database_->eventAggregatesWithName(name);
    if (!aggregates) {
        NEBAMonitor::error("Unable to query event aggregates. Name, error",
                           {ns::Value(name), aggregates.error()});
        return false;
    }
    if (!*aggregates) {
        if (NEBAIsPublicName(name)) {
            auto count = database_->publicEventCount();
            if (!count) {
                NEBAMonitor::error("Unable to query event count. Error", {count.error()});
                return false;
            }
            if (*count >= kMaxPublicEventNames) {
                NEBAMonitor::error("Unable to set event. Reached limit on set events. Name",
                                   {ns::Value(name)});
                logErrorEvent(NEBAErrorCode::TooManyEventNames, name,
                              NEBAErrorItemLimit::CountedEventName);
                return false;
            }
        }
        auto fresh = NEBAEventAggregates::initWithName(name, 0, 0, 0.0);
        auto updated = fresh ? database_->updateEventAggregates(*fresh)
                             : ns::Status(ns::Error(kNEBAErrorDomain, NEBADomainCode::Database));
        if (!updated) {
            NEBAMonitor::error("Data loss. Cannot record event aggregates. Error",
                               {updated.error()});
            return false;
        }
    }
    auto attributes = database_->userAttributesIncludingInternal(true);
    if (!attributes) {
        NEBAMonitor::error("Data loss. Cannot query user properties. Error", {attributes.error()});
        return false;
    }
    auto metadata = createRawEventMetadataWithUserAttributes(*attributes);
    if (auto inserted = database_->insertIfNotExistsRawEventMetadata(metadata); !inserted) {
        NEBAMonitor::error("Data loss. Cannot record event metadata. Error", {inserted.error()});
        return false;
    }
    auto deleted = database_->deleteRawEventsOverAbsoluteLimit();
    if (!deleted) {
        NEBAMonitor::error("Data loss. Unable to check raw event storage limit. Error",
                           {deleted.error()});
        return false;
    }
    if (*deleted != 0)
        NEBAMonitor::warning("Data loss. Too many events stored on disk. Deleted count",
                             {ns::Value(static_cast<long long>(*deleted))});
    int64_t fingerprint = neba_64LSBMD5(metadata.SerializeAsString());
    if (auto inserted = database_->insertRawEvent(event, fingerprint, realtime); !inserted) {
        NEBAMonitor::error("Data loss. Cannot record raw event. Error", {inserted.error()});
        return false;
    }
    if (name == "_f") recordFirstOpenCount();
    NEBAMonitor::debug("Event logged. Event name, event params",
                       {ns::Value(name), contextOf(event)});
    return true;
}

std::string NEBAMeasurement::firstOpenKeychainAppID() const {
    // A host run from a plain folder has no bundle identifier; the options name the same app.
    return ns::Bundle::mainBundle()->bundleIdentifier().value_or(
        options_ ? options_->bundleID().value_or("") : "");
}

int64_t NEBAMeasurement::firstOpenCount() const {
    auto text =
        keychain_->keychainValueWithIdentifier(kFirstOpenCountIdentifier, firstOpenKeychainAppID());
    int64_t count = 0;
    if (!text) return 0;
    auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), count);
    return ec == std::errc() && count > 0 ? count : 0;
}

void NEBAMeasurement::recordFirstOpenCount() {
    int64_t count = firstOpenCount();
    if (count < std::numeric_limits<int64_t>::max()) ++count;
    keychain_->upsertKeychainValue(ns::format("%lld", static_cast<long long>(count)),
                                   kFirstOpenCountIdentifier, firstOpenKeychainAppID());
}

NEB_MEASUREMENT::ACPMeasurementBundle NEBAMeasurement::createRawEventMetadataWithUserAttributes(
    const std::vector<NEBAUserAttribute>& attributes) {
    NEB_MEASUREMENT::ACPMeasurementBundle metadata;
    metadata.set_platform("ios");
    metadata.set_protocol_version(1);
    // A desktop host is installed by hand, never from a store.
    metadata.set_app_store("manual_install");
    if (identity_) {
        auto& identity = *identity_;
        metadata.set_app_id(identity.appID());
        metadata.set_app_instance_id(identity.appInstanceID());
        metadata.set_app_version(identity.appVersion());
        metadata.set_nmp_app_id(identity.appIDFromNMP());
        metadata.set_nmp_version(identity.libraryVersionFromNMP());
        if (auto instanceID = identity.nebulaInstanceID())
            metadata.set_nebula_instance_id(*instanceID);
        if (auto major = identity.appVersionMajor()) metadata.set_app_version_major(*major);
        if (auto minor = identity.appVersionMinor()) metadata.set_app_version_minor(*minor);
        if (auto release = identity.appVersionRelease()) metadata.set_app_version_release(*release);
        auto resettable = identity.resettableDeviceID();
        if (identity.hasLimitedAdTracking() && resettable && !resettable->empty()) {
            metadata.set_limited_ad_tracking(identity.limitedAdTracking());
            metadata.set_resettable_device_id(*resettable);
        } else if (auto vendor = identity.identifierForVendor()) {
            metadata.set_vendor_device_id(*vendor);
        }
    }
    auto& environment = NEBAEnvironmentInfo::sharedInstance();
    metadata.set_device_model(environment.deviceModel());
    metadata.set_os_version(environment.deviceOSVersion());
    metadata.set_time_zone_offset_minutes(environment.timeZoneOffsetMinutes());
    if (auto language = environment.userDefaultLanguage())
        metadata.set_user_default_language(*language);
    for (const auto& attribute : attributes)
        *metadata.add_user_attributes() = attribute.protoUserAttribute();
    return metadata;
}

// --- User properties ---------------------------------------------------------------------

void NEBAMeasurement::setUserAttribute(const std::optional<NEBAUserAttribute>& attribute) {
    if (!attribute) {
        NEBAMonitor::warning("Attempted to set nil user property");
        return;
    }
    scheduler_->scheduleOnWorkerQueueBlockID(BlockID::SetUserProperty,
                                             [self = shared_from_this(), attribute = *attribute] {
                                                 self->setUserAttributeOnWorkerQueue(attribute);
                                             });
}

void NEBAMeasurement::removeUserAttribute(const std::optional<NEBAUserAttribute>& attribute) {
    if (!attribute) {
        NEBAMonitor::warning("Attempted to remove nil user property");
        return;
    }
    scheduler_->scheduleOnWorkerQueueBlockID(BlockID::RemoveUserProperty,
                                             [self = shared_from_this(), attribute = *attribute] {
                                                 self->removeUserAttributeOnWorkerQueue(attribute);
                                             });
}

void NEBAMeasurement::setUserAttributeOnWorkerQueue(const NEBAUserAttribute& attribute) {
    NEBAScheduler::checkOnBackgroundThreadWithMethodName("setUserAttributeOnWorkerQueue:");
    const std::string& name = attribute.name();
    ns::Value value = attribute.value().object();
    NEBAMonitor::debug("Setting user property. Name, value", {ns::Value(name), value});
    if (!isEnabled_ || !database_) {
        NEBAMonitor::debug("Nebula Analytics is disabled. User property not set");
        return;
    }
    if (attribute.isPublic()) {
        auto exists = database_->containsUserAttributeWithName(name);
        if (!exists) {
            NEBAMonitor::error("Unable to query existence of user property. Name, error",
                               {ns::Value(name), exists.error()});
            return;
        }
        if (!*exists) {
            auto count = database_->publicUserAttributeCount();
            if (!count) {
                NEBAMonitor::error("Unable to query user property count. Error", {count.error()});
                return;
            }
            if (*count >= kMaxPublicUserAttributes) {
                NEBAMonitor::error(
                    "Unable to set user property. Reached limit on set user "
                    "properties. Name, value",
                    {ns::Value(name), value});
                logErrorEvent(NEBAErrorCode::TooManyUserProperties, name,
                              NEBAErrorItemLimit::UserPropertyName);
                return;
            }
        }
    }
    database_->performTransaction([&] {
        if (auto updated = database_->updateUserAttribute(attribute); !updated) {
            NEBAMonitor::error("Unable to set user property. Name, value, error",
                               {ns::Value(name), value, updated.error()});
            return false;
        }
        if (!audience_->evaluateFiltersForUserProperty(attribute)) {
            NEBAMonitor::error("Unable to evaluate user property. Name, value",
                               {ns::Value(name), value});
            return false;
        }
        NEBAMonitor::debug("User property set. Name, value", {ns::Value(name), value});
        return true;
    });
}

void NEBAMeasurement::removeUserAttributeOnWorkerQueue(const NEBAUserAttribute& attribute) {
    NEBAScheduler::checkOnBackgroundThreadWithMethodName("removeUserAttributeOnWorkerQueue:");
    const std::string& name = attribute.name();
    NEBAMonitor::debug("Removing user property. Name", {ns::Value(name)});
    if (!isEnabled_ || !database_) {
        NEBAMonitor::debug("Nebula Analytics is disabled. User property not removed");
        return;
    }
    if (auto deleted = database_->deleteUserAttributeWithName(name); !deleted) {
        NEBAMonitor::error("Unable to remove user property. Name, error",
                           {ns::Value(name), deleted.error()});
    } else {
        NEBAMonitor::debug("User property removed. Name", {ns::Value(name)});
    }
}

void NEBAMeasurement::userAttributeWithName(const std::string& name,
                                            UserAttributeCallback callback) {
    if (!callback) {
        NEBAMonitor::error("userAttributeWithName callback is nil");
        return;
    }
    scheduler_->scheduleOnWorkerQueueBlockID(
        BlockID::ReadUserProperty,
        [self = shared_from_this(), name, callback = std::move(callback)] {
            std::optional<NEBAUserAttribute> attribute;
            if (self->database_) {
                auto found = self->database_->userAttributeWithName(name);
                if (!found)
                    NEBAMonitor::error("Unable to get user attribute by name. Name",
                                       {ns::Value(name)});
                else
                    attribute = *found;
            }
            dispatch::Queue::global().async([callback, attribute] { callback(attribute); });
        });
}

void NEBAMeasurement::userPropertiesIncludingInternal(bool includeInternal,
                                                      UserPropertiesCallback callback) {
    if (!callback) {
        NEBAMonitor::error("Unable to retrieve user properties. Callback is nil");
        return;
    }
    scheduler_->scheduleOnWorkerQueueBlockID(
        BlockID::ReadUserProperties,
        [self = shared_from_this(), includeInternal, callback = std::move(callback)] {
            ns::Dictionary properties;
            auto attributes =
                self->database_
                    ? self->database_->userAttributesIncludingInternal(includeInternal)
                    : ns::Result<std::vector<NEBAUserAttribute>>(std::vector<NEBAUserAttribute>{});
            if (!attributes) {
                NEBAMonitor::error("Unable to retrieve user properties. Error",
                                   {attributes.error()});
            } else {
                for (const auto& attribute : *attributes) {
                    if (attribute.name().empty()) {
                        NEBAMonitor::error(
                            "Cannot add invalid public user property name or value.");
                        continue;
                    }
                    properties.insert_or_assign(attribute.name(), attribute.value().object());
                }
            }
            dispatch::Queue::global().async(
                [callback, properties = std::move(properties)] { callback(properties); });
        });
}
