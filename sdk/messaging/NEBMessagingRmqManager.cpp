#include "sdk/messaging/NEBMessagingRmqManager.h"

#include <algorithm>
#include <charconv>

#include "platform/dispatch/QueueContract.h"
#include "sdk/messaging/NEBMessagingUtilities.h"

NEBMessagingRmqManager::NEBMessagingRmqManager(const std::string& databaseName)
    : store_(std::make_unique<NEBMessagingRmq2PersistentStore>(databaseName)) {}

void NEBMessagingRmqManager::loadRmqId() {
    if (rmqId_ >= 0) return;
    loadInitialOutgoingPersistentId();
}

void NEBMessagingRmqManager::loadInitialOutgoingPersistentId() {
    // The larger of the two: the floor in "lastrmqid" may lie above messages still waiting,
    // and starting below it would hand out ids the server has already seen.
    int64_t highest = store_->queryHighestRmqId();
    int64_t last = store_->queryLastRmqId();
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
    return store_->saveMessageWithRmqId(rmqId, tag, message.SerializeAsString(), error);
}

void NEBMessagingRmqManager::saveLastOutgoingRmqId(int64_t rmqId) {
    store_->updateLastOutgoingRmqId(rmqId);
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
    return store_->deleteMessagesFromTable(
        NEBMessagingRmq2PersistentStore::kTableOutgoingRmqMessages, valid);
}

void NEBMessagingRmqManager::scanWithRmqMessageHandler(
    const RmqMessageHandler& rmqMessageHandler, const DataMessageHandler& dataMessageHandler) {
    HYB_EXPECT_MAIN_THREAD();
    if (!rmqMessageHandler && !dataMessageHandler) return;
    store_->scanOutgoingRmqMessagesWithHandler(
        [&](int64_t rmqId, int8_t tag, const std::string& data) {
            if (rmqMessageHandler) rmqMessageHandler(rmqId, tag, data);
            if (tag == kNEBMessagingProtoTagDataMessageStanza && dataMessageHandler) {
                mcs::McsDataMessageStanza stanza;
                if (stanza.ParseFromString(data)) dataMessageHandler(rmqId, stanza);
            }
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
    store_->scanOutgoingRmqMessagesWithRmqIds(
        values, [&](int64_t rmqId, int8_t tag, const std::string& data) {
            if (tag != kNEBMessagingProtoTagDataMessageStanza) return;
            mcs::McsDataMessageStanza stanza;
            if (stanza.ParseFromString(data)) dataMessageHandler(rmqId, stanza);
        });
}
