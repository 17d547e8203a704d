#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ns/Error.h"
#include "sdk/core/pb.h"
#include "sdk/messaging/NEBMessagingRmq2PersistentStore.h"
#include "sdk/messaging/NEBMessagingRmqScanner.h"

// The one way into the reliable message queue: hands out rmq ids for upstream messages, keeps
// them until the server acknowledges them, and keeps the received ids still to be
// acknowledged. Main thread only.
class NEBMessagingRmqManager : public NEBMessagingRmqScanner {
public:
    explicit NEBMessagingRmqManager(const std::string& databaseName);

    void loadRmqId();
    int64_t rmqId() const { return rmqId_; }
    int64_t nextRmqId();

    // Gives a message without a persistent id the next rmq id, then saves it.
    bool saveRmqMessage(pb::MessageLite& message, std::optional<ns::Error>* error = nullptr);
    bool saveMessage(const pb::MessageLite& message, int64_t rmqId, int tag,
                     std::optional<ns::Error>* error = nullptr);
    void saveLastOutgoingRmqId(int64_t rmqId);
    int64_t queryHighestRmqId() { return store_->queryHighestRmqId(); }
    int64_t querylastRmqId() { return store_->queryLastRmqId(); }

    // Removes acknowledged outgoing messages; answers how many rows went.
    int removeRmqMessagesWithRmqIds(const std::vector<std::string>& rmqIds);
    int removeRmqMessagesWithRmqId(const std::string& rmqId) {
        return removeRmqMessagesWithRmqIds({rmqId});
    }

    void scanWithRmqMessageHandler(const RmqMessageHandler& rmqMessageHandler,
                                   const DataMessageHandler& dataMessageHandler) override;

    // The stored data stanzas among the ids (strictly parsed), in ascending rmq id.
    void scanDataMessagesWithRmqIds(const std::vector<std::string>& rmqIds,
                                    const DataMessageHandler& dataMessageHandler);

    bool saveS2dMessageWithRmqId(const std::string& rmqId) {
        return store_->saveUnackedS2dMessageWithRmqId(rmqId);
    }
    std::vector<std::string> unackedS2dRmqIds() { return store_->unackedS2dRmqIds(); }
    // Received data messages, kept from their arrival until the application has them.
    NEBMessagingRmq2PersistentStore::ReceivedMessageSave saveReceivedS2dMessageWithRmqId(
        const std::string& rmqId, std::string_view data) {
        return store_->saveReceivedS2dMessageWithRmqId(rmqId, data);
    }
    std::vector<std::pair<std::string, std::string>> undeliveredS2dMessages() {
        return store_->undeliveredS2dMessages();
    }
    void removeUndeliveredS2dMessage(const std::string& rmqId) {
        store_->deleteUndeliveredS2dMessageWithRmqId(rmqId);
    }
    void removeUndeliveredS2dMessages(const std::vector<std::string>& rmqIds) {
        store_->deleteMessagesFromTable(
            NEBMessagingRmq2PersistentStore::kTableUndeliveredS2dMessages, rmqIds);
    }
    void removeS2dIds(const std::vector<std::string>& rmqIds) {
        store_->deleteMessagesFromTable(NEBMessagingRmq2PersistentStore::kTableS2dRmqIds, rmqIds);
    }

    std::optional<NEBMessagingPersistentSyncMessage> querySyncMessageWithRmqID(
        const std::string& rmqID) {
        return store_->querySyncMessageWithRmqID(rmqID);
    }
    bool deleteSyncMessageWithRmqID(const std::string& rmqID) {
        return store_->deleteSyncMessageWithRmqID(rmqID);
    }
    int deleteExpiredOrFinishedSyncMessages(std::optional<ns::Error>* error = nullptr) {
        return store_->deleteExpiredOrFinishedSyncMessages(error);
    }
    bool saveSyncMessageWithRmqID(const std::string& rmqID, int64_t expirationTime,
                                  bool apnsReceived, bool mcsReceived,
                                  std::optional<ns::Error>* error = nullptr) {
        return store_->saveSyncMessageWithRmqID(rmqID, expirationTime, apnsReceived, mcsReceived,
                                                error);
    }
    bool updateSyncMessageViaAPNSWithRmqID(const std::string& rmqID,
                                           std::optional<ns::Error>* error = nullptr) {
        return store_->updateSyncMessageViaAPNSWithRmqID(rmqID, error);
    }
    bool updateSyncMessageViaMCSWithRmqID(const std::string& rmqID,
                                          std::optional<ns::Error>* error = nullptr) {
        return store_->updateSyncMessageViaMCSWithRmqID(rmqID, error);
    }

    static void removeDatabaseWithName(const std::string& name) {
        NEBMessagingRmq2PersistentStore::removeDatabase(name);
    }

    NEBMessagingRmq2PersistentStore& store() { return *store_; }

    // The value of an rmq id's decimal text: digits only, positive, within 64 bits.
    static std::optional<int64_t> parseRmqId(const std::string& text);

private:
    void loadInitialOutgoingPersistentId();

    std::unique_ptr<NEBMessagingRmq2PersistentStore> store_;
    int64_t rmqId_ = -1;
};
