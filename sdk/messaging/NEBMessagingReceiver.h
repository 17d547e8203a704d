#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ns/Error.h"
#include "platform/ns/Value.h"
#include "sdk/messaging/NEBMessagingDataMessageManagerDelegate.h"
#include "sdk/messaging/NEBMessagingDelegate.h"

inline constexpr const char* kNEBMessagingSendErrorNotification =
    "com.nebula.messaging.notif.send-error";
inline constexpr const char* kNEBMessagingSendSuccessNotification =
    "com.nebula.messaging.notif.send-success";
inline constexpr const char* kNEBMessagingMessagesDeletedNotification =
    "com.nebula.messaging.notif.messages-deleted";
inline constexpr const char* kNEBMessagingMessageIDKey = "messageID";
inline constexpr const char* kNEBMessagingErrorKey = "error";

// Delivers socket messages to the application (newer systems: the remote-message delegate;
// older ones: the application delegate's remote-notification callback) and announces the
// outcome of upstream sends. Which road applies is read from the platform when the receiver is
// made. Main thread only, except nextMessageID.
class NEBMessagingReceiver : public NEBMessagingDataMessageManagerDelegate {
public:
    // The foundation version above which the newer road is taken.
    static constexpr double kNewerSystemFoundationVersion = 1299;
    // Records the receipt of a message the remote-message delegate is about to get.
    using Receipt = std::function<void(const ns::Dictionary& message)>;

    NEBMessagingReceiver();

    std::shared_ptr<NEBMessagingDelegate> remoteMessagingDelegate() const {
        return remoteMessagingDelegate_.lock();
    }
    void setRemoteMessagingDelegate(std::weak_ptr<NEBMessagingDelegate> delegate) {
        remoteMessagingDelegate_ = std::move(delegate);
    }
    // Set when the application-delegate proxy wraps the remote-message delegate.
    void setReceipt(Receipt receipt) { receipt_ = std::move(receipt); }
    bool recordsReceipts() const { return static_cast<bool>(receipt_); }

    // Whether a message handed over now reaches the application: on newer systems only
    // through a remote-message delegate that answers; on older ones through the application
    // delegate.
    bool canDeliver() const;
    bool didReceiveMessage(ns::Dictionary message, const std::string& identifier) override;
    void willSendDataMessageWithID(const std::string& messageID,
                                   const std::optional<ns::Error>& error) override;
    void didSendDataMessageWithID(const std::string& messageID) override;
    void didDeleteMessagesOnServer() override;

    // "msg-N", N counting from 1 for the life of the process. Any thread.
    static std::string nextMessageID();

private:
    bool scheduleIos10NotificationForMessage(ns::Dictionary message, const std::string& identifier);
    static void scheduleNotificationForMessage(ns::Dictionary message);

    const bool newerSystem_;
    std::weak_ptr<NEBMessagingDelegate> remoteMessagingDelegate_;
    Receipt receipt_;
};
