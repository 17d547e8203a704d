#include "sdk/messaging/NEBMessaging.h"

#include <chrono>
#include <cmath>

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/QueueContract.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/Exception.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/FoundationVersion.h"
#include "platform/ns/Locale.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ns/PreferredLocalizations.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/UserDefaults.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/ui/Application.h"
#include "sdk/core/NEBApp.h"
#include "sdk/core/NEBOptions.h"
#include "sdk/instance_id/NEBInstanceID.h"
#include "sdk/instance_id/NEBInstanceIDMessagingFacts.h"
#include "sdk/messaging/NEBMessagingAnalytics.h"
#include "sdk/messaging/NEBMessagingAppDelegateProxy.h"
#include "sdk/messaging/NEBMessagingClient.h"
#include "sdk/messaging/NEBMessagingContextManagerService.h"
#include "sdk/messaging/NEBMessagingDataMessageManager.h"
#include "sdk/messaging/NEBMessagingLogLevelFilter.h"
#include "sdk/messaging/NEBMessagingLogger.h"
#include "sdk/messaging/NEBMessagingPubSub.h"
#include "sdk/messaging/NEBMessagingReceiver.h"
#include "sdk/messaging/NEBMessagingRmqManager.h"
#include "sdk/messaging/NEBMessagingServiceHosts.h"
#include "sdk/messaging/NEBMessagingSyncMessageManager.h"
#include "sdk/messaging/NEBMessagingUtilities.h"
#include "toolbox/Net/NIPReachability.h"

namespace {

constexpr const char* kMessageIDKey = "msg.message_id";

// The language groups the messaging service knows; only their identifiers are used.
const std::vector<std::string>& localeIdentifiers() {
    static const auto& identifiers = *new std::vector<std::string>{
        "sq_AL", "be_BY",    "bg_BG", "ca",         "ca_ES",      "hr",         "hr_HR",   "cs",
        "cs_CZ", "da",       "da_DK", "et_EE",      "fi",         "fi_FI",      "he",      "iw_IL",
        "hi_IN", "hu",       "hu_HU", "is_IS",      "id",         "in_ID",      "id_ID",   "ga_IE",
        "ko",    "ko_KR",    "ko-KR", "lv_LV",      "lt_LT",      "mk_MK",      "ms_MY",   "mt_MT",
        "pl",    "pl_PL",    "pl-PL", "ro",         "ro_RO",      "ru_RU",      "ru",      "ru_BY",
        "ru_KZ", "ru-RU",    "sk",    "sk_SK",      "sl_SI",      "sv",         "sv_SE",   "sv-SE",
        "tr",    "tr-TR",    "tr_TR", "uk",         "uk_UA",      "vi",         "vi_VN",   "ar",
        "ar_DZ", "ar_BH",    "ar_EG", "ar_IQ",      "ar_JO",      "ar_KW",      "ar_LB",   "ar_LY",
        "ar_MA", "ar_OM",    "ar_QA", "ar_SA",      "ar_SD",      "ar_SY",      "ar_TN",   "ar_AE",
        "ar_YE", "ar_GB",    "ar-IQ", "ar_US",      "zh_CN",      "zh_SG",      "zh-Hans", "zh_HK",
        "zh_TW", "zh-Hant",  "zh-HK", "zh-TW",      "nl",         "nl_BE",      "nl_NL",   "nl-NL",
        "en",    "en_AU",    "en_CA", "en_IN",      "en_IE",      "en_MT",      "en_NZ",   "en_PH",
        "en_SG", "en_ZA",    "en_GB", "en_US",      "en_AE",      "en-AE",      "en_AS",   "en-AU",
        "en_BD", "en-CA",    "en_EG", "en_ES",      "en-GB",      "en_HK",      "en_ID",   "en-IN",
        "en_NG", "en-PH",    "en_PK", "en-SG",      "en-US",      "fr",         "fr_BE",   "fr_CA",
        "fr_FR", "fr_LU",    "fr_CH", "fr-CA",      "fr-FR",      "fr_MA",      "de",      "de_AT",
        "de_DE", "de_LU",    "de_CH", "de-DE",      "el",         "el_CY",      "el_GR",   "it",
        "it_IT", "it_CH",    "it-IT", "ja",         "ja_JP",      "ja_JP_JP",   "ja-JP",   "nb",
        "no_NO", "no_NO_NY", "nb_NO", "pt_BR",      "pt-BR",      "pt",         "pt_PT",   "pt-PT",
        "sr_BA", "sr_ME",    "sr_RS", "sr_Latn_BA", "sr_Latn_ME", "sr_Latn_RS", "es",      "es_ES",
        "es-ES", "es-MX",    "es_MX", "es_US",      "es-US",      "es_AR",      "es_BO",   "es_CL",
        "es_CO", "es_CR",    "es_DO", "es_EC",      "es_SV",      "es_GT",      "es_HN",   "es_NI",
        "es_PA", "es_PY",    "es_PE", "es_PR",      "es_UY",      "es_VE",      "es-AR",   "es-CL",
        "es-CO", "th",       "th_TH", "th_TH_TH"};
    return identifiers;
}

// The process's facade, never destroyed: its store, socket and timers may still be reached
// while the program exits.
struct ProcessFacade {
    dispatch::Mutex mutex;
    std::shared_ptr<NEBMessaging> facade GUARDED_BY(mutex);
};

ProcessFacade& processFacade() {
    static auto& process = *new ProcessFacade();
    return process;
}

// What instance identity asks of messaging through the class registry.
class MessagingFacts : public ns::Object, public NEBInstanceIDMessagingFacts {
public:
    std::optional<std::string> NEBMessagingSDKVersion() const override {
        return NEBMessaging::NEBMessagingSDKVersion();
    }
    std::optional<std::string> NEBMessagingSDKCurrentLocale() const override {
        return NEBMessaging::NEBMessagingSDKCurrentLocale();
    }
};

}  // namespace

