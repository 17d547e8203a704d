#include "sdk/instance_id/NEBInstanceID.h"

#include <cmath>

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/QueueContract.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/Exception.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ns/NotificationQueue.h"
#include "platform/rt/ClassRegistry.h"
#include "sdk/core/NEBApp.h"
#include "sdk/core/NEBOptions.h"
#include "sdk/instance_id/NEBInstanceIDAppDelegateProxy.h"
#include "sdk/instance_id/NEBInstanceIDAppEnvironmentUtil.h"
#include "sdk/instance_id/NEBInstanceIDAuthService.h"
#include "sdk/instance_id/NEBInstanceIDErrors.h"
#include "sdk/instance_id/NEBInstanceIDKeyPairStore.h"
#include "sdk/instance_id/NEBInstanceIDLogLevelFilter.h"
#include "sdk/instance_id/NEBInstanceIDLogger.h"
#include "sdk/instance_id/NEBInstanceIDMessagingFacts.h"
#include "sdk/instance_id/NEBInstanceIDProvisioningProfile.h"
#include "sdk/instance_id/NEBInstanceIDTokenManager.h"
#include "sdk/instance_id/NEBInstanceIDUtilities.h"

namespace {

constexpr double kCheckinRefreshWaitSeconds = 2.0;
constexpr double kDefaultTokenRefetchWithAPNSSeconds = 5.0;

bool messagingPresent() {
    return rt::ClassRegistry::shared().isPresent(kNEBMessagingClassName);
}

void onMain(std::function<void()> fn) {
    dispatch::Queue::main().async(std::move(fn));
}

void enqueue(const char* name, std::shared_ptr<ns::Object> object) {
    ns::NotificationQueue::defaultQueue().enqueue(ns::Notification{name, std::move(object), {}},
                                                  ns::NotificationQueue::PostingStyle::ASAP);
}

template <class T>
std::shared_ptr<ns::Object> box(T value) {
    return std::make_shared<ns::Box<T>>(std::move(value));
}

}  // namespace

// ---- Shared instance and start-up -----------------------------------------------------------

void NEBInstanceID::load() {
    static std::once_flag once;
    std::call_once(once, [] {
        ns::NotificationCenter::defaultCenter().addObserver(
            kNEBAppReadyToConfigureSDKNotification, NEBApp::classObject(),
            [](const ns::Notification& notification) {
                didReceiveConfigureSDKNotification(notification);
            });
    });
}

std::shared_ptr<NEBInstanceID> NEBInstanceID::instanceID() {
    auto& instance = ns::SharedInstance<NEBInstanceID>::get();
    // Starting needs the shared pointer that owns the instance, so it follows construction.
    std::call_once(instance.started_, [&] { instance.startWithConfig(); });
    return instance.shared_from_this();
}

NEBInstanceID::NEBInstanceID()
    : NEBInstanceID(NEBInstanceIDConfig::defaultConfig(), NEBApp::services()) {}

NEBInstanceID::NEBInstanceID(NEBInstanceIDConfig config,
                             std::shared_ptr<const NEBServices> services)
    : config_(config), services_(std::move(services)) {}

std::shared_ptr<NEBInstanceID> NEBInstanceID::create(NEBInstanceIDConfig config,
                                                     std::shared_ptr<const NEBServices> services) {
    std::shared_ptr<NEBInstanceID> made(new NEBInstanceID(config, std::move(services)));
    std::call_once(made->started_, [&] { made->startWithConfig(); });
    return made;
}

NEBInstanceID::~NEBInstanceID() {
    if (messageObserver_) ns::NotificationCenter::defaultCenter().removeObserver(messageObserver_);
}

void NEBInstanceID::startWithConfig() {
    if (!NEBInstanceIDStore::hasApplicationSupportSubDirectory(
            kNEBInstanceIDApplicationSupportSubDirectory)) {
        NEBInstanceIDStore::createApplicationSupportSubDirectory(
            kNEBInstanceIDApplicationSupportSubDirectory);
    }
    NEBInstanceIDSharedLogger().setFilter(
        std::make_shared<NEBInstanceIDLogLevelFilter>(config_.logLevel()));
    tokenManager_ = std::make_shared<NEBInstanceIDTokenManager>(services_);
    tokenManager_->setAllowMissingAPNSToken(config_.allowMSGRegistrationWithoutAPNSToken());
    keyPairStore_ = std::make_shared<NEBInstanceIDKeyPairStore>(services_->keychain());
    setupNotificationListeners();
}

