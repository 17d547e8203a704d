#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/ns/Error.h"
#include "sdk/core/NEBServices.h"
#include "sdk/messaging/NEBMessagingConnection.h"
#include "sdk/messaging/NEBMessagingConnectionDelegate.h"
#include "sdk/messaging/NEBMessagingRegistrar.h"

class NEBMessagingDataMessageManager;
class NEBMessagingPubSubRegistrar;
class NEBMessagingRmqManager;
class NIPReachability;

// Owns the messaging connection: connects on request, keeps trying while it is meant to stay
// connected (a time-out per attempt, back-off between attempts while the network is
// reachable, by the services' messaging connect row), reports a connect request's outcome
// once, and relays the connection's news to the data message manager. Topic registration
// requests run within the services' topic registration limits. Main thread only.
class NEBMessagingClient : public NEBMessagingConnectionDelegate,
                           public std::enable_shared_from_this<NEBMessagingClient> {
public:
    using ConnectHandler = std::function<void(const std::optional<ns::Error>& error)>;

    static constexpr double kConnectionTimeoutInterval = 40;
    static constexpr double kReconnectDelay = 120;
    // Attempts counted towards the back-off: the standard row doubles no further.
    static constexpr uint64_t kMaxRetryExponent = NEBBackoffPolicies{}.messagingConnect.maxExponent;
    static constexpr int64_t kErrorAlreadyConnected = 2001;
    static constexpr int64_t kErrorMissingCheckin = 501;
    static constexpr int64_t kErrorNoNetwork = 4;
    static constexpr const char* kNoNetworkDomain =
        "No internet available, cannot connect to NEBMessaging";

    NEBMessagingClient(std::shared_ptr<const NEBServices> services,
                       std::weak_ptr<NIPReachability> reachability,
                       std::weak_ptr<NEBMessagingRmqManager> rmq2Manager,
                       NEBMessagingCheckinService::CachedCheckinPreferences checkin);
    ~NEBMessagingClient() override;

    void setDataMessageManager(std::weak_ptr<NEBMessagingDataMessageManager> manager) {
        dataMessageManager_ = std::move(manager);
    }

    void connectWithHandler(ConnectHandler handler);
    // A topic registration request, once check-in credentials are at hand (error 501 when
    // none can be had). The handler runs on the request's completion queue.
    void updateSubscriptionWithToken(const std::string& token, const std::string& topic,
                                     const ns::Dictionary& options, bool shouldDelete,
                                     std::function<void(std::optional<ns::Error>)> handler);
    void connect();
    void disconnect() { disconnectWithTryToConnectLater(false); }
    void disconnectWithTryToConnectLater(bool later);
    void retryConnectionImmediately(bool immediately);
    bool isConnected() const;
    bool isConnectionActive() const;
    void sendMessage(pb::MessageLite& message);
    void sendOnConnectOrDrop(std::unique_ptr<pb::MessageLite> message);
    void teardown();
    void cancelAllRequests();
    void clearAllHandlers() { connectHandler_ = nullptr; }
    bool isClientRegistered() const;

    bool stayConnected() const { return stayConnected_; }
    bool didScheduleReconnect() const { return didScheduleReconnect_; }
    uint64_t connectRetryCount() const { return connectRetryCount_; }
    std::shared_ptr<NEBMessagingConnection> connection() const { return connection_; }
    NEBMessagingRegistrar& registrar() { return registrar_; }
    std::shared_ptr<NIPReachability> reachability() const { return reachability_.lock(); }

    // The connection's delegate.
    void connectionDidCloseForReason(NEBMessagingConnection& connection,
                                     CloseReason reason) override;
    void didLoginWithConnection(NEBMessagingConnection& connection) override;
    void connectionDidRecieveMessage(const mcs::McsDataMessageStanza& message) override;
    void connectionDidReceiveAckForRmqIds(const std::vector<std::string>& rmqIds,
                                          std::function<void(int32_t)> done) override;

private:
    void setupConnectionAndConnect();
    void setupConnection();
    void tryToConnect();
    void didConnectTimeout();
    void scheduleConnectRetry();
    double nextRetryInterval() const;
    void performLater(const char* operation, double seconds, void (NEBMessagingClient::*method)());
    void answerHandler(const std::optional<ns::Error>& error);

    const std::shared_ptr<const NEBServices> services_;
    bool stayConnected_ = false;
    bool didScheduleReconnect_ = false;
    std::shared_ptr<NEBMessagingConnection> connection_;
    std::weak_ptr<NEBMessagingDataMessageManager> dataMessageManager_;
    NEBMessagingRegistrar registrar_;
    std::weak_ptr<NEBMessagingRmqManager> rmq2Manager_;
    std::weak_ptr<NIPReachability> reachability_;
    uint64_t connectRetryCount_ = 0;
    ConnectHandler connectHandler_;
    std::unique_ptr<NEBMessagingPubSubRegistrar> pubsubRegistrar_;
};
