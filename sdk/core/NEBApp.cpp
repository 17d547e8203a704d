#include "sdk/core/NEBApp.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "platform/dispatch/Clock.h"
#include "platform/ns/AtomicFile.h"
#include "platform/ns/Exception.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/Format.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/StringComponents.h"
#include "platform/ns/UTF8.h"
#include "platform/ns/UUID.h"
#include "platform/sys/DeviceFacts.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "sdk/core/NEBAnalyticsStarting.h"
#include "sdk/core/NEBAppRegistry.h"
#include "sdk/core/NEBBundleUtil.h"
#include "sdk/core/NEBConfiguration.h"
#include "sdk/core/NEBCoreLogger.h"
#include "sdk/core/NEBCoreMessageCodes.h"
#include "sdk/core/NEBHash.h"
#include "sdk/core/NEBLogbookLogger.h"
#include "sdk/core/NEBNetwork.h"
#include "sdk/core/NEBServiceHosts.h"
#include "toolbox/Foundation/NSDKClassLookup.h"
#include "toolbox/Foundation/NSDK_TBXRegex.h"

namespace {

using NEB_ICORE::ICoreConfiguration;

NEBAppRegistry& registry() {
    return NEBAppRegistry::shared();
}

// The application's notifications are observed once per process, whatever the apps.
struct Observation {
    dispatch::Mutex lock;
    bool observingApplication GUARDED_BY(lock) = false;
    ns::NotificationCenter::ObserverToken activeObserver GUARDED_BY(lock) = 0;
    ns::NotificationCenter::ObserverToken terminateObserver GUARDED_BY(lock) = 0;
};

Observation& observation() {
    static auto* o = new Observation;  // records may still be sent while the process exits
    return *o;
}

class NEBAppClass final : public ns::Object {
public:
    std::string description() const override { return "NEBApp"; }
};

ns::Exception coreException(std::string reason) {
    return ns::Exception(kNEBErrorDomain, std::move(reason));
}

bool isValidAppNameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The leading hexadecimal number of the text, as the platform's scanner reads it: white space
// first, an optional "0x", then at least one digit; too large a number reads as the largest.
std::optional<uint64_t> scanHexLongLong(std::string_view text) {
    text = ns::trimmedWhitespace(text);
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') &&
        std::isxdigit(static_cast<unsigned char>(text[2]))) {
        text.remove_prefix(2);
    }
    uint64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (end == text.data()) return std::nullopt;
    if (error == std::errc::result_out_of_range) return UINT64_MAX;
    return value;
}

}  // namespace

// ---- Configuration ---------------------------------------------------------------------

std::shared_ptr<const NEBServices> NEBApp::services() {
    auto& r = registry();
    dispatch::ScopedLock lock(r.lock);
    if (!r.services) r.services = NEBServices::standard();
    return r.services;
}

void NEBApp::configure() {
    auto options = NEBOptions::defaultOptions();
    if (!options) {
        sendConfigurationFailure(errorForMissingOptions());
        throw coreException(ns::format(
            "[NEBApp configure] could not find a valid NebulaServices-Info.plist in your "
            "project. Please download one from %@.",
            NEBServiceHosts::consoleURL()));
    }
    configureDefaultAppWithOptions(options, true);
}

void NEBApp::configureWithOptions(std::shared_ptr<NEBOptions> options) {
    if (!options) throw coreException("Options is nil. Please pass a valid options.");
    configureDefaultAppWithOptions(std::move(options), true);
}

void NEBApp::configureWithoutSendingNotification() {
    auto options = NEBOptions::defaultOptions();
    if (!options) {
        sendConfigurationFailure(errorForMissingOptions());
        throw coreException(
            "Please check there is a valid NebulaService-Info.plist in the project.");
    }
    configureDefaultAppWithOptions(options, false);
}

