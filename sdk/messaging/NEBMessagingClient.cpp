#include "sdk/messaging/NEBMessagingClient.h"

#include <algorithm>
#include <cinttypes>

#include "platform/dispatch/QueueContract.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/Format.h"
#include "sdk/messaging/NEBMessagingDataMessageManager.h"
#include "sdk/messaging/NEBMessagingLogger.h"
#include "sdk/messaging/NEBMessagingPubSubRegistrar.h"
#include "sdk/messaging/NEBMessagingRmqManager.h"
#include "sdk/messaging/NEBMessagingServiceHosts.h"
#include "sdk/messaging/NEBMessagingUtilities.h"
#include "sdk/messaging/NSError+NEBMessaging.h"
#include "toolbox/Net/NIPReachability.h"

NEBMessagingClient::NEBMessagingClient(std::shared_ptr<const NEBServices> services,
                                       std::weak_ptr<NIPReachability> reachability,
                                       std::weak_ptr<NEBMessagingRmqManager> rmq2Manager,
                                       NEBMessagingCheckinService::CachedCheckinPreferences checkin)
    : services_(std::move(services)),
      registrar_(std::move(checkin)),
      rmq2Manager_(std::move(rmq2Manager)),
      reachability_(std::move(reachability)) {}

NEBMessagingClient::~NEBMessagingClient() {
    dispatch::RunLoop::main().cancelPerforms(this);
    if (connection_) {
        connection_->setDelegate({});
        connection_->teardown();
    }
}

void NEBMessagingClient::performLater(const char* operation, double seconds,
                                      void (NEBMessagingClient::*method)()) {
    std::weak_ptr<NEBMessagingClient> weak = weak_from_this();
    dispatch::RunLoop::main().performAfter(this, operation, dispatch::seconds(seconds),
                                           [weak, method] {
                                               if (auto self = weak.lock()) ((*self).*method)();
                                           });
}

void NEBMessagingClient::answerHandler(const std::optional<ns::Error>& error) {
    auto handler = std::move(connectHandler_);
    connectHandler_ = nullptr;
    if (handler) handler(error);
}

void NEBMessagingClient::connectWithHandler(ConnectHandler handler) {
    HYB_EXPECT_MAIN_THREAD();
    if (isConnected()) {
        if (handler) handler(errorWithMsgErrorCode(kErrorAlreadyConnected));
        return;
    }
    connectHandler_ = std::move(handler);
    registrar_.tryToLoadValidCheckinInfo();
    connect();
}

void NEBMessagingClient::connect() {
    connectRetryCount_ = 0;
    if (isConnected()) return;
    stayConnected_ = true;
    if (!registrar_.hasValidCheckinInfo()) {
        NEBMessagingSharedLogger().logFuncError(
            __func__, "NEBMessaging registration is not ready with auth credentials");
        if (!registrar_.tryToLoadValidCheckinInfo()) {
            // One answer per request: a later connect that succeeds must not call it again.
            answerHandler(errorWithMsgErrorCode(kErrorMissingCheckin));
            return;
        }
    }
    setupConnectionAndConnect();
}

void NEBMessagingClient::setupConnectionAndConnect() {
    setupConnection();
    tryToConnect();
}

void NEBMessagingClient::setupConnection() {
    if (connection_) {
        connection_->signOut();
        connection_->setDelegate({});
    }
    const auto server = NEBMessagingServiceHosts::messagingServer();
    connection_ = std::make_shared<NEBMessagingConnection>(
        registrar_.deviceAuthID(), registrar_.secretToken(), server.host, server.port,
        dispatch::RunLoop::main(), rmq2Manager_, dataMessageManager_);
    connection_->setDelegate(weak_from_this());
    connection_->setReachability(reachability_);
}

