#include "sdk/messaging/NEBMessagingDataMessageManager.h"

#include <strings.h>

#include <cmath>

#include "platform/dispatch/QueueContract.h"
#include "platform/ns/Format.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ns/Object.h"
#include "platform/ns/UTF16.h"
#include "platform/ns/UTF8.h"
#include "sdk/messaging/NEBMessaging.h"
#include "sdk/messaging/NEBMessagingClient.h"
#include "sdk/messaging/NEBMessagingConnection.h"
#include "sdk/messaging/NEBMessagingLogger.h"
#include "sdk/messaging/NEBMessagingRmqManager.h"
#include "sdk/messaging/NEBMessagingServiceHosts.h"
#include "sdk/messaging/NEBMessagingUtilities.h"
#include "sdk/messaging/NSError+NEBMessaging.h"
#include "toolbox/Net/NIPReachability.h"

namespace {

constexpr const char* kNotificationPrefix = "msg.notification.";

// Text from the network or the app is made well-formed UTF-8 before it goes into a dictionary
// or onto the wire, so that every later writer (JSON to the page included) can take it.
std::string wellFormed(const std::string& text) {
    return ns::isValidUTF8(text) ? text : ns::utf8::repaired(text);
}

// The value as a 64-bit integer, the way the platform reads a number or a numeric string;
// nothing for doubles outside the 64-bit range, which would otherwise wrap into it.
std::optional<int64_t> integerOf(const ns::Value& value) {
    if (value.isDouble()) {
        double d = value.doubleValue();
        if (!(d > -9.2e18 && d < 9.2e18)) return std::nullopt;
        return static_cast<int64_t>(d);
    }
    return value.integerValue();
}

}  // namespace

NEBMessagingDataMessageManager::NEBMessagingDataMessageManager(
    std::weak_ptr<NEBMessagingDataMessageManagerDelegate> delegate,
    std::weak_ptr<NEBMessagingClient> client, std::weak_ptr<NEBMessagingRmqManager> rmq2Manager,
    std::weak_ptr<NEBMessagingSyncMessageManager> syncMessageManager)
    : delegate_(std::move(delegate)),
      client_(std::move(client)),
      rmq2Manager_(std::move(rmq2Manager)),
      syncMessageManager_(std::move(syncMessageManager)) {}

void NEBMessagingDataMessageManager::refreshDelayedMessages() {
    std::weak_ptr<NEBMessagingDataMessageManager> weak = weak_from_this();
    delayedMessagesQueue_ = std::make_unique<NEBMessagingDelayedMessageQueue>(
        rmq2Manager_, [weak](std::vector<mcs::McsDataMessageStanza> messages) {
            auto self = weak.lock();
            if (!self) return;
            self->upstream_.add(
                [weak, messages = std::move(messages)](std::function<void()> done) mutable {
                    if (auto self = weak.lock()) self->sendDelayedMessages(std::move(messages));
                    done();
                });
        });
}

void NEBMessagingDataMessageManager::setDeviceAuthID(std::string deviceAuthID,
                                                     std::string secretToken) {
    deviceAuthID_ = std::move(deviceAuthID);
    secretToken_ = std::move(secretToken);
}

std::optional<ns::Dictionary> NEBMessagingDataMessageManager::processPacket(
    const mcs::McsDataMessageStanza& stanza) {
    HYB_EXPECT_MAIN_THREAD();
    if (stanza.category() == "com.nebula.msg" || stanza.category() == "com.nebula.mcs.service" ||
        stanza.from() == NEBMessagingServiceHosts::serviceSenderAddress()) {
        return std::nullopt;
    }
    if (stanza.from() == NEBMessagingServiceHosts::instanceIDSenderAddress()) {
        ns::Dictionary data;
        for (const auto& pair : stanza.app_data()) {
            data.insert_or_assign(wellFormed(pair.key()), ns::Value(wellFormed(pair.value())));
        }
        ns::NotificationCenter::defaultCenter().post(
            kIIDNotification, std::make_shared<ns::Box<ns::Dictionary>>(std::move(data)));
        return std::nullopt;
    }
    return parseDataMessage(stanza);
}

