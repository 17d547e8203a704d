#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ns/Error.h"
#include "sdk/core/pb.h"
#include "sdk/messaging/NEBMessagingReceivedMessages.h"
#include "sdk/messaging/NEBMessagingRmq2PersistentStore.h"
#include "sdk/messaging/NEBMessagingRmqScanner.h"

namespace dispatch {
class Queue;
}

// The one way into the reliable message queue: hands out rmq ids for upstream messages, keeps
// them until the server acknowledges them, and keeps the received ids still to be
// acknowledged and the received messages until the application has them. The store's disk
// work runs on a serial queue of its own: received messages and what becomes of them are
// written there in the background (receivedMessages()); the operations below that answer wait
// for it. Main thread only.
class NEBMessagingRmqManager : public NEBMessagingRmqScanner {
public:
    static constexpr const char* kQueueLabel = "com.nebula.ncm.rmq-store";

    explicit NEBMessagingRmqManager(const std::string& databaseName,
                                    std::chrono::milliseconds busyTimeout =
                                        NEBMessagingRmq2PersistentStore::kDefaultBusyTimeout);
    // Waits for the store's queue to finish what it was given.
    ~NEBMessagingRmqManager() override;
    NEBMessagingRmqManager(const NEBMessagingRmqManager&) = delete;
    NEBMessagingRmqManager& operator=(const NEBMessagingRmqManager&) = delete;

    void loadRmqId();
    int64_t rmqId() const { return rmqId_; }
    int64_t nextRmqId();

    // Gives a message without a persistent id the next rmq id, then saves it.
    bool saveRmqMessage(pb::MessageLite& message, std::optional<ns::Error>* error = nullptr);
    bool saveMessage(const pb::MessageLite& message, int64_t rmqId, int tag,
                     std::optional<ns::Error>* error = nullptr);
    void saveLastOutgoingRmqId(int64_t rmqId);
    int64_t queryHighestRmqId();
    int64_t querylastRmqId();

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

    bool saveS2dMessageWithRmqId(const std::string& rmqId);
    std::vector<std::string> unackedS2dRmqIds();
    // The server has the acknowledgement of these ids: they are forgotten with the store's
    // next write, in the background.
    void removeS2dIds(const std::vector<std::string>& rmqIds);

    // Received data messages, kept from their arrival until the application has them.
    const std::shared_ptr<NEBMessagingReceivedMessages>& receivedMessages() const {
        return received_;
    }
    // One message kept at once, with the longest time to live, and its id owed an
    // acknowledgement.
    NEBMessagingRmq2PersistentStore::ReceivedMessageSave saveReceivedS2dMessageWithRmqId(
        const std::string& rmqId, std::string_view data);
    std::vector<std::pair<std::string, std::string>> undeliveredS2dMessages();
    void removeUndeliveredS2dMessage(const std::string& rmqId);

    std::optional<NEBMessagingPersistentSyncMessage> querySyncMessageWithRmqID(
        const std::string& rmqID);
    bool deleteSyncMessageWithRmqID(const std::string& rmqID);
    int deleteExpiredOrFinishedSyncMessages(std::optional<ns::Error>* error = nullptr);
    bool saveSyncMessageWithRmqID(const std::string& rmqID, int64_t expirationTime,
                                  bool apnsReceived, bool mcsReceived,
                                  std::optional<ns::Error>* error = nullptr);
    bool updateSyncMessageViaAPNSWithRmqID(const std::string& rmqID,
                                           std::optional<ns::Error>* error = nullptr);
    bool updateSyncMessageViaMCSWithRmqID(const std::string& rmqID,
                                          std::optional<ns::Error>* error = nullptr);

    static void removeDatabaseWithName(const std::string& name) {
        NEBMessagingRmq2PersistentStore::removeDatabase(name);
    }

    NEBMessagingRmq2PersistentStore& store() { return *store_; }

    // The value of an rmq id's decimal text: digits only, positive, within 64 bits.
    static std::optional<int64_t> parseRmqId(const std::string& text);

private:
    void loadInitialOutgoingPersistentId();
    // Runs `work` with the store, after everything given to the store's queue before it.
    template <class Work>
    auto withStore(Work&& work);

    std::shared_ptr<dispatch::Queue> queue_;
    std::unique_ptr<NEBMessagingRmq2PersistentStore> store_;
    std::shared_ptr<NEBMessagingReceivedMessages> received_;
    int64_t rmqId_ = -1;
};
