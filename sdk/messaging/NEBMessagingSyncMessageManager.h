#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/ns/Value.h"

class NEBMessagingRmqManager;
class NEBMessagingRmq2PersistentStore;

// De-duplicates messages that arrive both from the platform's push service and over the
// socket: it remembers, per message id and until an expiry, through which road a message came,
// so that its second arrival is recognised. Main thread only.
class NEBMessagingSyncMessageManager {
public:
    // How long a record is kept when the message names no time to live.
    static constexpr int64_t kDefaultExpirySeconds = 2419200;

    explicit NEBMessagingSyncMessageManager(std::shared_ptr<NEBMessagingRmqManager> rmqManager);
    virtual ~NEBMessagingSyncMessageManager() = default;

    // Which copy of a socket message is being checked: one that has just arrived, or one kept
    // undelivered from an earlier run of the program, whose own first check may already have
    // left a record (socket only) that must not make it a duplicate of itself.
    enum class Copy { SocketCopy, KeptSocketCopy };

    // Each records the road and hands `done`, on the main queue once the store has answered,
    // true when the message has already been seen (by either road).
    using Answer = std::function<void(bool seenBefore)>;
    void didReceiveAPNSSyncMessage(const ns::Dictionary& message, Answer done);
    virtual void didReceiveMCSSyncMessage(const ns::Dictionary& message, Copy copy, Answer done);

    // Seconds since 1970 after which the record of the message may go.
    static int64_t expirationTimeForSyncMessage(const ns::Dictionary& message);
    // In the background, with a log line of the outcome.
    void removeExpiredSyncMessages();

private:
    // On the store's queue.
    static bool didReceiveSyncMessage(NEBMessagingRmq2PersistentStore& store,
                                      const std::string& rmqID, int64_t expirationTime,
                                      bool viaAPNS, bool viaMCS);

    std::shared_ptr<NEBMessagingRmqManager> rmqManager_;
};
