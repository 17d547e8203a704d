#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Data.h"
#include "platform/ns/Error.h"
#include "platform/ns/Notification.h"
#include "platform/ns/Result.h"
#include "platform/ns/SharedInstance.h"
#include "platform/ns/Value.h"
#include "sdk/core/NEBServices.h"
#include "sdk/instance_id/NEBInstanceIDCheckinPreferences.h"
#include "sdk/instance_id/NEBInstanceIDConfig.h"

class NEBApp;
class NEBOptions;
class NEBInstanceIDKeyPair;
class NEBInstanceIDKeyPairStore;
class NEBInstanceIDTokenManager;

inline constexpr const char* kNEBInstanceIDTokenNotification = "com.nebula.iid.notif.ncm-token";
inline constexpr const char* kNEBInstanceIDTokenRefreshNotification =
    "com.nebula.iid.notif.refresh-token";
inline constexpr const char* kNEBInstanceIDAPNSTokenNotification =
    "com.nebula.iid.notif.apns-token";
inline constexpr const char* kNEBInstanceIDDefaultTokenFailNotification =
    "com.nebula.iid.notif.ncm-token-fail";
inline constexpr const char* kNEBInstanceIDMessagingCommandNotification =
    "com.nebula.msg/notification/iid";
inline constexpr const char* kNEBInstanceIDServiceName = "InstanceID";
inline constexpr int64_t kNEBInstanceIDConfigurationErrorCode = -121;

// The push-service device token's environment as the app hands it in.
enum class NEBInstanceIDAPNSTokenType : int { Unknown = 0, Sandbox = 1, Prod = 2 };

// The one process-wide door to instance identity: tokens for an entity and scope, their
// deletion, the instance identifier, deletion of the identity, the default push token kept
// alive, and the device check-in credentials that messaging reuses. Results reach callers only
// through handlers, asynchronously, on the main queue. Runs on the main queue, except
// instanceID(), token() and the credential reads, which any thread may call.
class NEBInstanceID : public std::enable_shared_from_this<NEBInstanceID> {
public:
    using TokenHandler = std::function<void(std::optional<std::string>, std::optional<ns::Error>)>;
    using DeleteHandler = std::function<void(std::optional<ns::Error>)>;
    using KeyPairHandler =
        std::function<void(std::shared_ptr<NEBInstanceIDKeyPair>, std::optional<ns::Error>)>;
    using CheckinHandler = std::function<void(
        std::shared_ptr<const NEBInstanceIDCheckinPreferences>, std::optional<ns::Error>)>;

    // The default token's retry rule, from the SDK's standard row: the retries after which a
    // failure is no longer retried, and the steps of the waits before them.
    static constexpr int64_t kMaxRetryCountForDefaultToken =
        *NEBBackoffPolicies{}.defaultToken.capFrom;
    static constexpr auto kMinIntervalForDefaultTokenRetry =
        static_cast<int64_t>(NEBBackoffPolicies{}.defaultToken.linear);
    static constexpr auto kMaxRetryIntervalForDefaultTokenInSeconds =
        static_cast<int64_t>(NEBBackoffPolicies{}.defaultToken.cap);
    static constexpr int kMaxCheckinRefreshWaits = 20;

    // Registers for the core's ready notification (once per process).
    static void load();
    // The shared instance with the default configuration and the SDK's services
    // (NEBApp::services()), made and started on first use. The first use may come from a
    // background queue (the page's getToken): starting touches only files, the keychain and
    // locked state, and a caller on another thread waits for it.
    static std::shared_ptr<NEBInstanceID> instanceID();
    // An instance of its own with the given configuration, on these services, started.
    static std::shared_ptr<NEBInstanceID> create(NEBInstanceIDConfig config,
                                                 std::shared_ptr<const NEBServices> services);
    ~NEBInstanceID();

    static void didReceiveConfigureSDKNotification(const ns::Notification& notification);
    static ns::Error configureErrorWithReason(const std::string& reason);
    // Sends the diagnostic record, then throws "com.nebula.instanceid" when there is an error.
    static void exitApp(const std::shared_ptr<NEBApp>& app, const std::optional<ns::Error>& error);
    static void sendLogsForApp(const std::shared_ptr<NEBApp>& app,
                               const std::optional<ns::Error>& error);

    void configureInstanceIDWithOptions(const NEBOptions& options,
                                        const std::shared_ptr<NEBApp>& app);

