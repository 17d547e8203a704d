#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Error.h"
#include "platform/ns/Object.h"
#include "proto/icore.pb.h"
#include "sdk/core/NEBOptions.h"
#include "sdk/core/NEBServices.h"

inline constexpr const char* kNEBDefaultAppName = "__NEBAPP_DEFAULT";
inline constexpr const char* kNEBAppReadyToConfigureSDKNotification =
    "NEBAppReadyToConfigureSDKNotification";
inline constexpr const char* kNEBAppDeleteNotification = "NEBAppDeleteNotification";
inline constexpr const char* kNEBAppNameKey = "NEBAppNameKey";
inline constexpr const char* kNEBNebulaAppIDKey = "NEBNebulaAppIDKey";
inline constexpr int64_t kNEBErrorCodeInvalidPlistFile = -100;
inline constexpr int64_t kNEBErrorCodeInvalidAppID = -101;
inline constexpr const char* kNEBLocalizedRecoverySuggestionErrorKey =
    "NSLocalizedRecoverySuggestion";
// The account and log source of the core's configuration records.
inline constexpr const char* kNEBLogbookAccount = "greenhouse";
inline constexpr int32_t kNEBLogbookLogSourceICore = 137;
// Install files, in Application Support/Nebula/NEBApp.
inline constexpr const char* kNEBAppInstallDirectory = "Nebula/NEBApp";
inline constexpr const char* kNEBUniqueInstallFileName = "NEBULA_UNIQUE_INSTALL";
inline constexpr const char* kNEBLastTimestampFileName = "NEBULA_LAST_TIMESTAMP";
inline constexpr double kNEBDailyRecordInterval = 86400.0;

// One configured application of the SDK stack, and the registry of them all. The class
// configures the default app "__NEBAPP_DEFAULT" from the options plist at launch, validates its
// application ID, starts analytics by class name, reports the configuration through the
// diagnostic log, and posts "NEBAppReadyToConfigureSDKNotification", on which instance
// identity and messaging start.
//
// Configuration faults are exceptions named "com.nebula.core". Every class-side operation
// runs under one recursive class-wide lock; the ready notification is delivered synchronously
// on the configuring thread, inside it.
class NEBApp : public ns::Object {
public:
    // ---- Services ----------------------------------------------------------------------
    // What the SDK's parts stand on, one object for the process: made with the first
    // configuration (or for the first part that asks before it), and handed to each part
    // when it is made.
    static std::shared_ptr<const NEBServices> services();

    using TokenCallback =
        std::function<void(std::optional<std::string> token, std::optional<ns::Error> error)>;
    using GetTokenImplementation = std::function<void(bool forceRefresh, TokenCallback)>;

    // ---- Configuration ------------------------------------------------------------------
    static void configure();
    static void configureWithOptions(std::shared_ptr<NEBOptions> options);
    static void configureWithoutSendingNotification();
    static void configureDefaultAppWithOptions(std::shared_ptr<NEBOptions> options,
                                               bool sendingNotifications);
    static void configureWithName(const std::optional<std::string>& name,
                                  std::shared_ptr<NEBOptions> options);

    // ---- Registry -----------------------------------------------------------------------
    static std::shared_ptr<NEBApp> defaultApp();
    static std::shared_ptr<NEBApp> appNamed(std::string_view name);
    static std::map<std::string, std::shared_ptr<NEBApp>> allApps();
    // The sender of the registry's notifications.
    static std::shared_ptr<ns::Object> classObject();

    // ---- Errors -------------------------------------------------------------------------
    static ns::Error errorForMissingOptions();
    static ns::Error errorForInvalidAppID();
    static ns::Error errorForSubspecConfigurationFailureWithDomain(const std::string& domain,
                                                                   int64_t code,
                                                                   const std::string& service,
                                                                   const std::string& reason);

    // ---- Application-ID validation ------------------------------------------------------
    static bool validateAppID(const std::optional<std::string>& appID);
    static bool validateAppIDFormat(const std::string& appID, const std::string& version);
    static bool validateAppIDFingerprint(const std::string& appID, const std::string& version);
    static std::optional<std::string> actualBundleID();
    static std::optional<std::string> expectedBundleID();
    static void checkExpectedBundleID();

    // ---- One app --------------------------------------------------------------------------
    NEBApp(std::string name, std::shared_ptr<NEBOptions> options);

    const std::string& name() const { return name_; }
    const std::shared_ptr<NEBOptions>& options() const { return options_; }
    NEB_ICORE::ICoreConfiguration icoreConfiguration() const;
    void setIcoreConfiguration(NEB_ICORE::ICoreConfiguration record);
    bool alreadySentConfigureNotification() const;
    void setAlreadySentConfigureNotification(bool sent);
    bool alreadySentDeleteNotification() const;
    void setAlreadySentDeleteNotification(bool sent);
    GetTokenImplementation getTokenImplementation() const;
    void setGetTokenImplementation(GetTokenImplementation implementation);

    // Removes the app from the registry; the completion (mandatory) hears whether it was there.
    void deleteApp(const std::function<void(bool success)>& completion);
    void getTokenForcingRefresh(bool forceRefresh, TokenCallback callback);
    // Validates the app and fills its record; starts analytics for the default app.
    bool configureCore();
    bool isAppIDValid();

    // ---- Configuration records ------------------------------------------------------------
    // Queues one record for an SDK part (its service name and version).
    void sendLogsWithServiceName(const std::string& serviceName, const std::string& version,
                                 const std::optional<ns::Error>& error);
    void populateLogProtoWithCommonInfo(NEB_ICORE::ICoreConfiguration& record) const;
    static void populateLogProtoWithInstalledServices(NEB_ICORE::ICoreConfiguration& record);
    static void populateLogProto(NEB_ICORE::ICoreConfiguration& record,
                                 const std::optional<ns::Error>& error);
    static NEB_ICORE::ICoreConfiguration_ServiceType mapFromServiceStringToTypeEnum(
        std::string_view serviceName);
    // Queues the record with the diagnostic log uploader and starts a pass; the completion
    // runs once a pass has emptied the queue.
    static void sendLogsToLogbook(const NEB_ICORE::ICoreConfiguration& record,
                                  std::function<void()> completion);
    static std::string deviceModel();
    // The installation's UUID, made on first use; nothing when it cannot be kept.
    static std::optional<std::string> installString();
    // Application Support/Nebula/NEBApp/NAME; nothing when the directory cannot be made.
    static std::optional<std::string> filePathURLWithName(std::string_view fileName);
    static std::optional<std::string> stringAtURL(const std::string& path);
    static bool writeString(const std::string& text, const std::string& path);
    // The daily record, on each activation: sent when the last one is more than a day away.
    static void logAppInfo();

    std::string description() const override;

private:
    static void addAppToAppDictionary(const std::shared_ptr<NEBApp>& app);
    static void sendNotificationsToSDKs(const NEBApp& app);
    static void initLogbook();
    static void observeApplicationOnce();
    static void stopObservingApplication();
    static void sendConfigurationFailure(const ns::Error& error);
    static void writeTimestamp(double seconds);

    const std::string name_;
    const std::shared_ptr<NEBOptions> options_;
    mutable dispatch::Mutex mutex_;
    NEB_ICORE::ICoreConfiguration record_ GUARDED_BY(mutex_);
    bool alreadySentConfigureNotification_ GUARDED_BY(mutex_) = false;
    bool alreadySentDeleteNotification_ GUARDED_BY(mutex_) = false;
    GetTokenImplementation getTokenImplementation_ GUARDED_BY(mutex_);
};