void NEBInstanceID::setupNotificationListeners() {
    auto& center = ns::NotificationCenter::defaultCenter();
    if (messageObserver_) center.removeObserver(messageObserver_);
    std::weak_ptr<NEBInstanceID> weak = weak_from_this();
    messageObserver_ = center.addObserver(kNEBInstanceIDMessagingCommandNotification, nullptr,
                                          [weak](const ns::Notification& note) {
                                              if (auto self = weak.lock())
                                                  self->didReceiveMSGMessage(note);
                                          });
}

void NEBInstanceID::didReceiveConfigureSDKNotification(const ns::Notification& notification) {
    std::shared_ptr<NEBApp> app;
    if (const auto* name = notification.userInfo.contains(kNEBAppNameKey)
                               ? notification.userInfo.at(kNEBAppNameKey).string()
                               : nullptr) {
        app = NEBApp::appNamed(*name);
    }
    if (!app) {
        exitApp(nullptr,
                configureErrorWithReason("Could not configure InstanceID from Nebula app."));
        return;
    }
    if (!app->options()) {
        exitApp(app, configureErrorWithReason("Cannot find NEBApp options."));
        return;
    }
    instanceID()->configureInstanceIDWithOptions(*app->options(), app);
}

ns::Error NEBInstanceID::configureErrorWithReason(const std::string& reason) {
    return ns::Error(
        kNEBInstanceIDConfigurationDomain, kNEBInstanceIDConfigurationErrorCode,
        {{ns::kLocalizedDescriptionKey,
          ns::format("Configuration failed for service %@.", kNEBInstanceIDServiceName)},
         {ns::kLocalizedFailureReasonErrorKey,
          reason.empty() ? std::string("Unknown reason") : reason}});
}

void NEBInstanceID::exitApp(const std::shared_ptr<NEBApp>& app,
                            const std::optional<ns::Error>& error) {
    sendLogsForApp(app, error);
    if (error) {
        throw ns::Exception(kNEBInstanceIDConfigurationDomain,
                            "Could not configure Nebula InstanceID.");
    }
}

void NEBInstanceID::sendLogsForApp(const std::shared_ptr<NEBApp>& app,
                                   const std::optional<ns::Error>& error) {
    if (app) {
        app->sendLogsWithServiceName(kNEBInstanceIDServiceName,
                                     NEBInstanceIDCurrentLibraryVersion(), error);
    }
}

void NEBInstanceID::configureInstanceIDWithOptions(const NEBOptions& options,
                                                   const std::shared_ptr<NEBApp>& app) {
    HYB_EXPECT_MAIN_THREAD();
    auto senderID = options.MSGSenderID();
    if (!senderID || senderID->empty()) {
        exitApp(app, configureErrorWithReason("Nebula Sender ID must not be nil or empty."));
        return;
    }
    {
        dispatch::Lock lock(mutex_);
        ncmSenderID_ = *senderID;
        ncmAppID_ = options.nebulaAppID().value_or("");
    }
    if (NEBInstanceIDAppDelegateProxy::canSwizzleAppDelegate()) {
        NEBInstanceIDLoggerError(
            "NEBInstanceID AppDelegate proxy enabled, will swizzle app delegate remote "
            "notification handlers. To disable add \"%@\" to your Info.plist and set it to NO",
            kNEBInstanceIDAppDelegateProxyEnabledKey);
        NEBInstanceIDAppDelegateProxy::swizzleOriginalAppDelegate();
    }
    setAutoFetchedAPNSToken(std::nullopt,
                            NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeMissingAPNSToken));
    didCompleteConfigure();
}

void NEBInstanceID::didCompleteConfigure() {
    tokenManager_->registrar()->authService()->scheduleCheckin(true);
}

// ---- Check-in gate --------------------------------------------------------------------------

void NEBInstanceID::fetchCheckinInfoWithHandler(CheckinHandler handler) {
    HYB_EXPECT_MAIN_THREAD();
    auto authService = tokenManager_->registrar()->authService();
    if (authService->hasValidCheckinInfo()) {
        onMain([handler, preferences = authService->checkinPreferences()] {
            handler(preferences, std::nullopt);
        });
        return;
    }
    std::weak_ptr<NEBInstanceID> weak = weak_from_this();
    authService->fetchCheckinInfoWithHandler(
        [weak, handler](auto preferences, std::optional<ns::Error> error) {
            if (error && error->code() == kNEBInstanceIDErrorCodePending) {
                if (auto self = weak.lock())
                    self->scheduleCheckinRefreshWaitWithHandler(handler, 0);
                return;
            }
            handler(preferences, error);
        });
}