ns::Dictionary NEBMessagingDataMessageManager::parseDataMessage(
    const mcs::McsDataMessageStanza& stanza) {
    ns::Dictionary message;
    message.reserve(static_cast<size_t>(stanza.app_data_size()) + 4);
    if (!stanza.from().empty()) message.insert_or_assign("from", wellFormed(stanza.from()));
    if (!stanza.raw_data().empty()) {
        message.insert_or_assign("rawData",
                                 ns::Data(stanza.raw_data().data(), stanza.raw_data().size()));
    }
    if (!stanza.token().empty())
        message.insert_or_assign("collapse_key", wellFormed(stanza.token()));
    if (!stanza.persistent_id().empty()) {
        message.insert_or_assign("msg.message_id", wellFormed(stanza.persistent_id()));
    }
    std::optional<ns::Dictionary> notification;
    for (const auto& pair : stanza.app_data()) {
        std::string key = wellFormed(pair.key());
        std::string value = wellFormed(pair.value());
        if (key == "from") continue;
        if (key.starts_with(kNotificationPrefix)) {
            std::string rest = key.substr(std::string_view(kNotificationPrefix).size());
            if (rest.empty()) {
                NEBMessagingSharedLogger().logFuncError(__func__, "Invalid key in MCS message: %@",
                                                        rest);
                continue;
            }
            if (!notification) notification.emplace();
            notification->insert_or_assign(rest, ns::Value(std::move(value)));
        } else if (key == "msg.duplex") {
            message.insert_or_assign(key, ns::Value(ns::Value(value).boolValue()));
        } else if (strncasecmp(key.c_str(), "nebula.", 7) == 0) {
            continue;
        } else {
            message.insert_or_assign(std::move(key), ns::Value(std::move(value)));
        }
    }
    if (notification) message.insert_or_assign("notification", std::move(*notification));
    return message;
}

void NEBMessagingDataMessageManager::didReceiveDataMessageStanza(
    const mcs::McsDataMessageStanza& stanza, Arrival arrival) {
    HYB_EXPECT_MAIN_THREAD();
    auto parsed = processPacket(stanza);
    std::weak_ptr<NEBMessagingDataMessageManager> weak = weak_from_this();
    inbound_.add([weak, parsed = std::move(parsed), id = stanza.persistent_id(),
                  arrival](std::function<void()> next) mutable {
        auto self = weak.lock();
        if (!self) return;
        auto finished = [weak, id, next = std::move(next)](bool awaitsConfirmation) {
            auto self = weak.lock();
            if (!self) return;
            if (!awaitsConfirmation && !id.empty()) {
                if (auto store = self->rmq2Manager_.lock()) store->receivedMessages()->finish(id);
            }
            next();
        };
        if (!parsed || parsed->empty()) {
            finished(false);
            return;
        }
        self->didReceiveParsedMessage(std::move(*parsed), arrival, std::move(finished));
    });
}

