#include "sdk/messaging/NEBMessagingConnection.h"

#include <cinttypes>

#include "platform/ns/Format.h"
#include "platform/ns/UTF16.h"
#include "sdk/messaging/NEBMessagingDataMessageManager.h"
#include "sdk/messaging/NEBMessagingLogger.h"
#include "sdk/messaging/NEBMessagingRmqManager.h"
#include "sdk/messaging/NEBMessagingServiceHosts.h"
#include "sdk/messaging/NEBMessagingUtilities.h"
#include "toolbox/Net/NIPReachability.h"

namespace {

constexpr int32_t kSelectiveAckExtension = 12;
constexpr int32_t kStreamAckExtension = 13;
constexpr int32_t kConfirmedCountForStreamAck = 5;

}  // namespace

NEBMessagingConnection::NEBMessagingConnection(
    std::string authId, std::string token, std::string host, uint16_t port,
    dispatch::Scheduler& runLoop, std::weak_ptr<NEBMessagingRmqManager> rmq2Manager,
    std::weak_ptr<NEBMessagingDataMessageManager> dataMessageManager)
    : host_(std::move(host)),
      port_(port),
      rmq2Manager_(std::move(rmq2Manager)),
      dataMessageManager_(std::move(dataMessageManager)),
      authId_(std::move(authId)),
      token_(std::move(token)),
      runLoop_(runLoop) {}

// The ids that earlier links left unconfirmed are read from the store in the background; the
// first login waits for them, so that the server hears of every message the device has.
void NEBMessagingConnection::loadUnackedS2dIds() {
    if (unackedLoad_ != UnackedLoad::NotStarted) return;
    auto store = rmq2Manager_.lock();
    if (!store) {
        unackedLoad_ = UnackedLoad::Done;
        return;
    }
    unackedLoad_ = UnackedLoad::Waiting;
    std::weak_ptr<NEBMessagingConnection> weak = weak_from_this();
    store->loadUnackedS2dRmqIds([weak](std::vector<std::string> ids) {
        if (auto self = weak.lock()) self->didLoadUnackedS2dIds(std::move(ids));
    });
}

void NEBMessagingConnection::didLoadUnackedS2dIds(std::vector<std::string> ids) {
    auto self = shared_from_this();
    // Ids stored since came later: they go behind.
    ids.insert(ids.end(), unackedS2dIds_.begin(), unackedS2dIds_.end());
    unackedS2dIds_ = std::move(ids);
    unackedLoad_ = UnackedLoad::Done;
    if (state_ == kConnected && loginWaiting_) {
        loginWaiting_ = false;
        sendLoginRequest();
    }
}

NEBMessagingConnection::~NEBMessagingConnection() {
    runLoop_.cancelPerforms(this);
    if (socket_) socket_->setDelegate({});
}

std::string NEBMessagingConnection::description() const {
    return ns::format("host: %@, port: %lu, stream id in: %d, stream id out: %d", host_,
                      static_cast<unsigned long>(port_), inStreamId_, outStreamId_);
}

void NEBMessagingConnection::signIn() {
    if (state_ != kDisconnected) return;
    loadUnackedS2dIds();
    socket_ = std::make_shared<NEBMessagingSecureSocket>();
    socket_->setDelegate(weak_from_this());
    state_ = kConnecting;
    socket_->connectToHost(host_, port_, runLoop_);
}

void NEBMessagingConnection::signOut() {
    sendOnConnectMessages_.clear();
    if (state_ == kSignedIn) sendClose();
    if (state_ != kDisconnected) disconnect();
}

void NEBMessagingConnection::teardown() {
    if (state_ != kDisconnected) disconnect();
}

void NEBMessagingConnection::disconnect() {
    runLoop_.cancelPerforms(this, "connectionTimedOut");
    runLoop_.cancelPerforms(this, "sendHeartbeatPing");
    // A read cut short is not acknowledged: the server sends it again.
    batch_ = {};
    batchFirstStreamId_ = 0;
    pendingReads_.clear();
    immediateAckStreamId_ = 0;
    loginWaiting_ = false;
    ++session_;
    if (auto socket = std::move(socket_)) {
        socket->setDelegate({});
        socket->disconnect();
    }
    state_ = kDisconnected;
}