    void tokenWithAuthorizedEntity(const std::string& entity, const std::string& scope,
                                   std::optional<ns::Dictionary> options, TokenHandler handler);
    void deleteTokenWithAuthorizedEntity(const std::string& entity, const std::string& scope,
                                         DeleteHandler handler);
    void getIDWithHandler(TokenHandler handler);
    void deleteIDWithHandler(DeleteHandler handler);
    ns::Result<std::string> appInstanceID();

    // Messaging's view of the device credentials: nothing until a check-in is held.
    std::shared_ptr<const NEBInstanceIDCheckinPreferences> cachedCheckinPreferences() const;
    bool hasValidCheckinInfo() const;
    void stopAllRequests();

    // The default token when a valid one is cached; otherwise nothing, and a fetch starts on
    // the main queue.
    std::optional<std::string> token();
    void setAPNSToken(const ns::Data& token, NEBInstanceIDAPNSTokenType type);
    void setAutoFetchedAPNSToken(std::optional<ns::Data> token, std::optional<ns::Error> error);
    bool isSandboxApp();
    bool isProductionApp();
    void didReceiveMSGMessage(const ns::Notification& notification);
    static void notifyTokenRefresh();
    static void notifyIdentityLost();
    int64_t retryIntervalToFetchDefaultToken() const;

    void fetchCheckinInfoWithHandler(CheckinHandler handler);

    // State that tests and the host observe.
    std::string ncmSenderID() const;
    std::optional<std::string> apnsToken() const;
    std::optional<std::string> defaultNCMToken() const;
    int64_t retryCountForDefaultToken() const { return retryCountForDefaultToken_; }
    const std::shared_ptr<NEBInstanceIDTokenManager>& tokenManager() const { return tokenManager_; }
    const std::shared_ptr<NEBInstanceIDKeyPairStore>& keyPairStore() const { return keyPairStore_; }
    const NEBInstanceIDConfig& config() const { return config_; }

private:
    friend class ns::SharedInstance<NEBInstanceID>;
    NEBInstanceID();
    NEBInstanceID(NEBInstanceIDConfig config, std::shared_ptr<const NEBServices> services);
    void startWithConfig();
    void setupNotificationListeners();
    void didCompleteConfigure();
    void scheduleCheckinRefreshWaitWithHandler(CheckinHandler handler, int attempt);
    void asyncLoadKeyPairWithHandler(KeyPairHandler handler);
    ns::Dictionary addInternalOptions(const std::optional<ns::Dictionary>& options) const;
    void fetchDefaultToken();
    void defaultTokenWithHandler(TokenHandler handler);
    void didAutoFetch(bool autoFetched, std::optional<ns::Data> token,
                      NEBInstanceIDAPNSTokenType type);
    void setNormalizedAPNSToken(const ns::Data& token, NEBInstanceIDAPNSTokenType type);
    void handleCommandResetWithDelayInSeconds(double delay);
    void handleCommandResetFullWithDelayInSeconds(double delay);
    void handleTokenRefreshWithDelayInSeconds(double delay);
    void invokeTokenRefreshCallbackWithDelayInSeconds(double delay);
    void logAPNSConfigurationError(const std::string& text);
    bool readIsProductionApp();

    NEBInstanceIDConfig config_;
    const std::shared_ptr<const NEBServices> services_;
    std::once_flag started_;
    std::shared_ptr<NEBInstanceIDTokenManager> tokenManager_;
    std::shared_ptr<NEBInstanceIDKeyPairStore> keyPairStore_;
    uint64_t messageObserver_ = 0;

    // Read from any thread (token()); written on the main queue.
    mutable dispatch::Mutex mutex_;
    std::string ncmSenderID_ GUARDED_BY(mutex_);
    std::string ncmAppID_ GUARDED_BY(mutex_);
    std::optional<ns::Data> apnsTokenData_ GUARDED_BY(mutex_);
    std::optional<std::string> apnsToken_ GUARDED_BY(mutex_);
    bool apnsTokenIsSandbox_ GUARDED_BY(mutex_) = false;
    std::optional<std::string> defaultNCMToken_ GUARDED_BY(mutex_);

    // Main queue only.
    bool isFetchingDefaultToken_ = false;
    bool isDefaultTokenFetchScheduled_ = false;
    int64_t retryCountForDefaultToken_ = 0;

    std::once_flag sandboxOnce_;
    bool isSandbox_ = false;
};