void NEBInstanceID::scheduleCheckinRefreshWaitWithHandler(CheckinHandler handler, int attempt) {
    HYB_EXPECT_MAIN_THREAD();
    auto authService = tokenManager_->registrar()->authService();
    if (authService->hasValidCheckinInfo()) {
        handler(authService->checkinPreferences(), std::nullopt);
        return;
    }
    // Counted per wait: one caller that waited long must not make every later caller fail.
    if (attempt > kMaxCheckinRefreshWaits) {
        handler(nullptr, NEBInstanceIDErrorMissingCheckin());
        return;
    }
    std::weak_ptr<NEBInstanceID> weak = weak_from_this();
    dispatch::Queue::main().asyncAfter(
        dispatch::seconds(kCheckinRefreshWaitSeconds), [weak, handler, attempt] {
            if (auto self = weak.lock()) {
                self->scheduleCheckinRefreshWaitWithHandler(handler, attempt + 1);
            }
        });
}

// ---- Public operations ----------------------------------------------------------------------

ns::Dictionary NEBInstanceID::addInternalOptions(
    const std::optional<ns::Dictionary>& options) const {
    ns::Dictionary completed = options.value_or(ns::Dictionary{});
    {
        dispatch::Lock lock(mutex_);
        if (!ncmAppID_.empty()) completed["nmp_app_id"] = ncmAppID_;
    }
    auto found = completed.find("apns_token");
    if (found != completed.end() && found->second.data()) {
        bool sandbox =
            completed.contains("apns_sandbox") && completed.at("apns_sandbox").boolValue();
        completed["apns_token"] = NEBInstanceIDAPNSTokenString(*found->second.data(), sandbox);
    }
    return completed;
}

void NEBInstanceID::tokenWithAuthorizedEntity(const std::string& entity, const std::string& scope,
                                              std::optional<ns::Dictionary> options,
                                              TokenHandler handler) {
    HYB_EXPECT_MAIN_THREAD();
    if (!handler) {
        NEBInstanceIDLoggerError("Invalid nil handler.");
        return;
    }
    auto fail = [handler](int64_t code) {
        onMain([handler, code] { handler(std::nullopt, NEBInstanceIDErrorWithCode(code)); });
    };
    if (NEBInstanceIDIsMessagingScope(scope) && !config_.allowMSGRegistrationWithoutAPNSToken()) {
        const ns::Dictionary given = options.value_or(ns::Dictionary{});
        if (!given.contains("apns_token")) return fail(kNEBInstanceIDErrorCodeMissingAPNSToken);
        if (!given.contains("apns_sandbox"))
            return fail(kNEBInstanceIDErrorCodeMissingAPNSServerType);
        if (!given.at("apns_token").data()) return fail(kNEBInstanceIDErrorCodeMissingDeviceID);
    }
    if (entity.empty()) return fail(kNEBInstanceIDErrorCodeInvalidAuthorizedEntity);
    if (scope.empty()) return fail(kNEBInstanceIDErrorCodeInvalidScope);
    if (!keyPairStore_) return fail(kNEBInstanceIDErrorCodeInvalidStart);

    ns::Dictionary completed = addInternalOptions(options);
    std::weak_ptr<NEBInstanceID> weak = weak_from_this();
    fetchCheckinInfoWithHandler([weak, entity, scope, completed, handler](
                                    auto, std::optional<ns::Error> error) {
        if (error) return handler(std::nullopt, error);
        auto self = weak.lock();
        if (!self) return;
        auto cached = self->tokenManager_->tokenWithAuthorizedEntity(entity, scope, completed);
        if (cached.isValid()) return handler(cached.token(), std::nullopt);
        self->asyncLoadKeyPairWithHandler([weak, entity, scope, completed, handler, cached](
                                              std::shared_ptr<NEBInstanceIDKeyPair> keyPair,
                                              std::optional<ns::Error> loadError) {
            auto self = weak.lock();
            if (!self) return;
            if (loadError || !keyPair) {
                return handler(std::nullopt,
                               NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeInvalidKeyPair));
            }
            if (cached.shouldInvalidateAllTokens()) {
                self->tokenManager_->invalidateCachedTokenWithAuthorizedEntity(entity, scope,
                                                                               completed);
            }
            self->tokenManager_->fetchNewTokenWithAuthorizedEntity(
                entity, scope, keyPair, completed,
                [handler](std::optional<std::string> token, std::optional<ns::Error> error) {
                    onMain([handler, token, error] { handler(token, error); });
                });
        });
    });
}

