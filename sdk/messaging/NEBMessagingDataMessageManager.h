#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ns/Value.h"
#include "proto/mcs.pb.h"
#include "sdk/messaging/NEBMessagingDataMessageManagerDelegate.h"
#include "sdk/messaging/NEBMessagingDelayedMessageQueue.h"
#include "sdk/messaging/NEBMessagingInOrder.h"
#include "sdk/messaging/NEBMessagingReceivedMessages.h"
#include "sdk/messaging/NEBMessagingRmqManager.h"
#include "sdk/messaging/NEBMessagingSyncMessageManager.h"

class NEBMessaging;
class NEBMessagingClient;
class NEBMessagingConnection;

// Turns data stanzas into message dictionaries and back: sorts inbound stanzas (service
// messages dropped, instance-identity ones broadcast, the rest delivered once), and checks,
// stores, delays and sends upstream messages, resending stored ones and dropping expired ones.
// Main thread only.
class NEBMessagingDataMessageManager
    : public std::enable_shared_from_this<NEBMessagingDataMessageManager> {
public:
    static constexpr int32_t kMaxTTL = 86400;
    static constexpr int kMaxAppDataSize = 4096;
    static constexpr int32_t kMaxDelay = 3600;
    static constexpr int64_t kErrorMissingCheckin = 501;
    static constexpr int64_t kErrorMissingTo = 1003;
    static constexpr int64_t kErrorSizeExceeded = 1005;
    static constexpr int64_t kErrorSave = 1004;
    static constexpr int64_t kErrorNoConnection = 4;
    static constexpr int64_t kErrorExpired = 1001;
    static constexpr const char* kIIDNotification = "com.nebula.msg/notification/iid";

    NEBMessagingDataMessageManager(
        std::weak_ptr<NEBMessagingDataMessageManagerDelegate> delegate,
        std::weak_ptr<NEBMessagingClient> client, std::weak_ptr<NEBMessagingRmqManager> rmq2Manager,
        std::weak_ptr<NEBMessagingSyncMessageManager> syncMessageManager);

    void refreshDelayedMessages();
    // The facade whose debug events record the messages that wait for a connection ("Queued
    // message: <id>"); a manager without one records nothing.
    void setMessaging(std::weak_ptr<NEBMessaging> messaging) { messaging_ = std::move(messaging); }
    NEBMessagingDelayedMessageQueue* delayedMessagesQueue() { return delayedMessagesQueue_.get(); }
    void setDeviceAuthID(std::string deviceAuthID, std::string secretToken);

    // How an inbound stanza comes: from the socket now, or kept (undelivered) from a run of
    // the program that stopped before the application had it.
    using Arrival = NEBMessagingArrival;

    // Sorts an inbound stanza and hands it on, in the order stanzas came, also when one waits
    // for the store's record of the other road. The store keeps a received message until it
    // is dropped here, handed to a receiver, or, for a receiver that confirms delivery, until
    // that receiver confirms it (NEBMessaging::didDeliverRemoteMessage).
    void didReceiveDataMessageStanza(const mcs::McsDataMessageStanza& stanza,
                                     Arrival arrival = Arrival::Received);
    std::optional<ns::Dictionary> processPacket(const mcs::McsDataMessageStanza& stanza);
    // Hands the message on; `done` hears whether it went to a receiver that will confirm its
    // delivery (at once, or once the store has said whether it came by the other road).
    void didReceiveParsedMessage(ns::Dictionary message, Arrival arrival = Arrival::Received,
                                 std::function<void(bool awaitsConfirmation)> done = {});
    static ns::Dictionary filterInternalNEBMessagingKeysFromMessage(ns::Dictionary message);

    // Checks the message now; reports and sends it in its turn, a persistent one once the
    // store has it.
    void sendDataMessageStanza(ns::Dictionary& message);
    void sendDelayedMessages(std::vector<mcs::McsDataMessageStanza> messages);
    bool tryToSendDataMessageStanza(const mcs::McsDataMessageStanza& stanza);
    void didSendDataMessageStanza(const mcs::McsDataMessageStanza& stanza);
    void resendMessagesWithConnection(NEBMessagingConnection& connection);
    bool handleExpirationForDataMessage(const mcs::McsDataMessageStanza& stanza);
    static int32_t delayForMessage(ns::Dictionary& message);
    // Adds the payload's pairs to the stanza and answers their measure.
    static int64_t addData(const ns::Dictionary& data, mcs::McsDataMessageStanza& stanza);

private:
    ns::Dictionary parseDataMessage(const mcs::McsDataMessageStanza& stanza);
    bool handOnToDelegate(ns::Dictionary message);
    // After the message is stored (when it is persistent): delays it, or sends it behind the
    // delayed messages; then `done`.
    void sendUpstream(mcs::McsDataMessageStanza stanza, const std::string& id, bool persistent,
                      int32_t delay, std::function<void()> done);
    void resend(const std::vector<NEBMessagingRmqManager::OutgoingRow>& rows,
                const std::shared_ptr<NEBMessagingConnection>& connection);
    void willSendDataMessageSuccess(const std::string& messageId);
    void willSendDataMessageFail(const std::string& messageId, int64_t code);

    std::weak_ptr<NEBMessagingDataMessageManagerDelegate> delegate_;
    std::weak_ptr<NEBMessaging> messaging_;
    std::weak_ptr<NEBMessagingClient> client_;
    std::weak_ptr<NEBMessagingRmqManager> rmq2Manager_;
    std::weak_ptr<NEBMessagingSyncMessageManager> syncMessageManager_;
    std::unique_ptr<NEBMessagingDelayedMessageQueue> delayedMessagesQueue_;
    int32_t ttl_ = kMaxTTL;
    std::string deviceAuthID_;
    std::optional<std::string> secretToken_;
    NEBMessagingInOrder inbound_;
    NEBMessagingInOrder upstream_;
};