// ---- Class side ---------------------------------------------------------------------------

void NEBMessaging::load() {
    static std::once_flag once;
    std::call_once(once, [] {
        ns::NotificationCenter::defaultCenter().addObserver(
            kNEBAppReadyToConfigureSDKNotification, NEBApp::classObject(),
            [](const ns::Notification& notification) {
                didReceiveConfigureSDKNotification(notification);
            });
    });
}

void NEBMessaging::didReceiveConfigureSDKNotification(const ns::Notification& notification) {
    auto name = notification.userInfo.find(kNEBAppNameKey);
    if (name == notification.userInfo.end() || !name->second.isString()) return;
    messaging()->configureMessaging(NEBApp::appNamed(*name->second.string()));
}

void NEBMessaging::registerClasses(rt::ClassRegistry& registry) {
    registry.registerClass(
        kNEBMessagingClassName, std::nullopt, [] { return std::make_shared<MessagingFacts>(); },
        {kNEBMessagingSDKVersionOperation, kNEBMessagingSDKCurrentLocaleOperation});
}

std::shared_ptr<NEBMessaging> NEBMessaging::messaging() {
    std::shared_ptr<NEBMessaging> facade;
    {
        auto& process = processFacade();
        dispatch::Lock lock(process.mutex);
        if (!process.facade) {
            process.facade = std::make_shared<NEBMessaging>(NEBApp::services(), [] {
                return NEBMessagingCheckinService::credentialsOf(*NEBInstanceID::instanceID());
            });
        }
        facade = process.facade;
    }
    facade->start();
    return facade;
}

void NEBMessaging::setMessaging(std::shared_ptr<NEBMessaging> messaging) {
    auto& process = processFacade();
    dispatch::Lock lock(process.mutex);
    process.facade = std::move(messaging);
}

NEBMessaging::NEBMessaging(std::shared_ptr<const NEBServices> services,
                           NEBMessagingCheckinService::CachedCheckinPreferences credentials,
                           ReachabilityFactory reachability, NEBMessagingConfig config)
    : services_(std::move(services)),
      credentials_(std::move(credentials)),
      reachabilityFactory_(std::move(reachability)),
      config_(config) {}