void NEBInstanceID::deleteTokenWithAuthorizedEntity(const std::string& entity,
                                                    const std::string& scope,
                                                    DeleteHandler handler) {
    HYB_EXPECT_MAIN_THREAD();
    if (!handler) NEBInstanceIDLoggerError("Invalid nil handler.");
    auto deliver = [handler](std::optional<ns::Error> error) {
        onMain([handler, error] {
            if (handler) handler(error);
        });
    };
    if (entity.empty())
        return deliver(NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeInvalidAuthorizedEntity));
    if (scope.empty())
        return deliver(NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeInvalidScope));
    if (!keyPairStore_)
        return deliver(NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeInvalidStart));
    std::weak_ptr<NEBInstanceID> weak = weak_from_this();
    fetchCheckinInfoWithHandler([weak, entity, scope, deliver](auto,
                                                               std::optional<ns::Error> error) {
        if (error) return deliver(error);
        auto self = weak.lock();
        if (!self) return;
        self->asyncLoadKeyPairWithHandler([weak, entity, scope, deliver](
                                              std::shared_ptr<NEBInstanceIDKeyPair> keyPair,
                                              std::optional<ns::Error> loadError) {
            auto self = weak.lock();
            if (!self) return;
            if (loadError || !keyPair) {
                return deliver(NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeInvalidKeyPair));
            }
            self->tokenManager_->deleteTokenWithAuthorizedEntity(entity, scope, keyPair, deliver);
        });
    });
}

void NEBInstanceID::getIDWithHandler(TokenHandler handler) {
    HYB_EXPECT_MAIN_THREAD();
    if (!handler) {
        NEBInstanceIDLoggerError("Invalid nil handler.");
        return;
    }
    if (!keyPairStore_) {
        onMain([handler] {
            handler(std::nullopt, NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeInvalidStart));
        });
        return;
    }
    auto store = keyPairStore_;
    dispatch::Queue::global().async([store, handler] {
        onMain([handler, identity = store->appIdentity()] {
            if (!identity.ok()) return handler(std::nullopt, identity.error());
            handler(*identity, std::nullopt);
        });
    });
}

void NEBInstanceID::deleteIDWithHandler(DeleteHandler handler) {
    HYB_EXPECT_MAIN_THREAD();
    if (!handler) {
        NEBInstanceIDLoggerError("Invalid nil handler.");
        return;
    }
    auto deliver = [handler](std::optional<ns::Error> error) {
        onMain([handler, error] { handler(error); });
    };
    if (!keyPairStore_)
        return deliver(NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeInvalidStart));
    std::weak_ptr<NEBInstanceID> weak = weak_from_this();
    asyncLoadKeyPairWithHandler([weak, deliver](std::shared_ptr<NEBInstanceIDKeyPair> keyPair,
                                                std::optional<ns::Error> loadError) {
        auto self = weak.lock();
        if (!self) return;
        if (loadError || !keyPair) {
            return deliver(NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeInvalidKeyPair));
        }
        self->tokenManager_->deleteAllTokensWithKeyPair(
            keyPair, [weak, deliver](std::optional<ns::Error> error) {
                if (error) return deliver(error);
                auto self = weak.lock();
                if (!self) return;
                bool deleted = self->keyPairStore_->deleteSavedKeyPairWithSubtype("").ok();
                bool removed = self->keyPairStore_->removeKeyPairCreationTimePlist().ok();
                if (deleted && removed) return deliver(std::nullopt);
                deliver(NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeUnknown));
            });
    });
}

ns::Result<std::string> NEBInstanceID::appInstanceID() {
    return keyPairStore_->appIdentity();
}

void NEBInstanceID::asyncLoadKeyPairWithHandler(KeyPairHandler handler) {
    auto store = keyPairStore_;
    dispatch::Queue::global().async([store, handler] {
        onMain([handler, loaded = store->loadKeyPair()] {
            if (!loaded.ok()) return handler(nullptr, loaded.error());
            if (!*loaded) {
                return handler(nullptr,
                               NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeInvalidKeyPair));
            }
            handler(*loaded, std::nullopt);
        });
    });
}

