#include "sdk/messaging/NEBMessagingPersistentSyncMessage.h"

#include "platform/ns/Date.h"
#include "platform/ns/Format.h"

std::string NEBMessagingPersistentSyncMessage::description() const {
    return ns::format(
        "%@: (rmqID: %@, apns: %d, mcs: %d, expiry: %@", "NEBMessagingPersistentSyncMessage", rmqID,
        apnsReceived ? 1 : 0, mcsReceived ? 1 : 0,
        ns::Date::fromTimeIntervalSince1970(static_cast<double>(expirationTime)).description());
}
