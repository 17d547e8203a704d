#include "sdk/messaging/NEBMessagingRmqManager.h"

#include <algorithm>
#include <charconv>

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/QueueContract.h"
#include "sdk/messaging/NEBMessagingUtilities.h"

template <class Work>
auto NEBMessagingRmqManager::withStore(Work&& work) {
    return queue_->sync(std::forward<Work>(work));
}

NEBMessagingRmqManager::NEBMessagingRmqManager(const std::string& databaseName,
                                               std::chrono::milliseconds busyTimeout)
    : queue_(dispatch::Queue::createSerial(kQueueLabel)) {
    int64_t lastKept = withStore([&] {
        store_ = std::make_unique<NEBMessagingRmq2PersistentStore>(databaseName, busyTimeout);
        return store_->lastUndeliveredRowId();
    });
    received_ = std::make_shared<NEBMessagingReceivedMessages>(queue_, store_.get(), lastKept);
    if (lastKept > 0) received_->sweepExpired();
}

NEBMessagingRmqManager::~NEBMessagingRmqManager() {
    withStore([] {});
}

void NEBMessagingRmqManager::loadRmqId() {
    if (rmqId_ >= 0) return;
    loadInitialOutgoingPersistentId();
}

int64_t NEBMessagingRmqManager::queryHighestRmqId() {
    return withStore([&] { return store_->queryHighestRmqId(); });
}

int64_t NEBMessagingRmqManager::querylastRmqId() {
    return withStore([&] { return store_->queryLastRmqId(); });
}

void NEBMessagingRmqManager::loadInitialOutgoingPersistentId() {
    // The larger of the two: the floor in "lastrmqid" may lie above messages still waiting,
    // and starting below it would hand out ids the server has already seen.
    auto [highest, last] =
        withStore([&] { return std::pair(store_->queryHighestRmqId(), store_->queryLastRmqId()); });
    int64_t loaded = std::max<int64_t>({highest, last, 0});
    rmqId_ = loaded == INT64_MAX ? loaded : loaded + 1;
}

int64_t NEBMessagingRmqManager::nextRmqId() {
    if (rmqId_ < INT64_MAX) ++rmqId_;
    return rmqId_;
}

std::optional<int64_t> NEBMessagingRmqManager::parseRmqId(const std::string& text) {
    int64_t value = 0;
    if (text.empty() || text[0] < '0' || text[0] > '9') return std::nullopt;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value <= 0) return std::nullopt;
    return value;
}

bool NEBMessagingRmqManager::saveRmqMessage(pb::MessageLite& message,
                                            std::optional<ns::Error>* error) {
    HYB_EXPECT_MAIN_THREAD();
    auto persistentId = NEBMessagingPersistentIdOfProto(message);
    if (!persistentId || persistentId->empty()) {
        persistentId = std::to_string(nextRmqId());
        NEBMessagingSetPersistentIdOfProto(message, *persistentId);
    }
    return saveMessage(message, ns::Value(*persistentId).integerValue(),
                       NEBMessagingTagForProto(message), error);
}

bool NEBMessagingRmqManager::saveMessage(const pb::MessageLite& message, int64_t rmqId, int tag,
                                         std::optional<ns::Error>* error) {
    std::string data = message.SerializeAsString();
    return withStore([&] { return store_->saveMessageWithRmqId(rmqId, tag, data, error); });
}

void NEBMessagingRmqManager::saveLastOutgoingRmqId(int64_t rmqId) {
    withStore([&] { store_->updateLastOutgoingRmqId(rmqId); });
}

int NEBMessagingRmqManager::removeRmqMessagesWithRmqIds(const std::vector<std::string>& rmqIds) {
    HYB_EXPECT_MAIN_THREAD();
    if (rmqIds.empty()) return 0;
    // Only ids this device handed out may raise the floor: anything else in an acknowledgement
    // (text, or a number above the counter) would make the counter skip or wrap.
    std::vector<std::string> valid;
    int64_t largest = 0;
    for (const auto& id : rmqIds) {
        auto value = parseRmqId(id);
        if (!value || *value > rmqId_) continue;
        valid.push_back(id);
        largest = std::max(largest, *value);
    }
    if (valid.empty()) return 0;
    if (largest + 1 >= rmqId_) saveLastOutgoingRmqId(largest + 1);
    return withStore([&] {
        return store_->deleteMessagesFromTable(
            NEBMessagingRmq2PersistentStore::kTableOutgoingRmqMessages, valid);
    });
}

