#include "sdk/messaging/NEBMessagingReceiver.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/QueueContract.h"
#include "platform/ns/FoundationVersion.h"
#include "platform/ns/NotificationQueue.h"
#include "platform/ui/Application.h"
#include "sdk/messaging/NEBMessagingLogger.h"

namespace {

// The outcome of each send is its own news: repeats are only the same notification for the
// same message, so nothing is coalesced (two sends finishing in one turn must both be heard).
void announce(const char* name, ns::Dictionary userInfo) {
    ns::NotificationQueue::defaultQueue().enqueue(
        ns::Notification{name, nullptr, std::move(userInfo)},
        ns::NotificationQueue::PostingStyle::ASAP, ns::NotificationQueue::CoalescingNone);
}

// Notifications carry values only: the error travels as its parts.
ns::Value errorValue(const ns::Error& error) {
    return ns::Value::dict({{"domain", ns::Value(error.domain())},
                            {"code", ns::Value(error.code())},
                            {"userInfo", ns::Value(error.userInfo())}});
}

}  // namespace

NEBMessagingReceiver::NEBMessagingReceiver()
    : newerSystem_(std::floor(ns::FoundationVersion::number()) > kNewerSystemFoundationVersion) {}

bool NEBMessagingReceiver::canDeliver() const {
    if (!newerSystem_) return true;
    auto delegate = remoteMessagingDelegate();
    return delegate && delegate->respondsToApplicationReceivedRemoteMessage();
}

bool NEBMessagingReceiver::didReceiveMessage(ns::Dictionary message,
                                             const std::string& identifier) {
    HYB_EXPECT_MAIN_THREAD();
    if (identifier.empty()) nextMessageID();  // the id only numbers messages in the log
    if (newerSystem_) return scheduleIos10NotificationForMessage(std::move(message), identifier);
    scheduleNotificationForMessage(std::move(message));
    return false;
}

bool NEBMessagingReceiver::scheduleIos10NotificationForMessage(ns::Dictionary message,
                                                               const std::string& identifier) {
    auto delegate = remoteMessagingDelegate();
    if (!delegate || !delegate->respondsToApplicationReceivedRemoteMessage()) return false;
    if (receipt_) receipt_(message);
    delegate->applicationReceivedRemoteMessage(
        NEBMessagingRemoteMessage{std::move(message), identifier});
    return !identifier.empty() && delegate->confirmsDelivery();
}

void NEBMessagingReceiver::scheduleNotificationForMessage(ns::Dictionary message) {
    dispatch::Queue::main().async([message = std::move(message)] {
        auto& application = ui::Application::shared();
        if (application.delegateRespondsTo(ui::DelegateOp::DidReceiveRemoteNotificationWithFetch)) {
            application.deliver<ui::DelegateOp::DidReceiveRemoteNotificationWithFetch>(
                message, ui::FetchCompletionHandler([](ui::BackgroundFetchResult) {}));
        } else if (application.delegateRespondsTo(ui::DelegateOp::DidReceiveRemoteNotification)) {
            application.deliver<ui::DelegateOp::DidReceiveRemoteNotification>(message);
        } else {
            NEBMessagingSharedLogger().logFuncError(
                "scheduleNotificationForMessage",
                "Error none of the remote notification callbacks implemented by "
                "UIApplicationDelegate");
        }
    });
}

void NEBMessagingReceiver::willSendDataMessageWithID(const std::string& messageID,
                                                     const std::optional<ns::Error>& error) {
    HYB_EXPECT_MAIN_THREAD();
    if (!error) return;
    announce(kNEBMessagingSendErrorNotification,
             ns::Dictionary{{kNEBMessagingMessageIDKey, ns::Value(messageID)},
                            {kNEBMessagingErrorKey, errorValue(*error)}});
}

void NEBMessagingReceiver::didSendDataMessageWithID(const std::string& messageID) {
    HYB_EXPECT_MAIN_THREAD();
    announce(kNEBMessagingSendSuccessNotification,
             ns::Dictionary{{kNEBMessagingMessageIDKey, ns::Value(messageID)}});
}

void NEBMessagingReceiver::didDeleteMessagesOnServer() {
    HYB_EXPECT_MAIN_THREAD();
    announce(kNEBMessagingMessagesDeletedNotification, {});
}

std::string NEBMessagingReceiver::nextMessageID() {
    static dispatch::Mutex mutex;
    static int32_t counter = 0;
    dispatch::Lock lock(mutex);
    // Numbers start again at 1 rather than running past the largest 32-bit value.
    counter = counter == std::numeric_limits<int32_t>::max() ? 1 : counter + 1;
    return "msg-" + std::to_string(counter);
}