void NEBMessagingDataMessageManager::didReceiveParsedMessage(
    ns::Dictionary message, Arrival arrival, std::function<void(bool awaitsConfirmation)> done) {
    auto delegate = delegate_.lock();
    auto type = message.find("message_type");
    if (type != message.end() && type->second.string() && !type->second.string()->empty()) {
        if (*type->second.string() == "deleted_messages") {
            if (delegate) delegate->didDeleteMessagesOnServer();
            if (done) done(false);
            return;
        }
        NEBMessagingSharedLogger().logFuncError(__func__, "Invalid message type received: %@",
                                                *type->second.string());
    } else if (message.contains("msg.duplex")) {
        if (auto sync = syncMessageManager_.lock()) {
            const auto copy = arrival == Arrival::KeptFromEarlierRun
                                  ? NEBMessagingSyncMessageManager::Copy::KeptSocketCopy
                                  : NEBMessagingSyncMessageManager::Copy::SocketCopy;
            std::weak_ptr<NEBMessagingDataMessageManager> weak = weak_from_this();
            // The record of the other road is in the store: the message goes on once it
            // answers.
            ns::Dictionary query = message;
            sync->didReceiveMCSSyncMessage(
                query, copy,
                [weak, message = std::move(message),
                 done = std::move(done)](bool duplicate) mutable {
                    auto self = weak.lock();
                    if (!self) return;
                    bool awaits = !duplicate && self->handOnToDelegate(std::move(message));
                    if (done) done(awaits);
                });
            return;
        }
    }
    bool awaits = handOnToDelegate(std::move(message));
    if (done) done(awaits);
}

bool NEBMessagingDataMessageManager::handOnToDelegate(ns::Dictionary message) {
    auto delegate = delegate_.lock();
    if (!delegate) return false;
    auto id = message.find("msg.message_id");
    std::string identifier = id != message.end() ? id->second.stringValue() : "";
    return delegate->didReceiveMessage(
        filterInternalNEBMessagingKeysFromMessage(std::move(message)), identifier);
}

// The keys sort together, so they go as one run, in place.
ns::Dictionary NEBMessagingDataMessageManager::filterInternalNEBMessagingKeysFromMessage(
    ns::Dictionary message) {
    constexpr std::string_view kInternalPrefix = "msg.";
    auto first = message.lower_bound(kInternalPrefix);
    auto last = first;
    while (last != message.end() && last->first.starts_with(kInternalPrefix)) ++last;
    message.erase(first, last);
    return message;
}

int32_t NEBMessagingDataMessageManager::delayForMessage(ns::Dictionary& message) {
    auto found = message.find("nebula.delay");
    if (found == message.end()) return 0;
    auto delay = integerOf(found->second);
    message.erase("nebula.delay");
    if (!delay || *delay < 1) return 0;
    return static_cast<int32_t>(std::min<int64_t>(*delay, kMaxDelay));
}

int64_t NEBMessagingDataMessageManager::addData(const ns::Dictionary& data,
                                                mcs::McsDataMessageStanza& stanza) {
    int64_t size = 0;
    for (const auto& [key, value] : data) {
        if (value.isString() || value.isNumber()) {
            std::string text = wellFormed(value.stringValue());
            auto* pair = stanza.add_app_data();
            pair->set_key(wellFormed(key));
            pair->set_value(text);
            size += static_cast<int64_t>(ns::utf16Length(key) + ns::utf16Length(text));
        } else if (key == "rawData" && value.isData()) {
            stanza.set_raw_data(std::string(value.data()->chars()));
            size += static_cast<int64_t>(value.data()->length());
        } else {
            NEBMessagingSharedLogger().logFuncError(__func__, "Ignoring key: %@", key);
        }
    }
    return size;
}