void NEBApp::configureDefaultAppWithOptions(std::shared_ptr<NEBOptions> options,
                                            bool sendingNotifications) {
    auto& r = registry();
    dispatch::ScopedLock lock(r.lock);
    if (r.defaultApp &&
        !(sendingNotifications && !r.defaultApp->alreadySentConfigureNotification())) {
        throw coreException("Default app has already been configured.");
    }
    initLogbook();
    services();  // the parts that start on the ready notification are made with them
    observeApplicationOnce();
    NEBCoreLogDebug(kNEBLoggerCore, kNEBLoggerCoreConfiguringDefaultApp,
                    "Configuring the default app.");
    auto app = std::make_shared<NEBApp>(kNEBDefaultAppName, std::move(options));
    auto previous = r.defaultApp;
    r.defaultApp = app;
    try {
        addAppToAppDictionary(app);
    } catch (...) {
        r.defaultApp = previous;  // an app that failed validation is no default app
        throw;
    }
    if (!app->alreadySentConfigureNotification() && sendingNotifications) {
        sendNotificationsToSDKs(*app);
        app->setAlreadySentConfigureNotification(true);
    }
}

void NEBApp::configureWithName(const std::optional<std::string>& name,
                               std::shared_ptr<NEBOptions> options) {
    if (!name || !options) throw coreException("Neither name nor options can be nil.");
    if (name->empty()) throw coreException("Name cannot be empty.");
    if (*name == kNEBDefaultAppName) throw coreException("Name cannot be __NEBAPP_DEFAULT.");
    if (!std::all_of(name->begin(), name->end(), isValidAppNameCharacter)) {
        throw coreException("App name should only contain Letters, Numbers and Underscore.");
    }
    auto& r = registry();
    dispatch::ScopedLock lock(r.lock);
    if (r.apps && r.apps->contains(*name)) {
        throw coreException(ns::format("App named %@ has already been configured.", *name));
    }
    initLogbook();
    services();
    observeApplicationOnce();
    NEBCoreLogDebug(kNEBLoggerCore, kNEBLoggerCoreConfiguringNamedApp, "Configuring app named %@",
                    *name);
    auto app = std::make_shared<NEBApp>(*name, std::move(options));
    addAppToAppDictionary(app);
    if (!app->alreadySentConfigureNotification()) {
        sendNotificationsToSDKs(*app);
        app->setAlreadySentConfigureNotification(true);
    }
}

void NEBApp::addAppToAppDictionary(const std::shared_ptr<NEBApp>& app) {
    auto& r = registry();
    dispatch::ScopedLock lock(r.lock);
    if (!r.apps) r.apps.emplace();
    if (!app->configureCore()) {
        throw coreException(
            "Configuration fails. It may be caused by an invalid NEBULA_APP_ID in "
            "NebulaService-Info.plist or set in the customized options.");
    }
    (*r.apps)[app->name()] = app;
    ICoreConfiguration record;
    {
        dispatch::Lock appLock(app->mutex_);
        app->record_.set_app_count(static_cast<int32_t>(r.apps->size()));
        record = app->record_;
    }
    sendLogsToLogbook(record, [] { writeTimestamp(dispatch::Clock::current().wallTime()); });
}

void NEBApp::sendNotificationsToSDKs(const NEBApp& app) {
    ns::Dictionary userInfo{{kNEBAppNameKey, app.name()}};
    if (auto appID = app.options()->nebulaAppID()) userInfo[kNEBNebulaAppIDKey] = *appID;
    ns::NotificationCenter::defaultCenter().post(kNEBAppReadyToConfigureSDKNotification,
                                                 classObject(), std::move(userInfo));
}

void NEBApp::initLogbook() {
    auto& r = registry();
    dispatch::ScopedLock lock(r.lock);
    if (r.logbook) return;
    r.logbook = NEBLogbookLogger::sharedInstance();
    if (auto url = ns::URL::parse(NEBServiceHosts::logbookServerURL())) {
        r.logbook->setServerURL(*url);
    }
}

// Once per process, however often apps are configured: the daily record on each activation,
// and an end to both observations when the application terminates.
void NEBApp::observeApplicationOnce() {
    auto& o = observation();
    dispatch::Lock lock(o.lock);
    if (o.observingApplication) return;
    o.observingApplication = true;
    NEBNetwork::installBackgroundEventsHook(ui::Application::shared());
    auto& center = ns::NotificationCenter::defaultCenter();
    o.activeObserver = center.addObserver(ui::kApplicationDidBecomeActiveNotification, nullptr,
                                          [](const ns::Notification&) { logAppInfo(); });
    o.terminateObserver =
        center.addObserver(ui::kApplicationWillTerminateNotification, nullptr,
                           [](const ns::Notification&) { stopObservingApplication(); });
}