std::shared_ptr<const NEBInstanceIDCheckinPreferences> NEBInstanceID::cachedCheckinPreferences()
    const {
    return tokenManager_->registrar()->authService()->checkinPreferences();
}

bool NEBInstanceID::hasValidCheckinInfo() const {
    return tokenManager_->registrar()->authService()->hasValidCheckinInfo();
}

void NEBInstanceID::stopAllRequests() {
    HYB_EXPECT_MAIN_THREAD();
    tokenManager_->registrar()->stopAllRequests();
}

std::string NEBInstanceID::ncmSenderID() const {
    dispatch::Lock lock(mutex_);
    return ncmSenderID_;
}
std::optional<std::string> NEBInstanceID::apnsToken() const {
    dispatch::Lock lock(mutex_);
    return apnsToken_;
}
std::optional<std::string> NEBInstanceID::defaultNCMToken() const {
    dispatch::Lock lock(mutex_);
    return defaultNCMToken_;
}

// ---- Default token --------------------------------------------------------------------------

std::optional<std::string> NEBInstanceID::token() {
    std::string senderID;
    std::optional<std::string> apnsText;
    bool apnsSandbox = false;
    {
        dispatch::Lock lock(mutex_);
        senderID = ncmSenderID_;
        apnsText = apnsToken_;
        apnsSandbox = apnsTokenIsSandbox_;
    }
    if (senderID.empty()) {
        NEBInstanceIDLoggerError("Nebula messaging not setup correctly, nil senderID.");
        return std::nullopt;
    }
    ns::Dictionary options;
    if (messagingPresent() && apnsText && !apnsText->empty()) {
        options = ns::Dictionary{{"apns_token", *apnsText}, {"apns_sandbox", apnsSandbox}};
    }
    auto cached =
        tokenManager_->tokenWithAuthorizedEntity(senderID, kNEBInstanceIDDefaultScope, options);
    if (cached.isValid()) return cached.token();
    std::weak_ptr<NEBInstanceID> weak = weak_from_this();
    auto start = [weak] {
        if (auto self = weak.lock()) self->fetchDefaultToken();
    };
    if (dispatch::Queue::main().isCurrent()) {
        start();
    } else {
        onMain(start);
    }
    return std::nullopt;
}

void NEBInstanceID::fetchDefaultToken() {
    HYB_EXPECT_MAIN_THREAD();
    if (isFetchingDefaultToken_) return;
    std::weak_ptr<NEBInstanceID> weak = weak_from_this();
    defaultTokenWithHandler([weak](std::optional<std::string> token,
                                   std::optional<ns::Error> error) {
        auto self = weak.lock();
        if (!self) return;
        if (error) {
            NEBInstanceIDLoggerError("Failed to retrieve the default MSG token after %zd retries",
                                     self->retryCountForDefaultToken_);
            return;
        }
        {
            dispatch::Lock lock(self->mutex_);
            self->defaultNCMToken_ = token;
        }
        enqueue(kNEBInstanceIDTokenNotification, box(token.value_or("")));
        enqueue(kNEBInstanceIDTokenRefreshNotification, box(token.value_or("")));
    });
}

int64_t NEBInstanceID::retryIntervalToFetchDefaultToken() const {
    HYB_EXPECT_MAIN_THREAD();
    return static_cast<int64_t>(
        services_->backoff().defaultToken.delay(retryCountForDefaultToken_).value_or(0));
}

