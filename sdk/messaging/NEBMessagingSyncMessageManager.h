#pragma once

#include <cstdint>
#include <memory>

#include "platform/ns/Value.h"

class NEBMessagingRmqManager;

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

    // Each answers true when the message has already been seen (by either road).
    bool didReceiveAPNSSyncMessage(const ns::Dictionary& message);
    virtual bool didReceiveMCSSyncMessage(const ns::Dictionary& message,
                                          Copy copy = Copy::SocketCopy);
    bool didReceiveSyncMessage(const ns::Dictionary& message, bool viaAPNS, bool viaMCS);

    // Seconds since 1970 after which the record of the message may go.
    static int64_t expirationTimeForSyncMessage(const ns::Dictionary& message);
    void removeExpiredSyncMessages();

private:
    std::shared_ptr<NEBMessagingRmqManager> rmqManager_;
};