void NEBMessaging::start() {
    HYB_EXPECT_MAIN_THREAD();
    std::call_once(started_, [this] { startWithConfig(config_); });
}

NEBMessaging::~NEBMessaging() {
    if (reachability_) reachability_->stop();
    removeNotificationListeners();
    teardown();
}

bool NEBMessaging::isAPNSSyncMessage(const ns::Dictionary& message) {
    auto aps = message.find("aps");
    if (aps == message.end() || !aps->second.isDictionary()) return false;
    // The push service sends the number 1; any true value counts, as the platform reads it.
    const ns::Value* available = aps->second.find("content-available");
    return available && available->boolValue();
}

std::optional<std::string> NEBMessaging::normalizeTopic(const std::string& topic) {
    if (NEBMessagingPubSub::hasTopicsPrefix(topic)) {
        if (NEBMessagingPubSub::isValidTopicWithPrefix(topic)) return topic;
        return std::nullopt;
    }
    std::string prefixed = NEBMessagingPubSub::addPrefixToTopic(topic);
    if (!NEBMessagingPubSub::isValidTopicWithPrefix(prefixed)) return std::nullopt;
    NEBMessagingSharedLogger().logFuncError(
        __func__, "WARNING. Topic name %@ should be prefixed with /topics/ as %@", topic, prefixed);
    return prefixed;
}

ns::Dictionary NEBMessaging::createNEBMessagingMessageWithMessage(
    const ns::Dictionary& message, const std::string& to,
    const std::optional<std::string>& messageID, int64_t timeToLive, int32_t delay) {
    return ns::Dictionary{{"nebula.to", ns::Value(to)},
                          {"nebula.msg_id", ns::Value(messageID.value_or(""))},
                          {"nebula.ttl", ns::Value(timeToLive)},
                          {"nebula.delay", ns::Value(static_cast<int64_t>(delay))},
                          {"nebula.data", ns::Value(message)}};
}

std::string NEBMessaging::NEBMessagingSDKVersion() {
    return std::string("ncm-") + kNEBMessagingLibraryVersion;
}

std::string NEBMessaging::currentLocale() {
    auto best = ns::PreferredLocalizations::fromArray(appManagerLocales(),
                                                      ns::Locale::preferredLanguages());
    return best.empty() ? "en" : best.front();
}

std::vector<std::string> NEBMessaging::appManagerLocales() {
    return localeIdentifiers();
}

std::string NEBMessaging::pathForApplicationSupportSubDirectory(const std::string& name) {
    return ns::Sandbox::applicationSupportDirectory() + "/" + name;
}

bool NEBMessaging::hasApplicationSupportSubDirectory(const std::string& name) {
    bool isDirectory = false;
    return ns::FileManager::defaultManager().fileExists(pathForApplicationSupportSubDirectory(name),
                                                        &isDirectory) &&
           isDirectory;
}

bool NEBMessaging::createApplicationSupportSubDirectory(const std::string& name) {
    std::string path = pathForApplicationSupportSubDirectory(name);
    auto& files = ns::FileManager::defaultManager();
    bool isDirectory = false;
    if (files.fileExists(path, &isDirectory)) {
        if (isDirectory) return true;
        NEBMessagingSharedLogger().logFuncError(__func__, "Found file instead of directory at %@",
                                                path);
        return false;
    }
    if (auto status = files.createDirectory(path, true); !status) {
        NEBMessagingSharedLogger().logFuncError(__func__, "Cannot create directory %@, error: %@",
                                                path, status.error().description());
        return false;
    }
    return true;
}

void NEBMessaging::addDebugEvent(const std::string& event) {
    messaging()->addEvent(event);
}