void NEBApp::stopObservingApplication() {
    {
        auto& o = observation();
        dispatch::Lock lock(o.lock);
        auto& center = ns::NotificationCenter::defaultCenter();
        center.removeObserver(o.activeObserver);
        center.removeObserver(o.terminateObserver);
    }
    std::shared_ptr<NEBLogbookLogger> logbook;
    {
        auto& r = registry();
        dispatch::ScopedLock lock(r.lock);
        logbook = r.logbook;
    }
    if (logbook) logbook->stopObservingApplication();
}

void NEBApp::sendConfigurationFailure(const ns::Error& error) {
    initLogbook();
    ICoreConfiguration record;
    record.set_pod_name(ICoreConfiguration::NEBULA);
    record.set_configuration_type(ICoreConfiguration::CORE);
    populateLogProto(record, error);
    sendLogsToLogbook(record, nullptr);
}

// ---- Registry ------------------------------------------------------------------------------

std::shared_ptr<NEBApp> NEBApp::defaultApp() {
    auto& r = registry();
    dispatch::ScopedLock lock(r.lock);
    if (!r.defaultApp) {
        NEBCoreLogError(kNEBLoggerCore, kNEBLoggerCoreDefaultAppMissing,
                        "The default Nebula app has not yet been configured. Add [NEBApp "
                        "configure] to your application initialization. See %@ for the set-up.",
                        NEBServiceHosts::consoleURL());
    }
    return r.defaultApp;
}

std::shared_ptr<NEBApp> NEBApp::appNamed(std::string_view name) {
    auto& r = registry();
    dispatch::ScopedLock lock(r.lock);
    if (r.apps) {
        if (auto it = r.apps->find(std::string(name)); it != r.apps->end()) return it->second;
    }
    NEBCoreLogError(kNEBLoggerCore, kNEBLoggerCoreAppNotFound, "App with name %@ does not exist.",
                    name);
    return nullptr;
}

std::map<std::string, std::shared_ptr<NEBApp>> NEBApp::allApps() {
    auto& r = registry();
    dispatch::ScopedLock lock(r.lock);
    if (!r.apps) {
        NEBCoreLogError(kNEBLoggerCore, kNEBLoggerCoreNoAppConfigured,
                        "No app has been configured yet.");
        return {};
    }
    return *r.apps;
}

std::shared_ptr<ns::Object> NEBApp::classObject() {
    static auto object = std::make_shared<NEBAppClass>();
    return object;
}

// ---- Errors ----------------------------------------------------------------------------------

ns::Error NEBApp::errorForMissingOptions() {
    return ns::Error(kNEBErrorDomain, kNEBErrorCodeInvalidPlistFile,
                     {{ns::kLocalizedDescriptionKey,
                       "Unable to parse NebulaService-Info.plist in order to configure services."},
                      {kNEBLocalizedRecoverySuggestionErrorKey,
                       "Check formatting and location of NebulaService-Info.plist."}});
}

ns::Error NEBApp::errorForInvalidAppID() {
    return ns::Error(kNEBErrorDomain, kNEBErrorCodeInvalidAppID,
                     {{ns::kLocalizedDescriptionKey, "Unable to validate Nebula App ID"},
                      {kNEBLocalizedRecoverySuggestionErrorKey,
                       "Check formatting and location of NebulaService-Info.plist or "
                       "NebulaAppID set in the customized options."}});
}

ns::Error NEBApp::errorForSubspecConfigurationFailureWithDomain(const std::string& domain,
                                                                int64_t code,
                                                                const std::string& service,
                                                                const std::string& reason) {
    return ns::Error(domain, code,
                     {{ns::kLocalizedDescriptionKey,
                       ns::format("Configuration failed for service %@.", service)},
                      {ns::kLocalizedFailureReasonErrorKey, reason}});
}

// ---- Application-ID validation ----------------------------------------------------------------

