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
    queue_->async([this] {
        if (rmqId_ < 0) loadInitialOutgoingPersistentId();
    });
}

int64_t NEBMessagingRmqManager::rmqId() {
    return withStore([&] { return rmqId_; });
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
    int64_t loaded = std::max<int64_t>({store_->queryHighestRmqId(), store_->queryLastRmqId(), 0});
    rmqId_ = loaded == INT64_MAX ? loaded : loaded + 1;
}

int64_t NEBMessagingRmqManager::nextRmqId() {
    return withStore([&] { return takeNextRmqId(); });
}

int64_t NEBMessagingRmqManager::takeNextRmqId() {
    if (rmqId_ < 0) loadInitialOutgoingPersistentId();
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
    return withStore([&] { return save(message, error); });
}

void NEBMessagingRmqManager::saveDataMessage(
    mcs::McsDataMessageStanza stanza,
    std::function<void(std::optional<mcs::McsDataMessageStanza>)> done) {
    inBackground<std::optional<mcs::McsDataMessageStanza>>(
        [this, stanza = std::move(stanza)](
            NEBMessagingRmq2PersistentStore&) mutable -> std::optional<mcs::McsDataMessageStanza> {
            if (!save(stanza, nullptr)) return std::nullopt;
            return std::move(stanza);
        },
        std::move(done));
}

bool NEBMessagingRmqManager::save(pb::MessageLite& message, std::optional<ns::Error>* error) {
    auto persistentId = NEBMessagingPersistentIdOfProto(message);
    if (!persistentId || persistentId->empty()) {
        persistentId = std::to_string(takeNextRmqId());
        NEBMessagingSetPersistentIdOfProto(message, *persistentId);
    }
    return store_->saveMessageWithRmqId(ns::Value(*persistentId).integerValue(),
                                        NEBMessagingTagForProto(message),
                                        message.SerializeAsString(), error);
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
    return withStore([&] { return remove(rmqIds); });
}

void NEBMessagingRmqManager::removeRmqMessagesInBackground(std::vector<std::string> rmqIds) {
    if (rmqIds.empty()) return;
    queue_->async([this, rmqIds = std::move(rmqIds)] { remove(rmqIds); });
}

int NEBMessagingRmqManager::remove(const std::vector<std::string>& rmqIds) {
    if (rmqIds.empty()) return 0;
    if (rmqId_ < 0) loadInitialOutgoingPersistentId();
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
    if (largest + 1 >= rmqId_) store_->updateLastOutgoingRmqId(largest + 1);
    return store_->deleteMessagesFromTable(
        NEBMessagingRmq2PersistentStore::kTableOutgoingRmqMessages, valid);
}

void NEBMessagingRmqManager::takeAcknowledgedMessages(
    std::vector<std::string> rmqIds,
    std::function<void(std::vector<mcs::McsDataMessageStanza>, int)> done) {
    using Taken = std::pair<std::vector<mcs::McsDataMessageStanza>, int>;
    inBackground<Taken>(
        [this, rmqIds = std::move(rmqIds)](NEBMessagingRmq2PersistentStore&) {
            Taken taken;
            scanDataMessages(rmqIds, [&](int64_t, const mcs::McsDataMessageStanza& stanza) {
                taken.first.push_back(stanza);
            });
            taken.second = remove(rmqIds);
            return taken;
        },
        [done = std::move(done)](Taken taken) { done(std::move(taken.first), taken.second); });
}

void NEBMessagingRmqManager::scanWithRmqMessageHandler(
    const RmqMessageHandler& rmqMessageHandler, const DataMessageHandler& dataMessageHandler) {
    if (!rmqMessageHandler && !dataMessageHandler) return;
    withStore([&] { scanOutgoing(rmqMessageHandler, dataMessageHandler); });
}

void NEBMessagingRmqManager::scanOutgoing(const RmqMessageHandler& rmqMessageHandler,
                                          const DataMessageHandler& dataMessageHandler) {
    store_->scanOutgoingRmqMessagesWithHandler(
        [&](int64_t rmqId, int8_t tag, const std::string& data) {
            if (rmqMessageHandler) rmqMessageHandler(rmqId, tag, data);
            if (tag == kNEBMessagingProtoTagDataMessageStanza && dataMessageHandler) {
                mcs::McsDataMessageStanza stanza;
                if (stanza.ParseFromString(data)) dataMessageHandler(rmqId, stanza);
            }
        });
}

void NEBMessagingRmqManager::readOutgoingMessages(
    std::function<void(std::vector<OutgoingRow>)> done) {
    inBackground<std::vector<OutgoingRow>>(
        [this](NEBMessagingRmq2PersistentStore&) {
            std::vector<OutgoingRow> rows;
            scanOutgoing(
                [&](int64_t rmqId, int8_t tag, const std::string& data) {
                    rows.push_back({rmqId, tag, data});
                },
                nullptr);
            return rows;
        },
        std::move(done));
}

void NEBMessagingRmqManager::readDataMessages(
    std::function<void(std::vector<mcs::McsDataMessageStanza>)> done) {
    inBackground<std::vector<mcs::McsDataMessageStanza>>(
        [this](NEBMessagingRmq2PersistentStore&) {
            std::vector<mcs::McsDataMessageStanza> stanzas;
            scanOutgoing(nullptr, [&](int64_t, const mcs::McsDataMessageStanza& stanza) {
                stanzas.push_back(stanza);
            });
            return stanzas;
        },
        std::move(done));
}

// Looked up by id rather than by reading every stored message: acknowledgements come often and
// the store can hold many messages.
void NEBMessagingRmqManager::scanDataMessages(const std::vector<std::string>& rmqIds,
                                              const DataMessageHandler& dataMessageHandler) {
    std::vector<int64_t> values;
    for (const auto& id : rmqIds) {
        if (auto value = parseRmqId(id)) values.push_back(*value);
    }
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    store_->scanOutgoingRmqMessagesWithRmqIds(
        values, [&](int64_t rmqId, int8_t tag, const std::string& data) {
            if (tag != kNEBMessagingProtoTagDataMessageStanza) return;
            mcs::McsDataMessageStanza stanza;
            if (stanza.ParseFromString(data)) dataMessageHandler(rmqId, stanza);
        });
}

void NEBMessagingRmqManager::loadUnackedS2dRmqIds(
    std::function<void(std::vector<std::string>)> done) {
    inBackground<std::vector<std::string>>(
        [](NEBMessagingRmq2PersistentStore& store) { return store.unackedS2dRmqIds(); },
        std::move(done));
}

void NEBMessagingRmqManager::inBackground(
    std::function<void(NEBMessagingRmq2PersistentStore&)> work) {
    // The manager waits for its queue before it goes, so the store outlives the work.
    queue_->async([store = store_.get(), work = std::move(work)] { work(*store); });
}

void NEBMessagingRmqManager::saveS2dMessageInBackground(std::string rmqId) {
    inBackground([rmqId = std::move(rmqId)](NEBMessagingRmq2PersistentStore& store) {
        store.saveUnackedS2dMessageWithRmqId(rmqId);
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