void NEBMessaging::addEvent(const std::string& event) {
    bool active = client_ && client_->isConnectionActive();
    std::string line =
        ns::format("%lld:%d:%d:%@", static_cast<long long>(NEBMessagingCurrentTimeMillis()),
                   static_cast<int>(networkType()), active ? 1 : 0, event);
    dispatch::Lock lock(eventsMutex_);
    debugEvents_.push_front(std::move(line));
    if (debugEvents_.size() >= kDebugEventsCapacity) debugEvents_.pop_back();
}

void NEBMessaging::dumpEvents(int32_t /*count*/) {
    // Walking the events prints nothing in this build.
}

void NEBMessaging::dumpAllEvents() {
    auto self = messaging();
    dispatch::Lock lock(self->eventsMutex_);
    self->debugEvents_.clear();
}

std::vector<std::string> NEBMessaging::debugEvents() const {
    dispatch::Lock lock(eventsMutex_);
    return {debugEvents_.begin(), debugEvents_.end()};
}

// ---- Configuration and start-up -----------------------------------------------------------

void NEBMessaging::configureMessaging(const std::shared_ptr<NEBApp>& app) {
    HYB_EXPECT_MAIN_THREAD();
    std::optional<std::string> senderID;
    if (app && app->options()) senderID = app->options()->MSGSenderID();
    if (!senderID || senderID->empty()) {
        exitApp(app, NEBApp::errorForSubspecConfigurationFailureWithDomain(
                         kNEBMessagingErrorDomain, kNEBMessagingMissingSenderIDCode,
                         kNEBMessagingServiceName, "Nebula Sender ID must not be nil or empty."));
        return;
    }
    ncmSenderID_ = *senderID;
    if (NEBMessagingAppDelegateProxy::canSwizzleAppDelegate()) {
        NEBMessagingSharedLogger().logFuncError(
            __func__,
            "NEBMessaging AppDelegate proxy enabled, will swizzle app delegate remote "
            "notification receiver handlers. Add \"%@\" to your Info.plist and set it to NO",
            kNEBMessagingAppDelegateProxyEnabledKey);
        NEBMessagingAppDelegateProxy::swizzleOriginalAppDelegate(shared_from_this());
    }
    if (pubsub_) pubsub_->scheduleSync(false);
}

void NEBMessaging::exitApp(const std::shared_ptr<NEBApp>& app,
                           const std::optional<ns::Error>& error) {
    HYB_EXPECT_MAIN_THREAD();
    if (app)
        app->sendLogsWithServiceName(kNEBMessagingServiceName, kNEBMessagingLibraryVersion, error);
    if (error)
        throw ns::Exception(kNEBMessagingErrorDomain, "Could not configure Nebula Messaging.");
}

void NEBMessaging::startWithConfig(const NEBMessagingConfig& config) {
    saveLibraryVersion();
    NEBMessagingSharedLogger().setFilter(
        std::make_shared<NEBMessagingLogLevelFilter>(config.logLevel()));
    receiver_ = std::make_shared<NEBMessagingReceiver>();
    setupReachability();
    createApplicationSupportSubDirectory(kNEBMessagingApplicationSupportSubDirectory);
    setupRmqManager();
    setupClient();
    setupSyncMessageManager();
    setupDataMessageManager();
    std::weak_ptr<NEBMessaging> weak = weak_from_this();
    pubsub_ = NEBMessagingPubSub::create(client_, [weak] {
        auto self = weak.lock();
        return self ? self->defaultNcmToken() : std::string();
    });
    isClientSetup_ = true;
    setupNotificationListeners();
}

void NEBMessaging::saveLibraryVersion() {
    ns::UserDefaults::standardUserDefaults()->setObject(kNEBMessagingVersionDefaultsKey,
                                                        ns::Value(kNEBMessagingLibraryVersion));
    NEBMessagingSharedLogger().logFuncInfo(__func__, "NEBMessaging library version %@",
                                           kNEBMessagingLibraryVersion);
}