bool NEBApp::validateAppID(const std::optional<std::string>& appID) {
    if (!appID || appID->empty()) return false;
    static const auto& versionPattern =
        *new auto(NSDK_TBXRegex::regexWithPattern("^[0-9]+:", kTBXRegexOptionNoNewlineSupport));
    auto version = versionPattern->firstSubStringMatchedInString(*appID);
    if (!version) return false;
    if (*version != "1:" && *version != "2:") return true;  // later versions are not checked
    return validateAppIDFormat(*appID, *version) && validateAppIDFingerprint(*appID, *version);
}

namespace {

bool appIDPreconditions(const std::string& appID, const std::string& version) {
    return !appID.empty() && !version.empty() && version.back() == ':' &&
           appID.starts_with(version);
}

}  // namespace

bool NEBApp::validateAppIDFormat(const std::string& appID, const std::string& version) {
    if (!appIDPreconditions(appID, version)) return false;
    static const auto& pattern = *new auto(
        NSDK_TBXRegex::regexWithPattern("^[0-9]+:ios:[a-f0-9]+$", kTBXRegexOptionNoNewlineSupport));
    return pattern->matchesString(std::string_view(appID).substr(version.size()));
}

bool NEBApp::validateAppIDFingerprint(const std::string& appID, const std::string& version) {
    if (!appIDPreconditions(appID, version)) return false;
    auto parts = ns::componentsSeparatedByCharacter(appID, ':');
    if (parts.size() != 4 || parts[3].empty()) return false;
    auto fingerprint = scanHexLongLong(parts[3]);
    if (!fingerprint) return false;
    if (version == "1:") return true;
    auto bundleID = actualBundleID().value_or("");
    if (*fingerprint != NEBHash::calculatedFingerprintForString(bundleID)) {
        NEBCoreLogError(kNEBLoggerCore, kNEBLoggerCoreFingerprintMismatch,
                        "The fingerprint portion of NEBULA_APP_ID in the plist file '%@.%@' does "
                        "not match the expected value for the bundle identifier '%@'.",
                        kNEBServiceInfoFileName, kNEBServiceInfoFileType, bundleID);
        return false;
    }
    return true;
}

std::optional<std::string> NEBApp::actualBundleID() {
    return ns::Bundle::mainBundle()->bundleIdentifier();
}

std::optional<std::string> NEBApp::expectedBundleID() {
    auto dictionary = NEBOptions::defaultOptionsDictionary();
    if (!dictionary) return std::nullopt;
    auto it = dictionary->find(kNEBBundleID);
    if (it == dictionary->end() || !it->second.isString()) return std::nullopt;
    return *it->second.string();
}

void NEBApp::checkExpectedBundleID() {
    auto expected = expectedBundleID();
    if (expected &&
        !NEBBundleUtil::hasBundleIdentifier(*expected, NEBBundleUtil::relevantBundles())) {
        NEBCoreLogInfo(
            kNEBLoggerCore, kNEBLoggerCoreBundleIDMismatch,
            "The project's Bundle ID is inconsistent with either the Bundle ID in '%@.%@', or the "
            "Bundle ID in the options if you are using a customized options. To ensure that "
            "everything can be configured correctly, you may need to make the Bundle IDs "
            "consistent. To continue with this plist file, you may change your app's bundle "
            "identifier to '%@'. Or you can download a new configuration file that matches your "
            "bundle identifier from %@ and replace the current one.",
            kNEBServiceInfoFileName, kNEBServiceInfoFileType, *expected,
            NEBServiceHosts::consoleURL());
    }
}

// ---- One app ---------------------------------------------------------------------------------

NEBApp::NEBApp(std::string name, std::shared_ptr<NEBOptions> options)
    : name_(std::move(name)), options_(std::move(options)) {
    record_.set_configuration_type(ICoreConfiguration::CORE);
    record_.set_icore_version(NEBOptions::libraryVersionID());
    // An app made again under a registered name keeps that name's announcements.
    auto& r = registry();
    dispatch::ScopedLock lock(r.lock);
    if (r.apps) {
        if (auto it = r.apps->find(name_); it != r.apps->end()) {
            alreadySentConfigureNotification_ = it->second->alreadySentConfigureNotification();
            alreadySentDeleteNotification_ = it->second->alreadySentDeleteNotification();
        }
    }
}