void NEBMessagingClient::disconnectWithTryToConnectLater(bool later) {
    HYB_EXPECT_MAIN_THREAD();
    stayConnected_ = later;
    if (connection_) connection_->signOut();
    dispatch::RunLoop::main().cancelPerforms(this, "tryToConnect");
    dispatch::RunLoop::main().cancelPerforms(this, "didConnectTimeout");
    connectHandler_ = nullptr;
}

void NEBMessagingClient::retryConnectionImmediately(bool immediately) {
    HYB_EXPECT_MAIN_THREAD();
    if (!stayConnected_ || !connection_ || connection_->host().empty() ||
        connection_->port() == 0 || connection_->state() != NEBMessagingConnection::kDisconnected) {
        return;
    }
    if (immediately) {
        tryToConnect();
        return;
    }
    if (didScheduleReconnect_) return;
    didScheduleReconnect_ = true;
    std::weak_ptr<NEBMessagingClient> weak = weak_from_this();
    dispatch::RunLoop::main().performAfter(this, "scheduledReconnect",
                                           dispatch::seconds(kReconnectDelay), [weak] {
                                               if (auto self = weak.lock()) {
                                                   self->didScheduleReconnect_ = false;
                                                   self->tryToConnect();
                                               }
                                           });
}

bool NEBMessagingClient::isConnected() const {
    return stayConnected_ && connection_ &&
           connection_->state() != NEBMessagingConnection::kDisconnected;
}

bool NEBMessagingClient::isConnectionActive() const {
    return stayConnected_ && connection_ &&
           connection_->state() == NEBMessagingConnection::kSignedIn;
}

void NEBMessagingClient::sendMessage(pb::MessageLite& message) {
    HYB_EXPECT_MAIN_THREAD();
    if (connection_) connection_->sendProto(message);
}

void NEBMessagingClient::sendOnConnectOrDrop(std::unique_ptr<pb::MessageLite> message) {
    if (connection_) connection_->sendOnConnectOrDrop(std::move(message));
}

void NEBMessagingClient::teardown() {
    HYB_EXPECT_MAIN_THREAD();
    stayConnected_ = false;
    connectHandler_ = nullptr;
    if (connection_) connection_->teardown();
    dispatch::RunLoop::main().cancelPerforms(this);
    didScheduleReconnect_ = false;
}

void NEBMessagingClient::cancelAllRequests() {
    if (stayConnected_ && connection_ &&
        connection_->state() != NEBMessagingConnection::kDisconnected &&
        connection_->state() != NEBMessagingConnection::kSignedIn) {
        stayConnected_ = false;
        dispatch::RunLoop::main().cancelPerforms(this);
        didScheduleReconnect_ = false;
    }
}

void NEBMessagingClient::updateSubscriptionWithToken(
    const std::string& token, const std::string& topic, const ns::Dictionary& options,
    bool shouldDelete, std::function<void(std::optional<ns::Error>)> handler) {
    HYB_EXPECT_MAIN_THREAD();
    // The outcome is logged before the caller hears it.
    handler = [topic, shouldDelete, handler = std::move(handler)](std::optional<ns::Error> error) {
        if (error) {
            NEBMessagingSharedLogger().logFuncError("updateSubscriptionWithToken",
                                                    "Failed to subscribe to topic %@", topic);
        } else {
            NEBMessagingSharedLogger().logFuncInfo("updateSubscriptionWithToken",
                                                   shouldDelete
                                                       ? "Successfully unsubscribed from topic %@"
                                                       : "Successfully subscribed to topic %@",
                                                   topic);
        }
        handler(std::move(error));
    };
    if (!registrar_.tryToLoadValidCheckinInfo()) {
        handler(errorWithMsgErrorCode(kErrorMissingCheckin));
        return;
    }
    if (!pubsubRegistrar_) {
        // The registrar's requests read the credentials this client holds when they start;
        // the registrar is the client's own, so it does not keep the client alive.
        pubsubRegistrar_ = std::make_unique<NEBMessagingPubSubRegistrar>(
            std::shared_ptr<NEBMessagingCheckinService>(&registrar_.checkinService(),
                                                        [](NEBMessagingCheckinService*) {}),
            services_->requests().topicRegistration);
    }
    pubsubRegistrar_->updateSubscriptionToTopic(
        topic, token, options, shouldDelete,
        [handler = std::move(handler)](std::optional<std::string>, std::optional<ns::Error> error) {
            handler(std::move(error));
        });
}