void NEBMessagingConnection::sendProto(pb::MessageLite& proto) {
    int8_t tag = NEBMessagingTagForProto(proto);
    bool allowed =
        tag == kNEBMessagingProtoTagLoginRequest ? state_ == kConnected : state_ == kSignedIn;
    if (!allowed || !socket_) return;
    willSendProto(proto);
    socket_->sendData(proto.SerializeAsString(), tag,
                      NEBMessagingPersistentIdOfProto(proto).value_or(""));
}

void NEBMessagingConnection::sendOnConnectOrDrop(std::unique_ptr<pb::MessageLite> proto) {
    if (state_ == kSignedIn) {
        sendProto(*proto);
    } else {
        sendOnConnectMessages_.push_back(std::move(proto));
    }
}

void NEBMessagingConnection::sendHeartbeatPing() {
    runLoop_.cancelPerforms(this, "sendHeartbeatPing");
    scheduleConnectionTimeoutTask();
    mcs::McsHeartbeatPing ping;
    sendProto(ping);
}

void NEBMessagingConnection::sendHeartbeatAck() {
    mcs::McsHeartbeatAck ack;
    sendProto(ack);
}

void NEBMessagingConnection::sendStreamAck() {
    mcs::McsIqStanza ack = createStreamAck();
    sendProto(ack);
}

void NEBMessagingConnection::sendClose() {
    mcs::McsClose close;
    sendProto(close);
}

mcs::McsIqStanza NEBMessagingConnection::createStreamAck() {
    mcs::McsIqStanza stanza;
    stanza.set_type(mcs::McsIqStanza::IQ_SET);
    stanza.set_id("");
    stanza.mutable_extension()->set_id(kStreamAckExtension);
    stanza.mutable_extension()->set_data("");
    return stanza;
}

mcs::McsLoginRequest NEBMessagingConnection::loginRequestWithToken(
    const std::string& token, const std::string& authId, int32_t networkType,
    const std::vector<std::string>& received) {
    mcs::McsLoginRequest request;
    request.set_account_id(1000000);
    request.set_auth_service(mcs::McsLoginRequest::AUTH_SERVICE_DEVICE);
    request.set_auth_token(token);
    request.set_id(ns::format("%@-%@", "ios", NEBMessagingLibraryVersion()));
    request.set_domain(NEBMessagingServiceHosts::loginDomain());
    request.set_device_id(ns::format(
        "mobile-%llx", static_cast<unsigned long long>(ns::Value(authId).integerValue())));
    request.set_network_type(networkType);
    request.set_resource(authId);
    request.set_user(authId);
    request.set_use_rmq2(true);
    request.set_last_rmq_id(1);
    for (const auto& id : received) request.add_received_persistent_id(id);
    auto* setting = request.add_setting();
    setting->set_name("new_vc");
    setting->set_value("1");
    return request;
}

int32_t NEBMessagingConnection::currentNetworkType() const {
    auto reachability = reachability_.lock();
    if (!reachability) return 1;
    if (!reachability->isReachable()) return -1;
    return reachability->isCellularNetwork() ? 0 : 1;
}

void NEBMessagingConnection::secureSocketDidConnect(NEBMessagingSecureSocket&) {
    auto self = shared_from_this();
    state_ = kConnected;
    chain_ = std::make_shared<std::atomic<bool>>(false);
    lastStreamIdAcked_ = 0;
    inStreamId_ = 0;
    outStreamId_ = 0;
    resetUnconfirmedAcks();
    if (unackedLoad_ != UnackedLoad::Done) {
        loginWaiting_ = true;
        return;
    }
    sendLoginRequest();
}

void NEBMessagingConnection::resetUnconfirmedAcks() {
    for (auto& [streamId, ids] : ackedS2dMap_) {
        unackedS2dIds_.insert(unackedS2dIds_.end(), ids.begin(), ids.end());
    }
    ackedS2dMap_.clear();
}

void NEBMessagingConnection::sendLoginRequest() {
    mcs::McsLoginRequest request =
        loginRequestWithToken(token_, authId_, currentNetworkType(), unackedS2dIds_);
    d2sInfos_.clear();
    sendProto(request);
}

void NEBMessagingConnection::didDisconnectWithSecureSocket(NEBMessagingSecureSocket&) {
    closeAndReport(NEBMessagingConnectionDelegate::kSocketClosed);
}

void NEBMessagingConnection::closeAndReport(NEBMessagingConnectionDelegate::CloseReason reason) {
    auto self = shared_from_this();
    disconnect();
    if (auto d = delegate()) d->connectionDidCloseForReason(*this, reason);
}