void NEBMessaging::setupReachability() {
    if (reachabilityFactory_) {
        reachability_ = reachabilityFactory_();
    } else if (std::floor(ns::FoundationVersion::number()) > 1199) {
        // The messaging server stands for the Internet here: it is the host we need.
        reachability_ =
            NIPReachability::initWithHostName(NEBMessagingServiceHosts::messagingServerHost());
    } else {
        reachability_ = NIPReachability::init();
    }
    if (reachability_) reachability_->startWithCompletionHandler([] {});
}

void NEBMessaging::setupRmqManager() {
    rmq2Manager_ = std::make_shared<NEBMessagingRmqManager>("rmq2", config_.storeBusyTimeout());
    rmq2Manager_->loadRmqId();
}

void NEBMessaging::setupClient() {
    client_ =
        std::make_shared<NEBMessagingClient>(services_, reachability_, rmq2Manager_, credentials_);
}

void NEBMessaging::setupSyncMessageManager() {
    syncMessageManager_ = std::make_shared<NEBMessagingSyncMessageManager>(rmq2Manager_);
    std::weak_ptr<NEBMessaging> weak = weak_from_this();
    dispatch::Queue::main().asyncAfter(
        std::chrono::duration_cast<dispatch::Duration>(
            std::chrono::duration<double>(kSyncMessageSweepDelaySeconds)),
        [weak] {
            auto self = weak.lock();
            if (self && self->syncMessageManager_)
                self->syncMessageManager_->removeExpiredSyncMessages();
        });
}

void NEBMessaging::setupDataMessageManager() {
    dataMessageManager_ = std::make_shared<NEBMessagingDataMessageManager>(
        receiver_, client_, rmq2Manager_, syncMessageManager_);
    dataMessageManager_->refreshDelayedMessages();
    dataMessageManager_->setMessaging(weak_from_this());
    client_->setDataMessageManager(dataMessageManager_);
    std::weak_ptr<NEBMessagingDataMessageManager> manager = dataMessageManager_;
    rmq2Manager_->receivedMessages()->setSink(
        [manager](const mcs::McsDataMessageStanza& stanza, NEBMessagingArrival arrival) {
            if (auto held = manager.lock()) held->didReceiveDataMessageStanza(stanza, arrival);
        });
    scheduleHandOverOfKeptMessages();
}

void NEBMessaging::scheduleHandOverOfKeptMessages() {
    std::weak_ptr<NEBMessaging> weak = weak_from_this();
    dispatch::Queue::main().async([weak] {
        if (auto self = weak.lock()) self->handOverKeptMessages();
    });
}

void NEBMessaging::handOverKeptMessages() {
    if (!rmq2Manager_ || !receiver_ || rmq2Manager_->receivedMessages()->isDelivering()) return;
    // Kept messages wait for a receiver rather than being dropped for want of one.
    if (!receiver_->canDeliver()) return;
    rmq2Manager_->receivedMessages()->startDelivering();
}

void NEBMessaging::didDeliverRemoteMessage(const std::string& messageID) {
    HYB_EXPECT_MAIN_THREAD();
    if (!rmq2Manager_ || messageID.empty()) return;
    rmq2Manager_->receivedMessages()->finish(messageID);
}

void NEBMessaging::setupNotificationListeners() {
    removeNotificationListeners();
    auto& center = ns::NotificationCenter::defaultCenter();
    std::weak_ptr<NEBMessaging> weak = weak_from_this();
    observers_.push_back(center.addObserver(kNIPReachabilityChangedNotification, nullptr,
                                            [weak](const ns::Notification&) {
                                                if (auto self = weak.lock())
                                                    self->networkStatusChanged();
                                            }));
    observers_.push_back(center.addObserver(kNEBInstanceIDTokenNotification, nullptr,
                                            [weak](const ns::Notification& note) {
                                                if (auto self = weak.lock())
                                                    self->didReceiveDefaultNCMToken(note);
                                            }));
    observers_.push_back(center.addObserver(kNEBInstanceIDAPNSTokenNotification, nullptr,
                                            [weak](const ns::Notification& note) {
                                                if (auto self = weak.lock())
                                                    self->didReceiveAPNSToken(note);
                                            }));
}