void NEBInstanceID::defaultTokenWithHandler(TokenHandler handler) {
    HYB_EXPECT_MAIN_THREAD();
    if (isFetchingDefaultToken_ || isDefaultTokenFetchScheduled_) return;
    ns::Dictionary options;
    bool hasMessaging = messagingPresent();
    std::string senderID;
    {
        dispatch::Lock lock(mutex_);
        senderID = ncmSenderID_;
        // The environment the token was given for, so that the text registered is the text
        // that later cache look-ups compare with.
        if (hasMessaging && apnsTokenData_) {
            options = ns::Dictionary{{"apns_token", *apnsTokenData_},
                                     {"apns_sandbox", apnsTokenIsSandbox_}};
        }
    }
    bool fetchedWithoutAPNS = options.empty();
    isFetchingDefaultToken_ = true;
    std::weak_ptr<NEBInstanceID> weak = weak_from_this();
    tokenWithAuthorizedEntity(
        senderID, kNEBInstanceIDDefaultScope, options,
        [weak, handler, hasMessaging, fetchedWithoutAPNS](std::optional<std::string> token,
                                                          std::optional<ns::Error> error) {
            auto self = weak.lock();
            if (!self) return;
            self->isFetchingDefaultToken_ = false;
            if (error) {
                NEBInstanceIDLoggerError("Failed to fetch default token %@", *error);
                enqueue(kNEBInstanceIDDefaultTokenFailNotification, box(*error));
                self->retryCountForDefaultToken_ =
                    std::min(self->retryCountForDefaultToken_ + 1, kMaxRetryCountForDefaultToken);
                if (self->retryCountForDefaultToken_ >= kMaxRetryCountForDefaultToken) {
                    return handler(std::nullopt, error);
                }
                self->isDefaultTokenFetchScheduled_ = true;
                dispatch::Queue::main().asyncAfter(dispatch::seconds(static_cast<double>(
                                                       self->retryIntervalToFetchDefaultToken())),
                                                   [weak, handler] {
                                                       auto self = weak.lock();
                                                       if (!self) return;
                                                       self->isDefaultTokenFetchScheduled_ = false;
                                                       self->defaultTokenWithHandler(handler);
                                                   });
                return;
            }
            NEBInstanceIDLoggerInfo("Successfully fetched default token.");
            bool apnsArrived = false;
            {
                dispatch::Lock lock(self->mutex_);
                apnsArrived = self->apnsTokenData_.has_value();
            }
            if (hasMessaging && fetchedWithoutAPNS && apnsArrived) {
                self->isDefaultTokenFetchScheduled_ = true;
                dispatch::Queue::main().asyncAfter(
                    dispatch::seconds(kDefaultTokenRefetchWithAPNSSeconds), [weak, handler] {
                        auto self = weak.lock();
                        if (!self) return;
                        self->isDefaultTokenFetchScheduled_ = false;
                        self->defaultTokenWithHandler(handler);
                    });
            }
            handler(token, std::nullopt);
        });
}

// ---- Push-service device token --------------------------------------------------------------

void NEBInstanceID::setAPNSToken(const ns::Data& token, NEBInstanceIDAPNSTokenType type) {
    HYB_EXPECT_MAIN_THREAD();
    didAutoFetch(false, token, type);
}

void NEBInstanceID::setAutoFetchedAPNSToken(std::optional<ns::Data> token,
                                            std::optional<ns::Error> error) {
    HYB_EXPECT_MAIN_THREAD();
    if (error && messagingPresent())
        NEBInstanceIDLoggerError("Failed to fetch APNS token %@", *error);
    didAutoFetch(true, std::move(token), NEBInstanceIDAPNSTokenType::Unknown);
}

void NEBInstanceID::didAutoFetch(bool autoFetched, std::optional<ns::Data> token,
                                 NEBInstanceIDAPNSTokenType type) {
    if (token) {
        bool take;
        {
            dispatch::Lock lock(mutex_);
            if (apnsTokenData_ && *apnsTokenData_ == *token) return;
            // A token fetched automatically never replaces one the app set itself.
            take = !(autoFetched && apnsTokenData_);
        }
        if (take) {
            setNormalizedAPNSToken(*token, type);
            enqueue(kNEBInstanceIDAPNSTokenNotification, box(*token));
        }
    }
    auto read = this->token();
    dispatch::Lock lock(mutex_);
    if (defaultNCMToken_ && (!read || *read == *defaultNCMToken_)) return;
    defaultNCMToken_ = read;
    if (read) enqueue(kNEBInstanceIDTokenNotification, box(*read));
}

void NEBInstanceID::setNormalizedAPNSToken(const ns::Data& token, NEBInstanceIDAPNSTokenType type) {
    bool sandbox = type == NEBInstanceIDAPNSTokenType::Unknown
                       ? isSandboxApp()
                       : type == NEBInstanceIDAPNSTokenType::Sandbox;
    dispatch::Lock lock(mutex_);
    apnsTokenData_ = token;
    apnsToken_ = NEBInstanceIDAPNSTokenString(token, sandbox);
    apnsTokenIsSandbox_ = sandbox;
}