void NEBMessagingConnection::secureSocketDidSendProtoWithTag(NEBMessagingSecureSocket&, int8_t,
                                                             const std::string&) {}

void NEBMessagingConnection::scheduleConnectionTimeoutTask() {
    runLoop_.cancelPerforms(this, "connectionTimedOut");
    std::weak_ptr<NEBMessagingConnection> weak = weak_from_this();
    runLoop_.performAfter(this, "connectionTimedOut", dispatch::seconds(kConnectionTimeoutInterval),
                          [weak] {
                              if (auto self = weak.lock()) self->connectionTimedOut();
                          });
}

void NEBMessagingConnection::scheduleHeartbeatPing() {
    // One pending ping at a time, however many frames arrive.
    runLoop_.cancelPerforms(this, "sendHeartbeatPing");
    std::weak_ptr<NEBMessagingConnection> weak = weak_from_this();
    runLoop_.performAfter(this, "sendHeartbeatPing", dispatch::seconds(kHeartbeatInterval), [weak] {
        if (auto self = weak.lock()) self->sendHeartbeatPing();
    });
}

void NEBMessagingConnection::connectionTimedOut() {
    closeAndReport(NEBMessagingConnectionDelegate::kTimeout);
}

void NEBMessagingConnection::secureSocketDidReceiveData(NEBMessagingSecureSocket&,
                                                        std::string_view data, int8_t tag) {
    auto self = shared_from_this();
    const pb::MessageLite* prototype = NEBMessagingClassForTag(tag);
    if (!prototype) {
        NEBMessagingSharedLogger().logFuncError(__func__, "Invalid tag %d for proto",
                                                static_cast<int>(tag));
        return;
    }
    const pb::MessageLite* proto = parseProto(tag, data);
    if (!proto) {
        // The stream can no longer be trusted to be in step with the server.
        NEBMessagingSharedLogger().logFuncError(__func__, "Unparsable payload for tag %d",
                                                static_cast<int>(tag));
        closeAndReport(NEBMessagingConnectionDelegate::kSocketClosed);
        return;
    }
    bool accepted =
        tag == kNEBMessagingProtoTagLoginResponse ? state_ == kConnected : state_ == kSignedIn;
    if (!accepted) return;
    runLoop_.cancelPerforms(this, "connectionTimedOut");
    scheduleHeartbeatPing();
    const bool throughStore = willProcessProto(*proto, tag, data);
    if (state_ == kDisconnected) return;
    switch (tag) {
        case kNEBMessagingProtoTagHeartbeatPing:
            sendHeartbeatAck();
            break;
        case kNEBMessagingProtoTagLoginResponse:
            didReceiveLoginResponse(static_cast<const mcs::McsLoginResponse&>(*proto));
            break;
        case kNEBMessagingProtoTagClose:
            // Reported as a closed socket so that the client tries again with back-off: a server
            // that closes the link has not taken the device's wish to stay connected away.
            closeAndReport(NEBMessagingConnectionDelegate::kSocketClosed);
            break;
        case kNEBMessagingProtoTagIqStanza:
            handleIqStanza(static_cast<const mcs::McsIqStanza&>(*proto));
            break;
        case kNEBMessagingProtoTagDataMessageStanza:
            if (auto d = delegate(); d && !throughStore) {
                d->connectionDidRecieveMessage(
                    static_cast<const mcs::McsDataMessageStanza&>(*proto));
            }
            break;
        default:
            break;
    }
}

const pb::MessageLite* NEBMessagingConnection::parseProto(int8_t tag, std::string_view data) {
    const pb::MessageLite* prototype = NEBMessagingClassForTag(tag);
    if (!prototype) return nullptr;
    auto& message = received_[static_cast<size_t>(tag)];
    if (!message) message.reset(prototype->New());
    if (!message->ParseFromArray(data.data(), static_cast<int>(data.size()))) return nullptr;
    return message.get();
}

void NEBMessagingConnection::didReceiveLoginResponse(const mcs::McsLoginResponse& response) {
    if (response.has_error()) return;
    state_ = kSignedIn;
    lastLoginServerTimestamp_ = response.server_timestamp();
    if (auto d = delegate()) d->didLoginWithConnection(*this);
    if (state_ != kSignedIn) return;
    sendHeartbeatPing();
    auto waiting = std::move(sendOnConnectMessages_);
    sendOnConnectMessages_.clear();
    for (auto& message : waiting) sendProto(*message);
}