bool NEBMessagingClient::isClientRegistered() const {
    return !registrar_.deviceAuthID().empty() && !registrar_.secretToken().empty();
}

void NEBMessagingClient::tryToConnect() {
    if (!stayConnected_) return;
    dispatch::RunLoop::main().cancelPerforms(this, "tryToConnect");
    if (!connection_ || connection_->state() != NEBMessagingConnection::kDisconnected) return;
    NEBMessagingSharedLogger().logFuncInfo(__func__, "Signing into MCS");
    connectRetryCount_ = std::min(connectRetryCount_ + 1, kMaxRetryExponent);
    performLater("didConnectTimeout", kConnectionTimeoutInterval,
                 &NEBMessagingClient::didConnectTimeout);
    connection_->signIn();
}

void NEBMessagingClient::didConnectTimeout() {
    if (!stayConnected_) return;
    if (connection_) connection_->signOut();
    scheduleConnectRetry();
}

double NEBMessagingClient::nextRetryInterval() const {
    // A row that counts its attempts leaves the client, which never gives up, to the pace of
    // its two-minute reconnect once they are spent.
    return services_->backoff()
        .messagingConnect.delay(static_cast<int64_t>(connectRetryCount_))
        .value_or(kReconnectDelay);
}

void NEBMessagingClient::scheduleConnectRetry() {
    auto reachability = reachability_.lock();
    if (reachability && reachability->isReachable()) {
        dispatch::RunLoop::main().cancelPerforms(this, "tryToConnect");
        performLater("tryToConnect", nextRetryInterval(), &NEBMessagingClient::tryToConnect);
        return;
    }
    auto handler = std::move(connectHandler_);
    connectHandler_ = nullptr;
    disconnectWithTryToConnectLater(true);
    if (handler) handler(ns::Error(kNoNetworkDomain, kErrorNoNetwork));
}

void NEBMessagingClient::connectionDidCloseForReason(NEBMessagingConnection&, CloseReason reason) {
    if (reason == kSocketClosed)
        dispatch::RunLoop::main().cancelPerforms(this, "didConnectTimeout");
    if (stayConnected_) scheduleConnectRetry();
}

void NEBMessagingClient::didLoginWithConnection(NEBMessagingConnection&) {
    dispatch::RunLoop::main().cancelPerforms(this, "didConnectTimeout");
    connectRetryCount_ = 0;
    if (auto manager = dataMessageManager_.lock()) {
        manager->setDeviceAuthID(registrar_.deviceAuthID(), registrar_.secretToken());
    }
    answerHandler(std::nullopt);
}

void NEBMessagingClient::connectionDidRecieveMessage(const mcs::McsDataMessageStanza& message) {
    if (auto manager = dataMessageManager_.lock()) manager->didReceiveDataMessageStanza(message);
}

void NEBMessagingClient::connectionDidReceiveAckForRmqIds(const std::vector<std::string>& rmqIds,
                                                          std::function<void(int32_t)> done) {
    auto store = rmq2Manager_.lock();
    if (!store) {
        done(0);
        return;
    }
    std::weak_ptr<NEBMessagingDataMessageManager> manager = dataMessageManager_;
    store->takeAcknowledgedMessages(
        rmqIds, [manager, done = std::move(done)](std::vector<mcs::McsDataMessageStanza> sent,
                                                  int removed) {
            if (auto held = manager.lock()) {
                for (const auto& stanza : sent) held->didSendDataMessageStanza(stanza);
            }
            done(removed);
        });
}
