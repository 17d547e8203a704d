#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "proto/mcs.pb.h"
#include "sdk/messaging/NEBMessagingRmqScanner.h"

// Holds upstream messages sent with a delay until the earliest deadline among them, then hands
// them all back together. Messages without a time-to-live wait here; those with one are
// already in the store and are only counted, then read back. Main thread only.
class NEBMessagingDelayedMessageQueue {
public:
    using SendDelayedMessagesHandler =
        std::function<void(std::vector<mcs::McsDataMessageStanza> messages)>;
    static constexpr size_t kMaxQueuedMessages = 10;

    NEBMessagingDelayedMessageQueue(std::weak_ptr<NEBMessagingRmqScanner> rmqScanner,
                                    SendDelayedMessagesHandler sendDelayedMessagesHandler);
    ~NEBMessagingDelayedMessageQueue();
    NEBMessagingDelayedMessageQueue(const NEBMessagingDelayedMessageQueue&) = delete;
    NEBMessagingDelayedMessageQueue& operator=(const NEBMessagingDelayedMessageQueue&) = delete;

    bool queueMessage(const mcs::McsDataMessageStanza& message);
    // Takes every waiting message and hands them to `done`: at once when none waits in the
    // store, else once the store has read them back.
    void removeDelayedMessages(SendDelayedMessagesHandler done);
    void sendMessages();
    int messageCount() const;
    bool isTimeoutScheduled() const { return scheduledTimeoutMilliseconds_ > 0; }
    int64_t scheduledTimeoutMilliseconds() const { return scheduledTimeoutMilliseconds_; }
    static int64_t calculateTimeoutInMillisWithDelayInSeconds(int32_t delay);
    void scheduleTimeoutInMillis(int64_t deadline);
    void cancelTimeout();

private:
    std::weak_ptr<NEBMessagingRmqScanner> rmqScanner_;
    SendDelayedMessagesHandler sendDelayedMessagesHandler_;
    std::vector<mcs::McsDataMessageStanza> messages_;
    int32_t persistedMessageCount_ = 0;
    int64_t scheduledTimeoutMilliseconds_ = -1;
    // The highest rmq id a read-back of the store has seen. A stored message is saved after
    // the app sent it, at its turn behind the messages before it, so its time of sending cannot
    // tell whether an earlier read-back had it; its rmq id, given at the save, can.
    std::shared_ptr<int64_t> lastReadRmqId_ = std::make_shared<int64_t>(0);
};