void NEBMessagingDataMessageManager::sendDataMessageStanza(ns::Dictionary& message) {
    HYB_EXPECT_MAIN_THREAD();
    const ns::Value* ttlValue =
        message.contains("nebula.ttl") ? &message.at("nebula.ttl") : nullptr;
    const ns::Value* toValue = message.contains("nebula.to") ? &message.at("nebula.to") : nullptr;
    std::optional<std::string> msgId;
    if (message.contains("nebula.msg_id") && message.at("nebula.msg_id").string()) {
        msgId = *message.at("nebula.msg_id").string();
    }
    std::string to = toValue && toValue->string() ? *toValue->string() : "";

    mcs::McsDataMessageStanza stanza;
    // Checked as a 64-bit number: a huge value must not wrap into the accepted range.
    int32_t ttl = 0;
    if (ttlValue) {
        auto value = integerOf(*ttlValue);
        ttl = value && *value >= 0 && *value <= ttl_ ? static_cast<int32_t>(*value) : kMaxTTL;
    }
    stanza.set_ttl(ttl);
    stanza.set_sent(NEBMessagingTimestampSeconds());
    int32_t delay = delayForMessage(message);
    if (delay >= 1) stanza.set_max_delay(delay);
    if (msgId) stanza.set_id(wellFormed(*msgId));
    const ns::Value* data = message.contains("nebula.data") ? &message.at("nebula.data") : nullptr;
    if (data && data->dictionary()) {
        const ns::Value& collapse = (*data)["collapse_key"];
        if (collapse.string() && !collapse.string()->empty()) {
            stanza.set_token(wellFormed(*collapse.string()));
        }
    }
    const std::string id = msgId.value_or("");
    // What the message is, and what is wrong with it, is decided now; it is reported and sent
    // in its turn, behind the messages before it that wait for the store.
    int64_t error = 0;
    if (!secretToken_) {
        error = kErrorMissingCheckin;
    } else if (to.empty()) {
        error = kErrorMissingTo;
    } else {
        stanza.set_to(wellFormed(to));
        stanza.set_category(NEBMessagingBundleIdentifier());
        stanza.set_from("");
        int64_t size = data && data->dictionary() ? addData(*data->dictionary(), stanza) : 0;
        if (size > kMaxAppDataSize) error = kErrorSizeExceeded;
    }
    const bool persistent = msgId.has_value() && ttl != 0;
    std::weak_ptr<NEBMessagingDataMessageManager> weak = weak_from_this();
    upstream_.add([weak, stanza = std::move(stanza), id, error, persistent,
                   delay](std::function<void()> done) mutable {
        auto self = weak.lock();
        if (!self) return;
        if (error) {
            self->willSendDataMessageFail(id, error);
            done();
            return;
        }
        if (!persistent) {
            self->sendUpstream(std::move(stanza), id, false, delay, std::move(done));
            return;
        }
        auto store = self->rmq2Manager_.lock();
        if (!store) {
            self->willSendDataMessageFail(id, kErrorSave);
            done();
            return;
        }
        // Stored before it is sent: the store's answer carries it on.
        store->saveDataMessage(
            std::move(stanza), [weak, id, delay, done = std::move(done)](
                                   std::optional<mcs::McsDataMessageStanza> saved) mutable {
                auto self = weak.lock();
                if (!self) return;
                if (!saved) {
                    self->willSendDataMessageFail(id, kErrorSave);
                    done();
                    return;
                }
                self->willSendDataMessageSuccess(id);
                self->sendUpstream(std::move(*saved), id, true, delay, std::move(done));
            });
    });
}

void NEBMessagingDataMessageManager::sendUpstream(mcs::McsDataMessageStanza stanza,
                                                  const std::string& id, bool persistent,
                                                  int32_t delay, std::function<void()> done) {
    if (delay >= 1 && delayedMessagesQueue_ && delayedMessagesQueue_->queueMessage(stanza)) {
        done();
        return;
    }
    auto send = [weak = weak_from_this(), stanza = std::move(stanza), id, persistent,
                 done = std::move(done)](std::vector<mcs::McsDataMessageStanza> delayed) {
        auto self = weak.lock();
        if (!self) return;
        self->sendDelayedMessages(std::move(delayed));
        if (!self->tryToSendDataMessageStanza(stanza)) {
            if (persistent) {
                if (auto messaging = self->messaging_.lock())
                    messaging->addEvent(ns::format("Queued message: %@", id));
            } else {
                self->willSendDataMessageFail(id, kErrorNoConnection);
            }
        }
        done();
    };
    // The delayed messages go first.
    if (delayedMessagesQueue_) {
        delayedMessagesQueue_->removeDelayedMessages(std::move(send));
    } else {
        send({});
    }
}

