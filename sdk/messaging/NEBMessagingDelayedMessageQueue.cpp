#include "sdk/messaging/NEBMessagingDelayedMessageQueue.h"

#include <algorithm>

#include "platform/dispatch/QueueContract.h"
#include "platform/dispatch/RunLoop.h"
#include "sdk/messaging/NEBMessagingRmqManager.h"
#include "sdk/messaging/NEBMessagingUtilities.h"

NEBMessagingDelayedMessageQueue::NEBMessagingDelayedMessageQueue(
    std::weak_ptr<NEBMessagingRmqScanner> rmqScanner,
    SendDelayedMessagesHandler sendDelayedMessagesHandler)
    : rmqScanner_(std::move(rmqScanner)),
      sendDelayedMessagesHandler_(std::move(sendDelayedMessagesHandler)) {
    messages_.reserve(kMaxQueuedMessages);
}

NEBMessagingDelayedMessageQueue::~NEBMessagingDelayedMessageQueue() {
    dispatch::RunLoop::main().cancelPerforms(this);
}

bool NEBMessagingDelayedMessageQueue::queueMessage(const mcs::McsDataMessageStanza& message) {
    HYB_EXPECT_MAIN_THREAD();
    // Only the in-memory list is bounded: stored messages are merely counted here.
    if (message.ttl() != 0) {
        persistedMessageCount_ += 1;
    } else {
        if (messages_.size() >= kMaxQueuedMessages) return false;
        messages_.push_back(message);
    }
    int64_t deadline = calculateTimeoutInMillisWithDelayInSeconds(message.max_delay());
    if (!isTimeoutScheduled() || deadline < scheduledTimeoutMilliseconds_) {
        scheduleTimeoutInMillis(deadline);
    }
    return true;
}

void NEBMessagingDelayedMessageQueue::removeDelayedMessages(SendDelayedMessagesHandler done) {
    HYB_EXPECT_MAIN_THREAD();
    cancelTimeout();
    std::vector<mcs::McsDataMessageStanza> result = std::move(messages_);
    messages_.clear();
    messages_.reserve(kMaxQueuedMessages);
    auto scanner = persistedMessageCount_ > 0 ? rmqScanner_.lock() : nullptr;
    persistedMessageCount_ = 0;
    if (!scanner) {
        done(std::move(result));
        return;
    }
    // Read-backs answer in the order they were asked, so each sees what the earlier ones read.
    scanner->readDataMessages(
        [result = std::move(result), lastRead = lastReadRmqId_,
         done = std::move(done)](std::vector<mcs::McsDataMessageStanza> stored) mutable {
            const int64_t handedOut = *lastRead;
            for (auto& stanza : stored) {
                const int64_t rmqId =
                    NEBMessagingRmqManager::parseRmqId(stanza.persistent_id()).value_or(0);
                *lastRead = std::max(*lastRead, rmqId);
                if (stanza.has_max_delay() && rmqId > handedOut)
                    result.push_back(std::move(stanza));
            }
            done(std::move(result));
        });
}

void NEBMessagingDelayedMessageQueue::sendMessages() {
    HYB_EXPECT_MAIN_THREAD();
    removeDelayedMessages(
        [handler = sendDelayedMessagesHandler_](std::vector<mcs::McsDataMessageStanza> messages) {
            if (handler) handler(std::move(messages));
        });
}

int NEBMessagingDelayedMessageQueue::messageCount() const {
    return static_cast<int>(messages_.size()) + persistedMessageCount_;
}

int64_t NEBMessagingDelayedMessageQueue::calculateTimeoutInMillisWithDelayInSeconds(int32_t delay) {
    return static_cast<int64_t>(delay) * 1000 + NEBMessagingCurrentTimeMillis();
}

void NEBMessagingDelayedMessageQueue::scheduleTimeoutInMillis(int64_t deadline) {
    cancelTimeout();
    scheduledTimeoutMilliseconds_ = deadline;
    double delay = static_cast<double>(deadline - NEBMessagingCurrentTimeMillis()) / 1000.0;
    dispatch::RunLoop::main().performAfter(this, "sendMessages", dispatch::seconds(delay),
                                           [this] { sendMessages(); });
}

void NEBMessagingDelayedMessageQueue::cancelTimeout() {
    if (!isTimeoutScheduled()) return;
    dispatch::RunLoop::main().cancelPerforms(this, "sendMessages");
    scheduledTimeoutMilliseconds_ = -1;
}
