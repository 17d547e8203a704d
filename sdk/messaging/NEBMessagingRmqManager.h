#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/Queue.h"
#include "platform/ns/Error.h"
#include "sdk/core/pb.h"
#include "sdk/messaging/NEBMessagingReceivedMessages.h"
#include "sdk/messaging/NEBMessagingRmq2PersistentStore.h"
#include "sdk/messaging/NEBMessagingRmqScanner.h"

// The one way into the reliable message queue: hands out rmq ids for upstream messages, keeps
// them until the server acknowledges them, and keeps the received ids still to be
// acknowledged and the received messages until the application has them. The store's disk
// work, and the rmq id counter, live on a serial queue of their own: another process may hold
// the file for seconds, and the main thread never waits for it. Work that answers is given to
// the queue with a completion that runs on the main queue, in the order the work was given
// (inBackground and the operations that take a completion). The operations that return their
// answer wait for the queue; they are for start-up and for inspection, not for the main
// thread's roads. Main thread only.
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

    // Reads the counter's start on the store's queue, before anything given to it later.
    void loadRmqId();
    int64_t rmqId();
    int64_t nextRmqId();

    // Runs `work` with the store on its queue, after everything given to it before, and hands
    // its answer to `done` on the main queue.
    template <class Answer>
    void inBackground(std::function<Answer(NEBMessagingRmq2PersistentStore&)> work,
                      std::function<void(Answer)> done);
    // Runs `work` with the store on its queue, after everything given to it before; nothing
    // waits for it.
    void inBackground(std::function<void(NEBMessagingRmq2PersistentStore&)> work);
    // Saves a data message (one without a persistent id gets the next rmq id); `done` gets it
    // as saved, or nothing when the store refused it.
    void saveDataMessage(mcs::McsDataMessageStanza stanza,
                         std::function<void(std::optional<mcs::McsDataMessageStanza>)> done);
    // The server has these own messages: `done` gets the stored data messages among them, in
    // ascending rmq id, and how many rows were removed.
    void takeAcknowledgedMessages(
        std::vector<std::string> rmqIds,
        std::function<void(std::vector<mcs::McsDataMessageStanza> sent, int removed)> done);
    struct OutgoingRow {
        int64_t rmqId = 0;
        int8_t tag = 0;
        std::string data;
    };
    // Every stored outgoing message, in ascending rmq id.
    void readOutgoingMessages(std::function<void(std::vector<OutgoingRow>)> done);
    // Removes acknowledged or dropped outgoing messages, in the background.
    void removeRmqMessagesInBackground(std::vector<std::string> rmqIds);
    // The received ids still owed an acknowledgement, as a login reports them.
    void loadUnackedS2dRmqIds(std::function<void(std::vector<std::string>)> done);
    // Notes a received id owed an acknowledgement, in the background.
    void saveS2dMessageInBackground(std::string rmqId);
    void readDataMessages(
        std::function<void(std::vector<mcs::McsDataMessageStanza>)> done) override;

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

    // The stored outgoing messages, row by row, in ascending rmq id; the handlers run on the
    // calling thread while the store's queue holds still.
    void scanWithRmqMessageHandler(const RmqMessageHandler& rmqMessageHandler,
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
    // On the store's queue.
    void loadInitialOutgoingPersistentId();
    int64_t takeNextRmqId();
    bool save(pb::MessageLite& message, std::optional<ns::Error>* error);
    int remove(const std::vector<std::string>& rmqIds);
    void scanOutgoing(const RmqMessageHandler& rmqMessageHandler,
                      const DataMessageHandler& dataMessageHandler);
    void scanDataMessages(const std::vector<std::string>& rmqIds,
                          const DataMessageHandler& dataMessageHandler);
    // Runs `work` with the store, after everything given to the store's queue before it, and
    // waits for it.
    template <class Work>
    auto withStore(Work&& work);

    std::shared_ptr<dispatch::Queue> queue_;
    std::unique_ptr<NEBMessagingRmq2PersistentStore> store_;
    std::shared_ptr<NEBMessagingReceivedMessages> received_;
    // Used on the store's queue only.
    int64_t rmqId_ = -1;
};

template <class Answer>
void NEBMessagingRmqManager::inBackground(
    std::function<Answer(NEBMessagingRmq2PersistentStore&)> work,
    std::function<void(Answer)> done) {
    // The manager waits for its queue before it goes, so the store outlives the work.
    queue_->async([store = store_.get(), work = std::move(work), done = std::move(done)]() mutable {
        Answer answer = work(*store);
        dispatch::Queue::main().async(
            [answer = std::move(answer), done = std::move(done)]() mutable {
                if (done) done(std::move(answer));
            });
    });
}
