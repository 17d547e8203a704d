#include "sdk/messaging/NEBMessagingSyncMessageManager.h"

#include <limits>

#include "platform/dispatch/QueueContract.h"
#include "sdk/messaging/NEBMessagingLogger.h"
#include "sdk/messaging/NEBMessagingRmqManager.h"
#include "sdk/messaging/NEBMessagingUtilities.h"

namespace {

constexpr const char* kMessageIDKey = "msg.message_id";
constexpr const char* kTTLKey = "msg.ttl";

// The time to live comes from the sender: an absurd value must not wrap the expiry around.
int64_t saturatingAdd(int64_t a, int64_t b) {
    int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
    }
    return sum;
}

}  // namespace

NEBMessagingSyncMessageManager::NEBMessagingSyncMessageManager(
    std::shared_ptr<NEBMessagingRmqManager> rmqManager)
    : rmqManager_(std::move(rmqManager)) {}

namespace {

std::string messageIDOf(const ns::Dictionary& message) {
    auto found = message.find(kMessageIDKey);
    return found == message.end() ? "" : found->second.stringValue();
}

}  // namespace

void NEBMessagingSyncMessageManager::didReceiveAPNSSyncMessage(const ns::Dictionary& message,
                                                               Answer done) {
    HYB_EXPECT_MAIN_THREAD();
    const std::string rmqID = messageIDOf(message);
    const int64_t expiry = expirationTimeForSyncMessage(message);
    rmqManager_->inBackground<bool>(
        [rmqID, expiry](NEBMessagingRmq2PersistentStore& store) {
            return didReceiveSyncMessage(store, rmqID, expiry, true, false);
        },
        std::move(done));
}

void NEBMessagingSyncMessageManager::didReceiveMCSSyncMessage(const ns::Dictionary& message,
                                                              Copy copy, Answer done) {
    HYB_EXPECT_MAIN_THREAD();
    const std::string rmqID = messageIDOf(message);
    const int64_t expiry = expirationTimeForSyncMessage(message);
    rmqManager_->inBackground<bool>(
        [rmqID, expiry, copy](NEBMessagingRmq2PersistentStore& store) {
            if (copy == Copy::KeptSocketCopy && !rmqID.empty()) {
                auto record = store.querySyncMessageWithRmqID(rmqID);
                if (record && record->mcsReceived && !record->apnsReceived) return false;
            }
            return didReceiveSyncMessage(store, rmqID, expiry, false, true);
        },
        std::move(done));
}

bool NEBMessagingSyncMessageManager::didReceiveSyncMessage(NEBMessagingRmq2PersistentStore& store,
                                                           const std::string& rmqID,
                                                           int64_t expirationTime, bool viaAPNS,
                                                           bool viaMCS) {
    auto& log = NEBMessagingSharedLogger();
    if (rmqID.empty()) {
        log.logFuncError(__func__, "Invalid nil rmqID for sync message.");
        return false;
    }
    auto record = store.querySyncMessageWithRmqID(rmqID);
    if (!record) {
        if (NEBMessagingGetFreeDiskSpaceInMB() < 1) return false;
        if (store.saveSyncMessageWithRmqID(rmqID, expirationTime, viaAPNS, viaMCS, nullptr)) {
            log.logFuncInfo(__func__, "Added sync message to cache: %@", rmqID);
        } else {
            log.logFuncError(__func__, "Failed to save sync message with rmqID %@", rmqID);
        }
        return false;
    }
    if (viaAPNS && !record->apnsReceived) {
        record->apnsReceived = true;
        if (!store.updateSyncMessageViaAPNSWithRmqID(rmqID, nullptr)) {
            log.logFuncError(__func__, "Failed to update APNS state for sync message %@", rmqID);
        }
    } else if (viaMCS && !record->mcsReceived) {
        record->mcsReceived = true;
        if (!store.updateSyncMessageViaMCSWithRmqID(rmqID, nullptr)) {
            log.logFuncError(__func__, "Failed to update MCS state for sync message %@", rmqID);
        }
    }
    if (record->apnsReceived && record->mcsReceived) {
        if (store.deleteSyncMessageWithRmqID(rmqID)) {
            log.logFuncInfo(__func__, "Successfully deleted sync message from cache %@", rmqID);
        } else {
            log.logFuncError(__func__, "Failed to delete sync message %@", rmqID);
        }
    }
    return true;
}

int64_t NEBMessagingSyncMessageManager::expirationTimeForSyncMessage(
    const ns::Dictionary& message) {
    auto ttl = message.find(kTTLKey);
    return saturatingAdd(NEBMessagingTimestampSeconds(),
                         ttl == message.end() ? kDefaultExpirySeconds : ttl->second.integerValue());
}

void NEBMessagingSyncMessageManager::removeExpiredSyncMessages() {
    HYB_EXPECT_MAIN_THREAD();
    rmqManager_->inBackground([](NEBMessagingRmq2PersistentStore& store) {
        std::optional<ns::Error> error;
        int deleted = store.deleteExpiredOrFinishedSyncMessages(&error);
        if (error) {
            NEBMessagingSharedLogger().logFuncError("removeExpiredSyncMessages",
                                                    "Error while deleting expired sync messages %@",
                                                    error->description());
        } else {
            NEBMessagingSharedLogger().logFuncInfo(
                "removeExpiredSyncMessages", "Successfully deleted %d sync messages from store",
                deleted);
        }
    });
}