void NEBMessaging::removeNotificationListeners() {
    auto& center = ns::NotificationCenter::defaultCenter();
    for (auto token : observers_) center.removeObserver(token);
    observers_.clear();
}

void NEBMessaging::teardown() {
    HYB_EXPECT_MAIN_THREAD();
    if (client_) client_->teardown();
    pubsub_.reset();
    syncMessageManager_.reset();
    rmq2Manager_.reset();
    dataMessageManager_.reset();
    client_.reset();
    isClientSetup_ = false;
}

// ---- Fronts -------------------------------------------------------------------------------

void NEBMessaging::setRemoteMessageDelegate(const std::shared_ptr<NEBMessagingDelegate>& delegate) {
    HYB_EXPECT_MAIN_THREAD();
    if (!delegate || !receiver_) return;
    receiver_->setRemoteMessagingDelegate(delegate);
    scheduleHandOverOfKeptMessages();
}

std::shared_ptr<NEBMessagingDelegate> NEBMessaging::remoteMessageDelegate() const {
    return receiver_ ? receiver_->remoteMessagingDelegate() : nullptr;
}

void NEBMessaging::connectWithCompletion(ConnectCompletion completion) {
    HYB_EXPECT_MAIN_THREAD();
    if (!client_) return;
    client_->connectWithHandler(std::move(completion));
}

void NEBMessaging::disconnect() {
    HYB_EXPECT_MAIN_THREAD();
    if (client_ && client_->isConnected()) client_->disconnect();
}

std::string NEBMessaging::defaultNcmToken() const {
    dispatch::Lock lock(tokenMutex_);
    return defaultNcmToken_;
}

void NEBMessaging::subscribeToTopic(const std::string& topic) {
    updateTopic(topic, true);
}

void NEBMessaging::unsubscribeFromTopic(const std::string& topic) {
    updateTopic(topic, false);
}

// The page's plug-in calls these from a background queue; the token, the topic cache and the
// client belong to the main thread, so the work moves there.
void NEBMessaging::updateTopic(const std::string& topic, bool subscribe) {
    if (!dispatch::RunLoop::isMainThread()) {
        std::weak_ptr<NEBMessaging> weak = weak_from_this();
        dispatch::Queue::main().async([weak, topic, subscribe] {
            if (auto self = weak.lock()) self->updateTopic(topic, subscribe);
        });
        return;
    }
    auto& log = NEBMessagingSharedLogger();
    std::string token = defaultNcmToken();
    if (token.empty() || topic.empty()) {
        log.logFuncError(__func__,
                         subscribe ? "Cannot subscribe to topic: %@ with token: %@"
                                   : "Cannot unsubscribe to topic: %@ with token: %@",
                         topic, token);
        return;
    }
    auto normalized = normalizeTopic(topic);
    if (!normalized || normalized->empty()) {
        log.logFuncError(__func__,
                         subscribe ? "Cannot parse topic name %@. Will not subscribe."
                                   : "Cannot parse topic name %@. Will not unsubscribe.",
                         topic);
        return;
    }
    if (!pubsub_) return;
    if (subscribe) {
        pubsub_->addTopic(*normalized);
    } else {
        pubsub_->removeTopic(*normalized);
    }
}

void NEBMessaging::sendMessage(const ns::Dictionary& message, const std::string& to,
                               const std::optional<std::string>& messageID, int64_t timeToLive) {
    HYB_EXPECT_MAIN_THREAD();
    ns::Dictionary upstream =
        createNEBMessagingMessageWithMessage(message, to, messageID, timeToLive, 0);
    NEBMessagingSharedLogger().logFuncInfo(__func__, "Sending message: %@ with id: %@",
                                           ns::Value(message), messageID.value_or(""));
    if (dataMessageManager_) dataMessageManager_->sendDataMessageStanza(upstream);
}

void NEBMessaging::setAPNSToken(const ns::Data& token) {
    HYB_EXPECT_MAIN_THREAD();
    apnsTokenData_ = token;
    NEBMessagingSharedLogger().logFuncInfo(__func__,
                                           "Did fetch APNS token successfully. Fetch MSG token.");
}