NEB_ICORE::ICoreConfiguration NEBApp::icoreConfiguration() const {
    dispatch::Lock lock(mutex_);
    return record_;
}

void NEBApp::setIcoreConfiguration(NEB_ICORE::ICoreConfiguration record) {
    dispatch::Lock lock(mutex_);
    record_ = std::move(record);
}

bool NEBApp::alreadySentConfigureNotification() const {
    dispatch::Lock lock(mutex_);
    return alreadySentConfigureNotification_;
}

void NEBApp::setAlreadySentConfigureNotification(bool sent) {
    dispatch::Lock lock(mutex_);
    alreadySentConfigureNotification_ = sent;
}

bool NEBApp::alreadySentDeleteNotification() const {
    dispatch::Lock lock(mutex_);
    return alreadySentDeleteNotification_;
}

void NEBApp::setAlreadySentDeleteNotification(bool sent) {
    dispatch::Lock lock(mutex_);
    alreadySentDeleteNotification_ = sent;
}

NEBApp::GetTokenImplementation NEBApp::getTokenImplementation() const {
    dispatch::Lock lock(mutex_);
    return getTokenImplementation_;
}

void NEBApp::setGetTokenImplementation(GetTokenImplementation implementation) {
    dispatch::Lock lock(mutex_);
    getTokenImplementation_ = std::move(implementation);
}

void NEBApp::deleteApp(const std::function<void(bool success)>& completion) {
    if (!completion) {
        throw ns::Exception(ns::kInvalidArgumentException, "deleteApp: needs a completion");
    }
    auto& r = registry();
    dispatch::ScopedLock lock(r.lock);
    if (!r.apps || !r.apps->contains(name_)) {
        NEBCoreLogError(kNEBLoggerCore, kNEBLoggerCoreDeletedAppMissing, "App does not exist.");
        lock.unlock();
        completion(false);
        return;
    }
    NEBCoreLogDebug(kNEBLoggerCore, kNEBLoggerCoreDeletingApp, "Deleting app named %@", name_);
    r.apps->erase(name_);
    if (name_ == kNEBDefaultAppName) r.defaultApp.reset();
    if (!alreadySentDeleteNotification()) {
        ns::NotificationCenter::defaultCenter().post(kNEBAppDeleteNotification, classObject(),
                                                     {{kNEBAppNameKey, name_}});
        setAlreadySentDeleteNotification(true);
    }
    lock.unlock();
    completion(true);
}

void NEBApp::getTokenForcingRefresh(bool forceRefresh, TokenCallback callback) {
    if (auto implementation = getTokenImplementation()) {
        implementation(forceRefresh, std::move(callback));
    } else if (callback) {
        callback(std::nullopt, std::nullopt);
    }
}

bool NEBApp::configureCore() {
    checkExpectedBundleID();
    if (!isAppIDValid()) {
        if (options_->usingOptionsFromDefaultPlist()) {
            dispatch::Lock lock(mutex_);
            populateLogProto(record_, errorForInvalidAppID());
        }
        return false;
    }
    {
        ICoreConfiguration record = icoreConfiguration();
        populateLogProtoWithCommonInfo(record);
        populateLogProtoWithInstalledServices(record);
        record.set_use_default_app(false);
        setIcoreConfiguration(std::move(record));
    }
    if (name_ == kNEBDefaultAppName) {
        if (const auto* analytics = NSDKClassFromString(std::string(kNEBAnalyticsClassName))) {
            if (analytics->instancesRespondTo(kNEBAnalyticsStartOperation)) {
                auto starter = std::dynamic_pointer_cast<NEBAnalyticsStarting>(analytics->create());
                if (starter) {
                    starter->startWithConfiguration(
                        NEBConfiguration::sharedInstance().analyticsConfiguration(), options_,
                        services());
                }
            }
        } else {
            NEBCoreLogError(kNEBLoggerCore, kNEBLoggerCoreAnalyticsUnavailable,
                            "Nebula Analytics is not available.");
        }
        if (options_->usingOptionsFromDefaultPlist()) {
            dispatch::Lock lock(mutex_);
            record_.set_use_default_app(true);
        }
    }
    return true;
}