void NEBMessagingDataMessageManager::sendDelayedMessages(
    std::vector<mcs::McsDataMessageStanza> messages) {
    for (auto& stanza : messages) {
        stanza.set_actual_delay(
            static_cast<int32_t>(NEBMessagingTimestampSeconds() - stanza.sent()));
        // A delayed message without a time-to-live exists only here: when it cannot go out
        // now, the app hears so, as it would have for the same message sent without delay.
        if (!tryToSendDataMessageStanza(stanza) && stanza.ttl() == 0) {
            willSendDataMessageFail(stanza.id(), kErrorNoConnection);
        }
    }
}

bool NEBMessagingDataMessageManager::tryToSendDataMessageStanza(
    const mcs::McsDataMessageStanza& stanza) {
    auto client = client_.lock();
    if (!client) return false;
    if (client->isConnectionActive()) {
        mcs::McsDataMessageStanza copy = stanza;
        client->sendMessage(copy);
        return true;
    }
    auto reachability = client->reachability();
    if (reachability && reachability->isReachable()) {
        if (stanza.ttl() == 0) {
            client->sendOnConnectOrDrop(std::make_unique<mcs::McsDataMessageStanza>(stanza));
        }
        client->retryConnectionImmediately(true);
        return true;
    }
    return false;
}

void NEBMessagingDataMessageManager::didSendDataMessageStanza(
    const mcs::McsDataMessageStanza& stanza) {
    if (auto delegate = delegate_.lock()) delegate->didSendDataMessageWithID(stanza.id());
}

void NEBMessagingDataMessageManager::resendMessagesWithConnection(
    NEBMessagingConnection& connection) {
    HYB_EXPECT_MAIN_THREAD();
    auto store = rmq2Manager_.lock();
    if (!store) return;
    std::weak_ptr<NEBMessagingDataMessageManager> weak = weak_from_this();
    std::weak_ptr<NEBMessagingConnection> link = connection.weak_from_this();
    store->readOutgoingMessages(
        [weak, link](std::vector<NEBMessagingRmqManager::OutgoingRow> rows) {
            auto self = weak.lock();
            if (self) self->resend(rows, link.lock());
        });
}

void NEBMessagingDataMessageManager::resend(
    const std::vector<NEBMessagingRmqManager::OutgoingRow>& rows,
    const std::shared_ptr<NEBMessagingConnection>& connection) {
    std::vector<std::string> expired;
    for (const auto& row : rows) {
        const pb::MessageLite* prototype = NEBMessagingClassForTag(row.tag);
        if (!prototype) continue;
        std::unique_ptr<pb::MessageLite> message(prototype->New());
        if (!message->ParseFromString(row.data)) continue;
        if (auto* stanza = dynamic_cast<mcs::McsDataMessageStanza*>(message.get());
            stanza && !handleExpirationForDataMessage(*stanza)) {
            expired.push_back(std::to_string(row.rmqId));
            continue;
        }
        // A link that ended meanwhile sends nothing; the next one asks again.
        if (connection) connection->sendProto(*message);
    }
    if (auto store = rmq2Manager_.lock()) store->removeRmqMessagesInBackground(std::move(expired));
}

bool NEBMessagingDataMessageManager::handleExpirationForDataMessage(
    const mcs::McsDataMessageStanza& stanza) {
    if (stanza.ttl() == 0) return false;
    if (NEBMessagingTimestampSeconds() <= stanza.sent() + stanza.ttl()) return true;
    willSendDataMessageFail(stanza.id(), kErrorExpired);
    return false;
}

void NEBMessagingDataMessageManager::willSendDataMessageSuccess(const std::string& messageId) {
    if (auto delegate = delegate_.lock())
        delegate->willSendDataMessageWithID(messageId, std::nullopt);
}

void NEBMessagingDataMessageManager::willSendDataMessageFail(const std::string& messageId,
                                                             int64_t code) {
    if (auto delegate = delegate_.lock()) {
        delegate->willSendDataMessageWithID(messageId, errorWithMsgErrorCode(code));
    }
}