void NEBMessagingRmqManager::scanWithRmqMessageHandler(
    const RmqMessageHandler& rmqMessageHandler, const DataMessageHandler& dataMessageHandler) {
    HYB_EXPECT_MAIN_THREAD();
    if (!rmqMessageHandler && !dataMessageHandler) return;
    // The handlers run on the calling thread, the store's queue holding still meanwhile.
    withStore([&] {
        store_->scanOutgoingRmqMessagesWithHandler(
            [&](int64_t rmqId, int8_t tag, const std::string& data) {
                if (rmqMessageHandler) rmqMessageHandler(rmqId, tag, data);
                if (tag == kNEBMessagingProtoTagDataMessageStanza && dataMessageHandler) {
                    mcs::McsDataMessageStanza stanza;
                    if (stanza.ParseFromString(data)) dataMessageHandler(rmqId, stanza);
                }
            });
    });
}

void NEBMessagingRmqManager::scanDataMessagesWithRmqIds(
    const std::vector<std::string>& rmqIds, const DataMessageHandler& dataMessageHandler) {
    std::vector<int64_t> values;
    for (const auto& id : rmqIds) {
        if (auto value = parseRmqId(id)) values.push_back(*value);
    }
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    withStore([&] {
        store_->scanOutgoingRmqMessagesWithRmqIds(
            values, [&](int64_t rmqId, int8_t tag, const std::string& data) {
                if (tag != kNEBMessagingProtoTagDataMessageStanza) return;
                mcs::McsDataMessageStanza stanza;
                if (stanza.ParseFromString(data)) dataMessageHandler(rmqId, stanza);
            });
    });
}

bool NEBMessagingRmqManager::saveS2dMessageWithRmqId(const std::string& rmqId) {
    return withStore([&] { return store_->saveUnackedS2dMessageWithRmqId(rmqId); });
}

std::vector<std::string> NEBMessagingRmqManager::unackedS2dRmqIds() {
    return withStore([&] { return store_->unackedS2dRmqIds(); });
}

void NEBMessagingRmqManager::removeS2dIds(const std::vector<std::string>& rmqIds) {
    received_->forgetAcknowledged(rmqIds);
}

NEBMessagingRmq2PersistentStore::ReceivedMessageSave
NEBMessagingRmqManager::saveReceivedS2dMessageWithRmqId(const std::string& rmqId,
                                                        std::string_view data) {
    const int64_t expiry =
        NEBMessagingTimestampSeconds() + NEBMessagingReceivedMessages::kDefaultTimeToLive;
    return withStore([&] { return store_->saveReceivedS2dMessageWithRmqId(rmqId, data, expiry); });
}

std::vector<std::pair<std::string, std::string>> NEBMessagingRmqManager::undeliveredS2dMessages() {
    return withStore([&] { return store_->undeliveredS2dMessages(); });
}

void NEBMessagingRmqManager::removeUndeliveredS2dMessage(const std::string& rmqId) {
    withStore([&] { store_->deleteUndeliveredS2dMessageWithRmqId(rmqId); });
}

std::optional<NEBMessagingPersistentSyncMessage> NEBMessagingRmqManager::querySyncMessageWithRmqID(
    const std::string& rmqID) {
    return withStore([&] { return store_->querySyncMessageWithRmqID(rmqID); });
}

bool NEBMessagingRmqManager::deleteSyncMessageWithRmqID(const std::string& rmqID) {
    return withStore([&] { return store_->deleteSyncMessageWithRmqID(rmqID); });
}

int NEBMessagingRmqManager::deleteExpiredOrFinishedSyncMessages(std::optional<ns::Error>* error) {
    return withStore([&] { return store_->deleteExpiredOrFinishedSyncMessages(error); });
}

bool NEBMessagingRmqManager::saveSyncMessageWithRmqID(const std::string& rmqID,
                                                      int64_t expirationTime, bool apnsReceived,
                                                      bool mcsReceived,
                                                      std::optional<ns::Error>* error) {
    return withStore([&] {
        return store_->saveSyncMessageWithRmqID(rmqID, expirationTime, apnsReceived, mcsReceived,
                                                error);
    });
}

bool NEBMessagingRmqManager::updateSyncMessageViaAPNSWithRmqID(const std::string& rmqID,
                                                               std::optional<ns::Error>* error) {
    return withStore([&] { return store_->updateSyncMessageViaAPNSWithRmqID(rmqID, error); });
}

bool NEBMessagingRmqManager::updateSyncMessageViaMCSWithRmqID(const std::string& rmqID,
                                                              std::optional<ns::Error>* error) {
    return withStore([&] { return store_->updateSyncMessageViaMCSWithRmqID(rmqID, error); });
}