bool NEBInstanceID::isSandboxApp() {
    std::call_once(sandboxOnce_, [this] { isSandbox_ = !readIsProductionApp(); });
    return isSandbox_;
}

bool NEBInstanceID::isProductionApp() {
    return !isSandboxApp();
}

void NEBInstanceID::logAPNSConfigurationError(const std::string& text) {
    if (messagingPresent()) NEBInstanceIDLoggerError("%@", text);
}

bool NEBInstanceID::readIsProductionApp() {
    if (NEBInstanceIDAppEnvironmentUtil::isSimulator()) {
        logAPNSConfigurationError(
            "Running InstanceID on a simulator doesn't have APNS. Use prod profile by default.");
        return true;
    }
    std::string path = ns::Bundle::mainBundle()->bundlePath() + "/embedded.mobileprovision";
    auto contents = ns::FileManager::defaultManager().contentsAtPath(path);
    if (!contents.ok() || contents->empty()) {
        logAPNSConfigurationError(
            ns::format("Error while reading embedded mobileprovision %@",
                       contents.ok() ? std::string() : contents.error().description()));
        return true;
    }
    auto environment = NEBInstanceIDProvisioningProfile::apsEnvironment(
        *contents, [this](const std::string& text) { logAPNSConfigurationError(text); });
    return !environment || *environment != "development";
}

// ---- Commands from messaging ------------------------------------------------------------------

void NEBInstanceID::didReceiveMSGMessage(const ns::Notification& notification) {
    HYB_EXPECT_MAIN_THREAD();
    const ns::Dictionary* message = nullptr;
    if (auto dictionary = std::dynamic_pointer_cast<ns::Box<ns::Dictionary>>(notification.object)) {
        message = &dictionary->value();
    } else if (auto value = std::dynamic_pointer_cast<ns::Box<ns::Value>>(notification.object)) {
        message = value->value().dictionary();
    }
    if (!message) {
        NEBInstanceIDLoggerError(
            "Invalid MSG message with object %@",
            notification.object ? notification.object->description() : std::string("(null)"));
        return;
    }
    const auto* command = message->contains("CMD") ? message->at("CMD").string() : nullptr;
    if (!command || command->empty()) {
        NEBInstanceIDLoggerError("Invalid nil command to InstanceID");
        return;
    }
    if (*command == "RST") {
        handleCommandResetWithDelayInSeconds(0);
    } else if (*command == "RST_FULL") {
        handleCommandResetFullWithDelayInSeconds(0);
    } else if (*command == "SYNC") {
        handleTokenRefreshWithDelayInSeconds(0);
    }
}

void NEBInstanceID::notifyTokenRefresh() {
    instanceID()->handleTokenRefreshWithDelayInSeconds(2);
}

void NEBInstanceID::notifyIdentityLost() {
    instanceID()->handleCommandResetWithDelayInSeconds(2);
}

void NEBInstanceID::handleCommandResetWithDelayInSeconds(double delay) {
    (void)keyPairStore_->deleteSavedKeyPairWithSubtype("");  // logs a failure
    (void)tokenManager_->deleteAllTokensLocally();           // logs a failure
    invokeTokenRefreshCallbackWithDelayInSeconds(delay);
}

void NEBInstanceID::handleCommandResetFullWithDelayInSeconds(double delay) {
    bool hadKeyPairs = keyPairStore_->hasCachedKeyPairs();
    if (hadKeyPairs) (void)keyPairStore_->deleteSavedKeyPairWithSubtype("");  // logs a failure
    auto deleted = tokenManager_->deleteAllTokensLocally();
    // A missing item counts as deleted, so only a real keychain failure stops the refresh.
    if (hadKeyPairs || deleted.ok()) invokeTokenRefreshCallbackWithDelayInSeconds(delay);
}

void NEBInstanceID::handleTokenRefreshWithDelayInSeconds(double delay) {
    (void)tokenManager_->deleteAllTokensLocally();  // logs a failure
    invokeTokenRefreshCallbackWithDelayInSeconds(delay);
}

void NEBInstanceID::invokeTokenRefreshCallbackWithDelayInSeconds(double delay) {
    auto post = [] {
        ns::NotificationCenter::defaultCenter().post(kNEBInstanceIDTokenRefreshNotification);
    };
    if (delay > 0) {
        dispatch::Queue::main().asyncAfter(dispatch::seconds(delay), post);
    } else {
        onMain(post);
    }
}