void NEBMessagingConnection::handleIqStanza(const mcs::McsIqStanza& stanza) {
    if (!stanza.has_extension()) return;
    if (stanza.extension().id() == kSelectiveAckExtension) didReceiveSelectiveAck(stanza);
}

void NEBMessagingConnection::didReceiveSelectiveAck(const mcs::McsIqStanza& stanza) {
    mcs::McsSelectiveAck ack;
    if (!ack.ParseFromString(stanza.extension().data())) {
        NEBMessagingSharedLogger().logFuncError(__func__, "Unparsable selective ack ignored");
        return;
    }
    std::vector<std::string> ids(ack.id().begin(), ack.id().end());
    // The resend reads what the store still holds once the acknowledged messages are gone.
    auto resend = [weak = weak_from_this(), session = session_](int32_t) {
        auto self = weak.lock();
        if (!self || self->session_ != session || self->state_ != kSignedIn) return;
        if (auto manager = self->dataMessageManager_.lock())
            manager->resendMessagesWithConnection(*self);
    };
    if (auto d = delegate()) {
        d->connectionDidReceiveAckForRmqIds(ids, resend);
    } else {
        resend(0);
    }
}

bool NEBMessagingConnection::willProcessProto(const pb::MessageLite& proto, int8_t tag,
                                              std::string_view payload) {
    inStreamId_ += 1;
    // The frame joins its read's batch before anything it causes can be sent: a confirmation
    // of our own messages may send a stream acknowledgement at once, and that must not cover
    // this frame until its read is stored.
    const bool batched = addToBatch(proto, tag, payload);
    int32_t lastReceived = NEBMessagingLastStreamIdOfProto(proto);
    if (lastReceived >= 0) {
        confirmAckedD2sIdsWithStreamId(lastReceived);
        if (state_ == kDisconnected) return false;
        confirmAckedS2dIdsWithStreamId(lastReceived);
    }
    if (!batched) {
        if (auto persistentId = NEBMessagingPersistentIdOfProto(proto))
            unackedS2dIds_.push_back(*persistentId);
    }
    auto* data = dynamic_cast<const mcs::McsDataMessageStanza*>(&proto);
    if (data && data->immediate_ack()) immediateAckStreamId_ = inStreamId_;
    maybeSendStreamAck();
    return batched && tag == kNEBMessagingProtoTagDataMessageStanza;
}

std::shared_ptr<NEBMessagingReceivedMessages> NEBMessagingConnection::receivedMessages() const {
    auto store = rmq2Manager_.lock();
    return store ? store->receivedMessages() : nullptr;
}

// Stored before anything can acknowledge it: the id, so that a crash cannot lose the
// acknowledgement owed, and a data message itself, so that an acknowledged message cannot be
// lost before the application has it (it is handed over again at the next start). Data
// messages without an id ride along, so that they keep their place among the others.
bool NEBMessagingConnection::addToBatch(const pb::MessageLite& proto, int8_t tag,
                                        std::string_view payload) {
    auto persistentId = NEBMessagingPersistentIdOfProto(proto);
    const bool dataMessage = tag == kNEBMessagingProtoTagDataMessageStanza;
    if ((!persistentId && !dataMessage) || !receivedMessages()) return false;
    NEBMessagingReceivedMessages::Batch::Item item;
    if (persistentId) item.persistentId = *persistentId;
    if (dataMessage) {
        item.payload.assign(payload);
        item.handOn = true;
        // The application confirms a message by its id as text: an id that is not text could
        // never be confirmed, so that message is handed on without being kept.
        item.keep = !item.persistentId.empty() && ns::isValidUTF8(item.persistentId);
        if (item.keep) {
            item.expirationTime = NEBMessagingReceivedMessages::expirationTimeFor(
                static_cast<const mcs::McsDataMessageStanza&>(proto));
        }
    }
    if (!item.persistentId.empty() && batchFirstStreamId_ == 0) batchFirstStreamId_ = inStreamId_;
    batch_.items.push_back(std::move(item));
    return true;
}

