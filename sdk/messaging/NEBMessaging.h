#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Error.h"
#include "platform/ns/Notification.h"
#include "platform/ns/Value.h"
#include "platform/ui/Application.h"
#include "sdk/core/NEBServices.h"
#include "sdk/messaging/NEBMessagingCheckinService.h"
#include "sdk/messaging/NEBMessagingConfig.h"
#include "sdk/messaging/NEBMessagingDelegate.h"
#include "sdk/messaging/NEBMessagingMessageInfo.h"
#include "sdk/messaging/NEBMessagingReceivedMessages.h"

class NEBApp;
class NEBMessagingClient;
class NEBMessagingDataMessageManager;
class NEBMessagingPubSub;
class NEBMessagingReceiver;
class NEBMessagingRmqManager;
class NEBMessagingSyncMessageManager;
class NIPReachability;
namespace rt {
class ClassRegistry;
}

inline constexpr const char* kNEBMessagingLibraryVersion = "1.2.0";
inline constexpr const char* kNEBMessagingVersionDefaultsKey = "NEBMessaging-version";
inline constexpr const char* kNEBMessagingApplicationSupportSubDirectory = "Nebula/NebulaMessaging";
inline constexpr const char* kNEBMessagingErrorDomain = "com.nebula.cloudmessaging";
inline constexpr const char* kNEBMessagingServiceName = "Messaging";
inline constexpr int64_t kNEBMessagingMissingSenderIDCode = -113;
inline constexpr const char* kNEBMessagingAppDelegateProxyEnabledKey =
    "NebulaAppDelegateProxyEnabled";

// The entry to the messaging library. When started it builds the library's objects
// (receiver, reachability, store, client, de-duplication, data messages, topics) in a fixed
// order, on the services it was made with; it configures itself when the SDK core announces
// the default app; and it offers the fronts: connect and disconnect, topics, upstream send,
// the remote-message delegate and the receipt of platform-delivered notifications. Main
// thread, except the topic fronts, which may be called from any thread and do their work on
// the main queue. Held by a shared pointer.
class NEBMessaging : public std::enable_shared_from_this<NEBMessaging> {
public:
    using ConnectCompletion = std::function<void(const std::optional<ns::Error>& error)>;
    using ReachabilityFactory = std::function<std::shared_ptr<NIPReachability>()>;

    static constexpr size_t kDebugEventsCapacity = 200;
    // Delay of the one sweep of expired de-duplication records after start.
    static constexpr double kSyncMessageSweepDelaySeconds = 5;

    // Observes the core's ready notification (once).
    static void load();
    static void didReceiveConfigureSDKNotification(const ns::Notification& notification);
    // Registers the class named "NEBMessaging", through which instance identity asks for the
    // library version and locale without linking to this library.
    static void registerClasses(rt::ClassRegistry& registry);

    // The process's facade, started on first use: the one put in place with setMessaging()
    // (the composition root's), else one on the SDK's services reading the shared instance
    // identity's credentials. The class operations reach it; parts that are handed the facade
    // use that.
    static std::shared_ptr<NEBMessaging> messaging();
    static void setMessaging(std::shared_ptr<NEBMessaging> messaging);

    // A facade on these services, its credentials read through `credentials`, the reachability
    // monitor made by `reachability` (the messaging server's by default). Nothing is made,
    // opened or written before start().
    NEBMessaging(std::shared_ptr<const NEBServices> services,
                 NEBMessagingCheckinService::CachedCheckinPreferences credentials,
                 ReachabilityFactory reachability = {},
                 NEBMessagingConfig config = NEBMessagingConfig::defaultConfig());
    // Builds the library's objects, once. Before, the fronts have nothing to connect,
    // subscribe or send with, and do nothing.
    void start();

    ~NEBMessaging();
    NEBMessaging(const NEBMessaging&) = delete;
    NEBMessaging& operator=(const NEBMessaging&) = delete;

    static bool isAPNSSyncMessage(const ns::Dictionary& message);
    static std::optional<std::string> normalizeTopic(const std::string& topic);
    static ns::Dictionary createNEBMessagingMessageWithMessage(
        const ns::Dictionary& message, const std::string& to,
        const std::optional<std::string>& messageID, int64_t timeToLive, int32_t delay);
    static std::string NEBMessagingSDKVersion();
    static std::string NEBMessagingSDKCurrentLocale() { return currentLocale(); }
    static std::string currentLocale();
    static std::vector<std::string> appManagerLocales();

    static bool hasApplicationSupportSubDirectory(const std::string& name);
    static std::string pathForApplicationSupportSubDirectory(const std::string& name);
    static bool createApplicationSupportSubDirectory(const std::string& name);

    // Debug events of the shared instance, newest first.
    static void addDebugEvent(const std::string& event);
    static void dumpAllEvents();
    static void dumpEvents(int32_t count);
    std::vector<std::string> debugEvents() const;
    void addEvent(const std::string& event);

    void configureMessaging(const std::shared_ptr<NEBApp>& app);
    void exitApp(const std::shared_ptr<NEBApp>& app, const std::optional<ns::Error>& error);
    void teardown();