bool NEBApp::isAppIDValid() {
    auto appID = options_->nebulaAppID();
    if (validateAppID(appID)) return true;
    NEBCoreLogError(
        kNEBLoggerCore, kNEBLoggerCoreInvalidAppID,
        "The NEBULA_APP_ID either in the plist file '%@.%@' or the one set in the customized "
        "options is invalid. If you are using the plist file, use the iOS version of bundle "
        "identifier to download the file, and do not manually edit the NEBULA_APP_ID. You may "
        "change your app's bundle identifier to '%@'. Or you can download a new configuration "
        "file that matches your bundle identifier from %@ and replace the current one.",
        kNEBServiceInfoFileName, kNEBServiceInfoFileType, expectedBundleID().value_or(""),
        NEBServiceHosts::consoleURL());
    return false;
}

std::string NEBApp::description() const {
    return ns::format("<NEBApp: %@>", name_);
}

// ---- Configuration records ----------------------------------------------------------------

void NEBApp::sendLogsWithServiceName(const std::string& serviceName, const std::string& version,
                                     const std::optional<ns::Error>& error) {
    ICoreConfiguration record;
    record.set_configuration_type(ICoreConfiguration::SDK);
    record.set_sdk_name(mapFromServiceStringToTypeEnum(serviceName));
    record.set_sdk_version(version);
    populateLogProtoWithCommonInfo(record);
    populateLogProto(record, error);
    sendLogsToLogbook(record, nullptr);
}

void NEBApp::populateLogProtoWithCommonInfo(ICoreConfiguration& record) const {
    record.set_pod_name(ICoreConfiguration::NEBULA);
    if (auto appID = options_->nebulaAppID(); appID && !appID->empty()) record.set_app_id(*appID);
    if (auto bundleID = expectedBundleID(); bundleID && !bundleID->empty()) {
        record.set_bundle_id(*bundleID);
    }
    if (auto install = installString(); install && !install->empty()) record.set_install(*install);
    if (auto model = deviceModel(); !model.empty()) record.set_device_model(model);
    if (auto version = ui::Device::current().systemVersion(); !version.empty()) {
        record.set_os_version(version);
    }
    record.set_min_supported_ios_version(ns::format("%d", 60000));
}

void NEBApp::populateLogProtoWithInstalledServices(ICoreConfiguration& record) {
    struct Probe {
        std::vector<const char*> classes;
        ICoreConfiguration::ServiceType service;
    };
    static const auto& probes = *new std::vector<Probe>{
        {{"AdBannerView"}, ICoreConfiguration::ADNETWORK},
        {{"NEBInvites"}, ICoreConfiguration::INVITES},
        {{"NEBMessaging"}, ICoreConfiguration::MESSAGING},
        {{"NEBRemoteConfig"}, ICoreConfiguration::REMOTE_CONFIG},
        {{"CrashClient"}, ICoreConfiguration::CRASH},
        {{"NEBAnalytics"}, ICoreConfiguration::MEASUREMENT},
        {{"NEBDatabase"}, ICoreConfiguration::DATABASE},
        {{"NEBDynamicLinks"}, ICoreConfiguration::DYNAMIC_LINKS},
        {{"NEBAuth"}, ICoreConfiguration::AUTH},
        {{"NEBStorage"}, ICoreConfiguration::STORAGE},
        {{"IDSignIn", "SvcContext"}, ICoreConfiguration::SIGN_IN},
        {{"LegacyAnalytics", "SvcContext"}, ICoreConfiguration::ANALYTICS},
    };
    for (const auto& probe : probes) {
        bool present = std::all_of(probe.classes.begin(), probe.classes.end(), [](const char* c) {
            return NSDKClassFromString(std::string(c)) != nullptr;
        });
        if (present) record.add_sdk_service_installed(probe.service);
    }
}

void NEBApp::populateLogProto(ICoreConfiguration& record, const std::optional<ns::Error>& error) {
    NEB_ICORE::ErrorInfo info;
    if (error) {
        info.set_has_error(true);
        info.set_error_code(static_cast<int32_t>(error->code()));
        info.set_error_domain(error->domain());
    }
    *record.mutable_error_info() = std::move(info);
}