void NEBMessagingConnection::secureSocketDidFinishReading(NEBMessagingSecureSocket&) {
    if (batch_.empty()) return;
    auto received = receivedMessages();
    auto batch = std::exchange(batch_, {});
    const int32_t first = std::exchange(batchFirstStreamId_, 0);
    if (!received) return;
    if (first == 0) {
        received->submit(std::move(batch), chain_, nullptr);
        return;
    }
    std::vector<std::string> ids;
    for (const auto& item : batch.items) {
        if (!item.persistentId.empty()) ids.push_back(item.persistentId);
    }
    pendingReads_.push_back(first);
    std::weak_ptr<NEBMessagingConnection> weak = weak_from_this();
    received->submit(std::move(batch), chain_,
                     [weak, session = session_,
                      ids = std::move(ids)](NEBMessagingReceivedMessages::Outcome outcome) {
                         if (auto self = weak.lock()) self->didStoreRead(session, ids, outcome);
                     });
}

void NEBMessagingConnection::didStoreRead(uint64_t session, const std::vector<std::string>& ids,
                                          NEBMessagingReceivedMessages::Outcome outcome) {
    using Outcome = NEBMessagingReceivedMessages::Outcome;
    if (outcome == Outcome::Abandoned) return;
    if (outcome == Outcome::Failed) {
        if (session != session_) return;
        NEBMessagingSharedLogger().logFuncError(
            __func__,
            "Received messages could not be stored, connection dropped so that the "
            "server sends them again");
        closeAndReport(NEBMessagingConnectionDelegate::kSocketClosed);
        return;
    }
    // The store has these ids; a link that ended before they were stored reports them at its
    // next login.
    unackedS2dIds_.insert(unackedS2dIds_.end(), ids.begin(), ids.end());
    if (session != session_) return;
    if (!pendingReads_.empty()) pendingReads_.pop_front();
    maybeSendStreamAck();
}

int32_t NEBMessagingConnection::acknowledgeableStreamId() const {
    if (!pendingReads_.empty()) return pendingReads_.front() - 1;
    if (batchFirstStreamId_ > 0) return batchFirstStreamId_ - 1;
    return inStreamId_;
}

void NEBMessagingConnection::maybeSendStreamAck() {
    const int32_t acknowledgeable = acknowledgeableStreamId();
    if (acknowledgeable <= lastStreamIdAcked_) return;
    const bool urgent =
        immediateAckStreamId_ > lastStreamIdAcked_ && acknowledgeable >= immediateAckStreamId_;
    if (urgent || acknowledgeable - lastStreamIdAcked_ >= kStreamAckThreshold) sendStreamAck();
}

void NEBMessagingConnection::willSendProto(pb::MessageLite& proto) {
    outStreamId_ += 1;
    auto persistentId = NEBMessagingPersistentIdOfProto(proto);
    if (persistentId && !persistentId->empty()) {
        d2sInfos_.push_back({outStreamId_, *persistentId});
    }
    const int32_t acknowledgeable = acknowledgeableStreamId();
    if (acknowledgeable > lastStreamIdAcked_) {
        NEBMessagingSetLastStreamIdOfProto(proto, acknowledgeable);
        lastStreamIdAcked_ = acknowledgeable;
    }
    if (!unackedS2dIds_.empty()) {
        ackedS2dMap_[outStreamId_] = std::move(unackedS2dIds_);
        unackedS2dIds_.clear();
    }
}

void NEBMessagingConnection::confirmAckedD2sIdsWithStreamId(int32_t lastReceivedStreamId) {
    std::vector<std::string> confirmed;
    while (!d2sInfos_.empty() && d2sInfos_.front().streamId <= lastReceivedStreamId) {
        if (!d2sInfos_.front().d2sID.empty()) confirmed.push_back(d2sInfos_.front().d2sID);
        d2sInfos_.pop_front();
    }
    // The delegate scans the store for these ids: nothing to scan for, no scan.
    if (confirmed.empty()) return;
    auto d = delegate();
    if (!d) return;
    d->connectionDidReceiveAckForRmqIds(
        confirmed, [weak = weak_from_this(), session = session_](int32_t count) {
            auto self = weak.lock();
            if (!self || self->session_ != session || self->state_ != kSignedIn) return;
            if (count >= kConfirmedCountForStreamAck) self->sendStreamAck();
        });
}

void NEBMessagingConnection::confirmAckedS2dIdsWithStreamId(int32_t lastReceivedStreamId) {
    std::vector<std::string> confirmed;
    auto end = ackedS2dMap_.upper_bound(lastReceivedStreamId);
    for (auto it = ackedS2dMap_.begin(); it != end; ++it) {
        confirmed.insert(confirmed.end(), it->second.begin(), it->second.end());
    }
    ackedS2dMap_.erase(ackedS2dMap_.begin(), end);
    if (auto store = rmq2Manager_.lock()) store->removeS2dIds(confirmed);
}
