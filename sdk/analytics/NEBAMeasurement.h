#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/ns/FileManager.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ns/URL.h"
#include "platform/ns/Value.h"
#include "platform/ui/Application.h"
#include "platform/ui/UserActivity.h"
#include "proto/measurement.pb.h"
#include "sdk/analytics/NEBAAlarm.h"
#include "sdk/analytics/NEBAAudience.h"
#include "sdk/analytics/NEBADailyCounts.h"
#include "sdk/analytics/NEBADatabase.h"
#include "sdk/analytics/NEBAEvent.h"
#include "sdk/analytics/NEBAEventPort.h"
#include "sdk/analytics/NEBAIdentity.h"
#include "sdk/analytics/NEBAKeychainWrapper.h"
#include "sdk/analytics/NEBAMonitor.h"
#include "sdk/analytics/NEBAPersistedConfig.h"
#include "sdk/analytics/NEBARemoteConfig.h"
#include "sdk/analytics/NEBAScheduler.h"
#include "sdk/analytics/NEBASessionReporter.h"
#include "sdk/analytics/NEBAUserAttribute.h"
#include "sdk/core/NEBNetwork.h"
#include "sdk/core/NEBOptions.h"
#include "sdk/core/NEBServices.h"

// The measurement engine: one per process. It owns the store and the engine's components and
// does all their work on one serial worker queue; its public operations only schedule work
// there, so no caller ever waits for storage.
class NEBAMeasurement : public NEBNetworkLoggerDelegate,
                        public NEBNetworkReachabilityDelegate,
                        public std::enable_shared_from_this<NEBAMeasurement> {
public:
    using UserAttributeCallback = std::function<void(std::optional<NEBAUserAttribute>)>;
    using UserPropertiesCallback = std::function<void(ns::Dictionary)>;

    static constexpr int64_t kMaxPublicEventNames = 500;
    static constexpr int64_t kMaxPublicUserAttributes = 25;
    // The keychain item that counts this application's first opens on the device.
    static constexpr const char* kFirstOpenCountIdentifier = "_pfo";

    // What the engine stands on, handed to it when it is made: the SDK's services (its keychain,
    // its requests' limits), the monitor its own state is kept in, and the facade above it.
    struct Context {
        std::shared_ptr<const NEBServices> services;
        std::shared_ptr<NEBAMonitor> monitor;
        std::shared_ptr<NEBAEventPort> events;
    };

    // Creates the process's engine once, and the process's monitor with it; an options object
    // without an app ID creates nothing, now or later.
    static void initializeSharedInstanceWithOptions(const std::shared_ptr<NEBOptions>& options,
                                                    std::shared_ptr<const NEBServices> services,
                                                    std::shared_ptr<NEBAEventPort> events);
    static std::shared_ptr<NEBAMeasurement> sharedInstance();
    static std::shared_ptr<NEBARemoteConfig> remoteConfig();
    // Installs an engine as the shared one for a scope (or none), and puts the previous back.
    class ScopedSharedOverride {
    public:
        explicit ScopedSharedOverride(std::shared_ptr<NEBAMeasurement> engine);
        ~ScopedSharedOverride();
        ScopedSharedOverride(const ScopedSharedOverride&) = delete;
        ScopedSharedOverride& operator=(const ScopedSharedOverride&) = delete;

    private:
        std::shared_ptr<NEBAMeasurement> previous_;
        bool previousCreated_;
    };

    static std::shared_ptr<NEBAMeasurement> initWithOptions(std::shared_ptr<NEBOptions> options,
                                                            Context context);
    static std::shared_ptr<NEBAMeasurement> initWithDatabaseName(
        std::string databaseName, std::string_view persistedConfigName,
        std::shared_ptr<NEBAScheduler> scheduler, std::shared_ptr<NEBOptions> options,
        Context context, std::shared_ptr<NEBNetwork> network = nullptr);
    ~NEBAMeasurement() override;

    static bool shouldEnableMeasurement(const NEBOptions& options,
                                        const NEBAPersistedConfig* persistedConfig);
    bool wasEnabledDuringInitialization() const { return wasEnabledDuringInitialization_; }
    void setIsEnabled(bool enabled);
    // Read on the worker queue only.
    bool isEnabled() const { return isEnabled_; }

    // Dropped before the components exist.
    void setMinimumSessionInterval(double seconds);
    void setSessionTimeoutInterval(double seconds);

    void logEvent(const std::optional<NEBAEvent>& event);
    // An event the engine makes itself (campaigns, updates, its "_err" reports about refused
    // input): stored on the worker queue after the block running there, and told to the
    // facade's listeners while the engine is enabled. Any thread.
    void logOwnEvent(const std::string& name, const ns::Dictionary& parameters);
    void logErrorEvent(int64_t code, const std::string& name, size_t limit);
    void logEventOnWorkerQueue(NEBAEvent event);
    void maybeAddDebugAndRealtimeParameters(NEBAEvent& event);
    void setUserAttribute(const std::optional<NEBAUserAttribute>& attribute);
    void removeUserAttribute(const std::optional<NEBAUserAttribute>& attribute);
    void setUserAttributeOnWorkerQueue(const NEBAUserAttribute& attribute);
    void removeUserAttributeOnWorkerQueue(const NEBAUserAttribute& attribute);
    void userAttributeWithName(const std::string& name, UserAttributeCallback callback);
    void userPropertiesIncludingInternal(bool includeInternal, UserPropertiesCallback callback);

    // Asks the measurement server for the configuration; worker queue only.
    void fetchRemoteConfig();
    void networkRemoteConfigFetchCompletionHandler(
        const std::shared_ptr<const net::HTTPURLResponse>& response,
        const std::optional<ns::Data>& data, const std::optional<ns::Error>& error);
    bool isNetworkRequestPending() const { return isNetworkRequestPending_; }

    // Bundling: one bundle of raw events that share their metadata per pass, in one
    // transaction; true only when a bundle was queued and its raw events deleted.
    bool bundleRawEvents();
    double firstOpenTimestamp();

    // Upload scheduling and upload; worker queue only.
    void updateSchedule();
    double nextUploadingTime();
    void uploadDataOrRegisterAlarm();
    void uploadData();
    bool isNetworkReadyForRequest();
    bool hasDataToUpload();
    static std::vector<NEBADatabase::BundlePair> filteredBundlesWithCompatibleAppID(
        const std::string& appID, const std::string& resettableDeviceID,
        const std::string& vendorDeviceID, const std::vector<NEBADatabase::BundlePair>& bundles);
    // False (logged) when the list is empty or an upload is already in progress.
    bool setUploadInProgressWithBundleIDs(const std::vector<int64_t>& bundleIDs);
    void networkUploadCompletionHandlerWithResponse(
        const std::shared_ptr<const net::HTTPURLResponse>& response,
        const std::optional<ns::Error>& error);
    bool removeBundlesFromDatabaseWithIDs(const std::vector<int64_t>& bundleIDs);
    // At the start: the background upload an earlier launch left unanswered becomes the
    // upload in flight, when the network client still has it.
    void takeUpEarlierBackgroundUpload();
    // Ends the background task it replaces. Any thread.
    void swapBackgroundTaskWithNewTaskID(ui::BackgroundTaskIdentifier taskID);
    ui::BackgroundTaskIdentifier backgroundUpdateTask() const { return backgroundUpdateTask_; }
    const std::vector<int64_t>& uploadingBundleIDs() const { return uploadingBundleIDs_; }
    NEBAAlarm& alarm() { return *alarm_; }

    // The application's life cycle (main thread).
    void handleAppDidBecomeActiveEvent();
    void handleAppWillResignActiveEvent();
    void handleAppWillEnterForegroundNotification();

    // NEBNetworkReachabilityDelegate
    void reachabilityDidChange() override;
    // NEBNetworkLoggerDelegate: the client's levels 0 to 3 become the monitor's 1, 4, 6, 7.
    void nebNetwork_logWithLevel(NEBNetworkLogLevel level, std::string_view message,
                                 const std::vector<ns::Value>& contexts) override;
    void nebNetwork_logWithLevel(NEBNetworkLogLevel level, std::string_view message,
                                 const ns::Value& context) override;
    void nebNetwork_logWithLevel(NEBNetworkLogLevel level, std::string_view message) override;

    // Campaigns, deep links, first open and updates.
    static constexpr const char* kDeepLinkKey = "/nebula/measurement/deep_link";
    void handleOpenURL(const std::optional<ns::URL>& url,
                       std::optional<int64_t> clickTimestamp = std::nullopt);
    void handleDeepLink(const ns::URL& url, std::optional<int64_t> clickTimestamp);
    static bool isValidCampaignURLParamDictionary(const ns::Dictionary& parameters);
    static std::optional<ns::URL> deepLinkFromUserActivity(
        const std::shared_ptr<ui::UserActivity>& activity);
    void maybeReportStoredCampaignEventWithClickTimestamp(int64_t clickTimestamp);
    void reportFirstOpenOnWorkerQueue();
    void reportAppUpdateOnWorkerQueue();
    void reportOSUpdateOnWorkerQueue();
    static int64_t timestampMillisRoundedUpToNextHour(int64_t millis);
    static std::optional<ns::FileAttributes> fileAttributesForPath(const std::string& path);
    bool isAppUpdateWithAnalytics();
    // The launch's deep link (a web-browsing activity's page, else the launch URL) is kept for
    // the first-open report. Observes the launch once per process.
    static void load();
    static void handleAppDidFinishLaunching(const ns::Dictionary& launchOptions);

    NEB_MEASUREMENT::ACPMeasurementBundle createRawEventMetadataWithUserAttributes(
        const std::vector<NEBAUserAttribute>& attributes);

    const std::shared_ptr<NEBAScheduler>& scheduler() const { return scheduler_; }
    const std::shared_ptr<NEBAPersistedConfig>& persistedConfig() const { return persistedConfig_; }
    // The components, once built; worker queue only.
    NEBADatabase* database() const { return database_.get(); }
    const std::shared_ptr<NEBARemoteConfig>& engineRemoteConfig() const { return remoteConfig_; }
    NEBAIdentity* identity() const { return identity_.get(); }
    NEBAAudience* audience() const { return audience_.get(); }
    const std::shared_ptr<NEBASessionReporter>& sessionReporter() const { return sessionReporter_; }
    const std::optional<std::string>& previousNMPAppID() const { return previousNMPAppID_; }
    double initTimestamp() const { return initTimestamp_; }

private:
    // The IDs of the blocks the engine puts on its worker queue, each naming the site that
    // submits it; the scheduler quotes them when a block fails.
    struct BlockID {
        static constexpr const char* SetIsEnabled = "NEBAMeasurement:442";
        static constexpr const char* ReachabilityChanged = "NEBAMeasurement:618";
        static constexpr const char* SetMinimumSessionInterval = "NEBAMeasurement:861";
        static constexpr const char* SetSessionTimeout = "NEBAMeasurement:869";
        static constexpr const char* Upload = "NEBAMeasurement:976";
        static constexpr const char* LogEvent = "NEBAMeasurement:1413";
        static constexpr const char* RemoveUserProperty = "NEBAMeasurement:1781";
        static constexpr const char* SetUserProperty = "NEBAMeasurement:1821";
        static constexpr const char* ReadUserProperty = "NEBAMeasurement:1927";
        static constexpr const char* ReadUserProperties = "NEBAMeasurement:1973";
        static constexpr const char* FetchConfiguration = "NEBAMeasurement:2748";
        static constexpr const char* UploadInBackground = "NEBAMeasurement:2777";
    };

    NEBAMeasurement() = default;
    void setIsEnabledOnWorkerQueue(bool enabled);
    bool startMeasurementOnWorkerQueue();
    bool initializeComponents();
    NEBNetwork::CompletionHandler uploadCompletion();
    std::vector<int64_t> rowsStillHolding(const std::vector<std::pair<int64_t, int64_t>>& bundles);
    // The daily-limit step: false when the store failed; `dropped` and `realtime` say what
    // the counts decided.
    bool applyDailyLimits(NEBAEvent& event, bool& dropped, bool& realtime);
    bool storeEvent(const NEBAEvent& event, bool realtime);
    // One bundling pass, inside its transaction; `bundled` says whether a bundle was queued.
    bool bundlePass(bool& bundled);
    bool deleteBundledRawEvents(int64_t fingerprint, int64_t maxRowID);
    void observeApplicationState();
    // A fetched configuration, in one transaction: audiences first, then the settings.
    void applyRemoteConfig(const ns::Data& data);
    void recordFirstOpenCount();
    std::string firstOpenKeychainAppID() const;
    void reportVersionChange(const std::string& current, const std::optional<std::string>& stored,
                             const char* eventName, const char* parameterName,
                             const std::function<void(const std::string&)>& store);
    int64_t firstOpenCount() const;
    static double now();

    std::shared_ptr<NEBOptions> options_;
    Context context_;
    std::unique_ptr<NEBAKeychainWrapper> keychain_;
    std::string databaseName_;
    bool componentsInitialized_ = false;
    std::shared_ptr<NEBAScheduler> scheduler_;
    std::shared_ptr<NEBAPersistedConfig> persistedConfig_;
    std::unique_ptr<NEBADatabase> database_;
    std::unique_ptr<NEBAIdentity> identity_;
    std::unique_ptr<NEBAAudience> audience_;
    std::shared_ptr<NEBNetwork> network_;
    bool isNetworkRequestPending_ = false;
    std::unique_ptr<NEBAAlarm> alarm_;
    std::vector<int64_t> uploadingBundleIDs_;
    std::atomic<ui::BackgroundTaskIdentifier> backgroundUpdateTask_{ui::kBackgroundTaskInvalid};
    std::vector<ns::NotificationCenter::ObserverToken> observers_;
    std::shared_ptr<NEBARemoteConfig> remoteConfig_;
    std::shared_ptr<NEBASessionReporter> sessionReporter_;
    std::optional<std::string> previousNMPAppID_;
    double initTimestamp_ = 0;
    bool isEnabled_ = false;
    bool wasEnabledDuringInitialization_ = false;
};
