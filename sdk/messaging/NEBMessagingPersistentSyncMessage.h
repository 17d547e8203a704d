#pragma once

#include <cstdint>
#include <string>

// One row of the sync-message table: a message id and through which roads it has arrived.
struct NEBMessagingPersistentSyncMessage {
    std::string rmqID;
    int64_t expirationTime = 0;  // seconds since 1970
    bool apnsReceived = false;
    bool mcsReceived = false;

    // "NEBMessagingPersistentSyncMessage: (rmqID: <id>, apns: 0|1, mcs: 0|1, expiry: <date>",
    // the expiry written as a date.
    std::string description() const;
    std::string debugDescription() const { return description(); }
};