    // A null delegate leaves the current one in place.
    void setRemoteMessageDelegate(const std::shared_ptr<NEBMessagingDelegate>& delegate);
    std::shared_ptr<NEBMessagingDelegate> remoteMessageDelegate() const;
    // From a remote-message delegate that confirms delivery: the message with this id has
    // reached its destination and is no longer kept. Recorded in the background with the
    // store's next write rather than with a commit each; at most
    // kUnrecordedDeliveriesLimit messages are with the application unrecorded, which a process
    // that dies hands over again at its next start. Main thread.
    void didDeliverRemoteMessage(const std::string& messageID);
    static constexpr size_t kUnrecordedDeliveriesLimit =
        NEBMessagingReceivedMessages::kUnrecordedLimit;

    void connectWithCompletion(ConnectCompletion completion);
    void disconnect();

    void subscribeToTopic(const std::string& topic);
    void unsubscribeFromTopic(const std::string& topic);

    void sendMessage(const ns::Dictionary& message, const std::string& to,
                     const std::optional<std::string>& messageID, int64_t timeToLive);

    // The receipt of a notification that the platform delivered, before the application
    // delegate's own code sees it.
    NEBMessagingMessageInfo appDidReceiveMessage(const ns::Dictionary& message);

    void setAPNSToken(const ns::Data& token);
    bool isNetworkAvailable() const;
    // 0 not reachable, 1 reachable, 2 reachable over a cellular network.
    uint8_t networkType() const;

    bool isClientSetup() const { return isClientSetup_; }
    const std::string& ncmSenderID() const { return ncmSenderID_; }
    const std::optional<ns::Data>& apnsTokenData() const { return apnsTokenData_; }
    std::string defaultNcmToken() const;
    const std::shared_ptr<NEBMessagingClient>& client() const { return client_; }
    const std::shared_ptr<NEBMessagingPubSub>& pubsub() const { return pubsub_; }
    const std::shared_ptr<NEBMessagingRmqManager>& rmq2Manager() const { return rmq2Manager_; }
    const std::shared_ptr<NEBMessagingReceiver>& receiver() const { return receiver_; }
    const std::shared_ptr<NEBMessagingDataMessageManager>& dataMessageManager() const {
        return dataMessageManager_;
    }
    const std::shared_ptr<NEBMessagingSyncMessageManager>& syncMessageManager() const {
        return syncMessageManager_;
    }
    const std::shared_ptr<NIPReachability>& reachability() const { return reachability_; }

    // Notification handlers.
    void networkStatusChanged();
    void didReceiveDefaultNCMToken(const ns::Notification& notification);
    void didReceiveAPNSToken(const ns::Notification& notification);

private:
    void startWithConfig(const NEBMessagingConfig& config);
    void saveLibraryVersion();
    void setupReachability();
    void setupRmqManager();
    void setupClient();
    void setupSyncMessageManager();
    void setupDataMessageManager();
    // Hands the messages kept undelivered by an earlier run to the application, once per
    // process, as soon as something can receive them; on the next turn of the main queue, so
    // that the application has set its delegate up.
    void scheduleHandOverOfKeptMessages();
    void handOverKeptMessages();
    void setupNotificationListeners();
    void removeNotificationListeners();
    // Analytics and context handling of a message the platform delivered, in the application
    // state it came in.
    void handleReceivedMessage(const ns::Dictionary& message, ui::ApplicationState state);
    void logAnalyticsForMessage(const ns::Dictionary& message, ui::ApplicationState state);
    bool handleContextManagerMessage(const ns::Dictionary& message);
    void updateTopic(const std::string& topic, bool subscribe);

    const std::shared_ptr<const NEBServices> services_;
    const NEBMessagingCheckinService::CachedCheckinPreferences credentials_;
    const ReachabilityFactory reachabilityFactory_;
    const NEBMessagingConfig config_;
    std::once_flag started_;

    bool isClientSetup_ = false;
    std::string ncmSenderID_;
    std::optional<ns::Data> apnsTokenData_;
    mutable dispatch::Mutex tokenMutex_;  // the token is also read by the topic fronts' callers
    std::string defaultNcmToken_ GUARDED_BY(tokenMutex_);
    std::shared_ptr<NEBMessagingClient> client_;
    std::shared_ptr<NIPReachability> reachability_;
    std::shared_ptr<NEBMessagingDataMessageManager> dataMessageManager_;
    std::shared_ptr<NEBMessagingPubSub> pubsub_;
    std::shared_ptr<NEBMessagingRmqManager> rmq2Manager_;
    std::shared_ptr<NEBMessagingReceiver> receiver_;
    std::shared_ptr<NEBMessagingSyncMessageManager> syncMessageManager_;
    mutable dispatch::Mutex eventsMutex_;
    std::deque<std::string> debugEvents_ GUARDED_BY(eventsMutex_);
    // Main thread.
    std::set<std::string> loggedMessageIDs_;
    std::vector<uint64_t> observers_;
};