NEB_ICORE::ICoreConfiguration_ServiceType NEBApp::mapFromServiceStringToTypeEnum(
    std::string_view serviceName) {
    static const auto& table =
        *new std::map<std::string, ICoreConfiguration::ServiceType, std::less<>>{
            {"AdNetwork", ICoreConfiguration::ADNETWORK},
            {"SignIn", ICoreConfiguration::SIGN_IN},
            {"Analytics", ICoreConfiguration::ANALYTICS},
            {"Crash", ICoreConfiguration::CRASH},
            {"Auth", ICoreConfiguration::AUTH},
            {"Database", ICoreConfiguration::DATABASE},
            {"Storage", ICoreConfiguration::STORAGE},
            {"Messaging", ICoreConfiguration::MESSAGING},
            {"Measurement", ICoreConfiguration::MEASUREMENT},
            {"RemoteConfig", ICoreConfiguration::REMOTE_CONFIG},
            {"DynamicLinks", ICoreConfiguration::DYNAMIC_LINKS},
            {"Invites", ICoreConfiguration::INVITES},
        };
    auto it = table.find(serviceName);
    return it == table.end() ? ICoreConfiguration::UNKNOWN_SDK_SERVICE : it->second;
}

void NEBApp::sendLogsToLogbook(const ICoreConfiguration& record, std::function<void()> completion) {
    NEB_LOGBOOK::LogEvent event;
    event.set_source_extension(record.SerializeAsString());
    auto& r = registry();
    dispatch::ScopedLock lock(r.lock);
    initLogbook();
    r.logbook->logEvent(std::move(event), kNEBLogbookLogSourceICore, kNEBLogbookAccount);
    r.logbook->flushWithCompletionHandler(std::move(completion));
}

std::string NEBApp::deviceModel() {
    return sys::DeviceFacts::current().machine();
}

std::optional<std::string> NEBApp::installString() {
    auto& r = registry();
    dispatch::ScopedLock lock(r.lock);
    auto path = filePathURLWithName(kNEBUniqueInstallFileName);
    if (!path) return std::nullopt;
    if (auto stored = stringAtURL(*path); stored && !stored->empty()) return stored;
    auto install = ns::UUID().UUIDString();
    if (!writeString(install, *path)) return std::nullopt;
    return install;
}

std::optional<std::string> NEBApp::filePathURLWithName(std::string_view fileName) {
    auto directory = ns::Sandbox::applicationSupportDirectory() + "/" + kNEBAppInstallDirectory;
    if (!ns::FileManager::defaultManager().createDirectory(directory, true).ok()) {
        return std::nullopt;
    }
    return directory + "/" + std::string(fileName);
}

std::optional<std::string> NEBApp::stringAtURL(const std::string& path) {
    auto data = ns::readFile(path);
    if (!data.ok() || !ns::utf8::isValid(data->chars())) return std::nullopt;
    return std::string(data->chars());
}

bool NEBApp::writeString(const std::string& text, const std::string& path) {
    auto& r = registry();
    dispatch::ScopedLock lock(r.lock);
    if (!ns::writeFileAtomically(path, text).ok()) return false;
    // Written is what the caller asks; a failed exclusion only lets the file into backups.
    (void)ns::FileManager::defaultManager().setExcludedFromBackup(path, true);
    return true;
}

void NEBApp::writeTimestamp(double seconds) {
    if (auto path = filePathURLWithName(kNEBLastTimestampFileName)) {
        writeString(ns::format("%f", seconds), *path);
    }
}

void NEBApp::logAppInfo() {
    auto& r = registry();
    dispatch::ScopedLock lock(r.lock);
    double last = 0;
    if (auto path = filePathURLWithName(kNEBLastTimestampFileName)) {
        if (auto text = stringAtURL(*path)) last = std::strtod(text->c_str(), nullptr);
    }
    const double now = dispatch::Clock::current().wallTime();
    if (!(std::fabs(now - last) > kNEBDailyRecordInterval)) return;
    ICoreConfiguration record;
    if (auto bundleID = expectedBundleID(); bundleID && !bundleID->empty()) {
        record.set_bundle_id(*bundleID);
    }
    record.set_device_model(deviceModel());
    sendLogsToLogbook(record, [now] { writeTimestamp(now); });
}