bool NEBMessaging::isNetworkAvailable() const {
    return reachability_ && reachability_->isReachable();
}

uint8_t NEBMessaging::networkType() const {
    if (!isNetworkAvailable()) return 0;
    return reachability_->isCellularNetwork() ? 2 : 1;
}

// ---- Notification handlers ------------------------------------------------------------------

void NEBMessaging::networkStatusChanged() {
    HYB_EXPECT_MAIN_THREAD();
    if (!client_ || client_->isConnected() || !isNetworkAvailable()) return;
    client_->retryConnectionImmediately(true);
    if (pubsub_) pubsub_->scheduleSync(true);
}

void NEBMessaging::didReceiveDefaultNCMToken(const ns::Notification& notification) {
    HYB_EXPECT_MAIN_THREAD();
    auto token = std::dynamic_pointer_cast<ns::Box<std::string>>(notification.object);
    if (!token) return;
    dispatch::Lock lock(tokenMutex_);
    defaultNcmToken_ = token->value();
}

void NEBMessaging::didReceiveAPNSToken(const ns::Notification& notification) {
    HYB_EXPECT_MAIN_THREAD();
    if (auto token = std::dynamic_pointer_cast<ns::Box<ns::Data>>(notification.object)) {
        setAPNSToken(token->value());
    }
}

// ---- Receipt of platform notifications ------------------------------------------------------

NEBMessagingMessageInfo NEBMessaging::appDidReceiveMessage(const ns::Dictionary& message) {
    HYB_EXPECT_MAIN_THREAD();
    if (message.empty()) return NEBMessagingMessageInfo{NEBMessagingMessageInfo::kStatusUnknown};
    auto found = message.find(kMessageIDKey);
    std::string messageID = found == message.end() ? "" : found->second.stringValue();
    const auto state = ui::Application::shared().applicationState();
    if (!messageID.empty()) {
        if (rmq2Manager_) rmq2Manager_->saveS2dMessageInBackground(messageID);
        if (isAPNSSyncMessage(message) && syncMessageManager_) {
            // Whether the socket brought it already is in the store: the rest follows its
            // answer.
            std::weak_ptr<NEBMessaging> weak = weak_from_this();
            syncMessageManager_->didReceiveAPNSSyncMessage(
                message, [weak, message, state](bool duplicate) {
                    auto self = weak.lock();
                    if (self && !duplicate) self->handleReceivedMessage(message, state);
                });
            return NEBMessagingMessageInfo{NEBMessagingMessageInfo::kStatusNew};
        }
    }
    handleReceivedMessage(message, state);
    return NEBMessagingMessageInfo{NEBMessagingMessageInfo::kStatusNew};
}

void NEBMessaging::handleReceivedMessage(const ns::Dictionary& message,
                                         ui::ApplicationState state) {
    auto found = message.find(kMessageIDKey);
    std::string messageID = found == message.end() ? "" : found->second.stringValue();
    if (messageID.empty() || loggedMessageIDs_.insert(messageID).second) {
        logAnalyticsForMessage(message, state);
        handleContextManagerMessage(message);
    }
}

void NEBMessaging::logAnalyticsForMessage(const ns::Dictionary& message,
                                          ui::ApplicationState state) {
    switch (state) {
        case ui::ApplicationState::Active:
            NEBMessagingAnalytics::logForegroundNotification(message);
            break;
        case ui::ApplicationState::Inactive:
            NEBMessagingAnalytics::logOpenNotification(message);
            break;
        default:
            NEBMessagingSharedLogger().logFuncError(
                __func__, "NEBMessaging receiving notification in invalid state %d",
                static_cast<int>(ui::ApplicationState::Background));
    }
}

bool NEBMessaging::handleContextManagerMessage(const ns::Dictionary& message) {
    if (!NEBMessagingContextManagerService::isContextManagerMessage(message)) return false;
    return NEBMessagingContextManagerService::handleContextManagerMessage(message);
}
