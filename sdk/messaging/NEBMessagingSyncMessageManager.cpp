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

bool NEBMessagingSyncMessageManager::didReceiveAPNSSyncMessage(const ns::Dictionary& message) {
    HYB_EXPECT_MAIN_THREAD();
    return didReceiveSyncMessage(message, true, false);
}

bool NEBMessagingSyncMessageManager::didReceiveMCSSyncMessage(const ns::Dictionary& message,
                                                              Copy copy) {
    HYB_EXPECT_MAIN_THREAD();
    if (copy == Copy::KeptSocketCopy) {
        auto found = message.find(kMessageIDKey);
        std::string rmqID = found == message.end() ? "" : found->second.stringValue();
        auto record = rmqID.empty() ? std::nullopt : rmqManager_->querySyncMessageWithRmqID(rmqID);
        if (record && record->mcsReceived && !record->apnsReceived) return false;
    }
    return didReceiveSyncMessage(message, false, true);
}

bool NEBMessagingSyncMessageManager::didReceiveSyncMessage(const ns::Dictionary& message,
                                                           bool viaAPNS, bool viaMCS) {
    auto& log = NEBMessagingSharedLogger();
    auto found = message.find(kMessageIDKey);
    std::string rmqID = found == message.end() ? "" : found->second.stringValue();
    if (rmqID.empty()) {
        log.logFuncError(__func__, "Invalid nil rmqID for sync message.");
        return false;
    }
    auto record = rmqManager_->querySyncMessageWithRmqID(rmqID);
    if (!record) {
        if (NEBMessagingGetFreeDiskSpaceInMB() < 1) return false;
        if (rmqManager_->saveSyncMessageWithRmqID(rmqID, expirationTimeForSyncMessage(message),
                                                  viaAPNS, viaMCS, nullptr)) {
            log.logFuncInfo(__func__, "Added sync message to cache: %@", rmqID);
        } else {
            log.logFuncError(__func__, "Failed to save sync message with rmqID %@", rmqID);
        }
        return false;
    }
    if (viaAPNS && !record->apnsReceived) {
        record->apnsReceived = true;
        if (!rmqManager_->updateSyncMessageViaAPNSWithRmqID(rmqID, nullptr)) {
            log.logFuncError(__func__, "Failed to update APNS state for sync message %@", rmqID);
        }
    } else if (viaMCS && !record->mcsReceived) {
        record->mcsReceived = true;
        if (!rmqManager_->updateSyncMessageViaMCSWithRmqID(rmqID, nullptr)) {
            log.logFuncError(__func__, "Failed to update MCS state for sync message %@", rmqID);
        }
    }
    if (record->apnsReceived && record->mcsReceived) {
        if (rmqManager_->deleteSyncMessageWithRmqID(rmqID)) {
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
    std::optional<ns::Error> error;
    int deleted = rmqManager_->deleteExpiredOrFinishedSyncMessages(&error);
    if (error) {
        NEBMessagingSharedLogger().logFuncError(
            __func__, "Error while deleting expired sync messages %@", error->description());
    } else {
        NEBMessagingSharedLogger().logFuncInfo(
            __func__, "Successfully deleted %d sync messages from store", deleted);
    }
}
