#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch/Scheduler.h"
#include "sdk/core/pb.h"
#include "sdk/messaging/NEBMessagingConnectionDelegate.h"
#include "sdk/messaging/NEBMessagingD2SInfo.h"
#include "sdk/messaging/NEBMessagingReceivedMessages.h"
#include "sdk/messaging/NEBMessagingSecureSocket.h"

class NEBMessagingDataMessageManager;
class NEBMessagingRmqManager;
class NIPReachability;

// The signed-in link over one secure socket at a time: login, heartbeat and time-out, stream
// ids each way, acknowledgements of what was received (persisted until the server confirms
// them) and news of which own messages the server has. What one read from the socket brought
// is stored in the background, in one transaction, and data messages reach the application
// from the store; until that transaction has committed, no frame of the read, nor any after
// it, is acknowledged. A read that cannot be stored now ends the link unacknowledged, so that
// the server sends it again; one that a store given up did not take is acknowledged once the
// application has its messages. Everything runs on the run loop it was made with.
class NEBMessagingConnection : public NEBMessagingSecureSocketDelegate,
                               public std::enable_shared_from_this<NEBMessagingConnection> {
public:
    enum State : uint64_t { kDisconnected = 0, kConnecting = 1, kConnected = 2, kSignedIn = 3 };
    static constexpr double kHeartbeatInterval = 30;
    static constexpr double kConnectionTimeoutInterval = 20;
    static constexpr int kStreamAckThreshold = 10;

    NEBMessagingConnection(std::string authId, std::string token, std::string host, uint16_t port,
                           dispatch::Scheduler& runLoop,
                           std::weak_ptr<NEBMessagingRmqManager> rmq2Manager,
                           std::weak_ptr<NEBMessagingDataMessageManager> dataMessageManager);
    ~NEBMessagingConnection() override;

    void setDelegate(std::weak_ptr<NEBMessagingConnectionDelegate> delegate) {
        delegate_ = std::move(delegate);
    }
    void setReachability(std::weak_ptr<NIPReachability> reachability) {
        reachability_ = std::move(reachability);
    }

    State state() const { return state_; }
    const std::string& host() const { return host_; }
    uint16_t port() const { return port_; }
    int32_t inStreamId() const { return inStreamId_; }
    int32_t outStreamId() const { return outStreamId_; }
    int32_t lastStreamIdAcked() const { return lastStreamIdAcked_; }
    // The highest inbound stream id that may be acknowledged: every frame up to it is stored.
    int32_t acknowledgeableStreamId() const;
    int64_t lastLoginServerTimestamp() const { return lastLoginServerTimestamp_; }
    const std::vector<std::string>& unackedS2dIds() const { return unackedS2dIds_; }
    std::string description() const;

    void signIn();
    void signOut();
    void teardown();
    void disconnect();

    void sendProto(pb::MessageLite& proto);
    void sendOnConnectOrDrop(std::unique_ptr<pb::MessageLite> proto);
    void sendHeartbeatPing();
    void sendHeartbeatAck();
    void sendStreamAck();
    void sendClose();

    static mcs::McsIqStanza createStreamAck();
    static mcs::McsLoginRequest loginRequestWithToken(const std::string& token,
                                                      const std::string& authId,
                                                      int32_t networkType,
                                                      const std::vector<std::string>& received);
    int32_t currentNetworkType() const;

    // The payload parsed as the message type of its tag, into a message this connection keeps
    // for that tag and reuses for the next frame of it (so that its storage is reused too);
    // valid until the next call. Null when the tag has no type or the payload does not parse.
    const pb::MessageLite* parseProto(int8_t tag, std::string_view data);

    // The socket's delegate.
    void secureSocketDidReceiveData(NEBMessagingSecureSocket& socket, std::string_view data,
                                    int8_t tag) override;
    void secureSocketDidFinishReading(NEBMessagingSecureSocket& socket) override;
    void secureSocketDidSendProtoWithTag(NEBMessagingSecureSocket& socket, int8_t tag,
                                         const std::string& rmqId) override;
    void secureSocketDidConnect(NEBMessagingSecureSocket& socket) override;
    void didDisconnectWithSecureSocket(NEBMessagingSecureSocket& socket) override;

private:
    void loadUnackedS2dIds();
    void didLoadUnackedS2dIds(std::vector<std::string> ids);
    void resetUnconfirmedAcks();
    void sendLoginRequest();
    void scheduleConnectionTimeoutTask();
    void scheduleHeartbeatPing();
    void connectionTimedOut();
    void closeAndReport(NEBMessagingConnectionDelegate::CloseReason reason);
    // The stream bookkeeping of a frame accepted from the server; true when its data message
    // reaches the application through the store.
    bool willProcessProto(const pb::MessageLite& proto, int8_t tag, std::string_view payload);
    // Adds the frame to the current read's batch when the store or the application must see it
    // (it has an id, or is a data message); true when it was added.
    bool addToBatch(const pb::MessageLite& proto, int8_t tag, std::string_view payload);
    void maybeSendStreamAck();
    void didStoreRead(uint64_t session, const std::vector<std::string>& ids,
                      NEBMessagingReceivedMessages::Outcome outcome);
    std::shared_ptr<NEBMessagingReceivedMessages> receivedMessages() const;
    void willSendProto(pb::MessageLite& proto);
    void didReceiveLoginResponse(const mcs::McsLoginResponse& response);
    void handleIqStanza(const mcs::McsIqStanza& stanza);
    void didReceiveSelectiveAck(const mcs::McsIqStanza& stanza);
    void confirmAckedD2sIdsWithStreamId(int32_t lastReceivedStreamId);
    void confirmAckedS2dIdsWithStreamId(int32_t lastReceivedStreamId);
    std::shared_ptr<NEBMessagingConnectionDelegate> delegate() const { return delegate_.lock(); }

    int32_t lastStreamIdAcked_ = 0;
    int32_t inStreamId_ = 0;
    int32_t outStreamId_ = 0;
    State state_ = kDisconnected;
    std::string host_;
    uint16_t port_;
    std::weak_ptr<NEBMessagingConnectionDelegate> delegate_;
    std::weak_ptr<NEBMessagingRmqManager> rmq2Manager_;
    std::weak_ptr<NEBMessagingDataMessageManager> dataMessageManager_;
    std::weak_ptr<NIPReachability> reachability_;
    std::string authId_;
    std::string token_;
    std::shared_ptr<NEBMessagingSecureSocket> socket_;
    int64_t lastLoginServerTimestamp_ = 0;
    std::vector<std::string> unackedS2dIds_;
    std::map<int32_t, std::vector<std::string>> ackedS2dMap_;
    std::deque<NEBMessagingD2SInfo> d2sInfos_;
    std::vector<std::unique_ptr<pb::MessageLite>> sendOnConnectMessages_;
    std::array<std::unique_ptr<pb::MessageLite>, 9> received_;
    // The frames of the read in progress that go to the store, and the stream id of the first
    // of them that is owed an acknowledgement (0: none).
    NEBMessagingReceivedMessages::Batch batch_;
    int32_t batchFirstStreamId_ = 0;
    // Reads given to the store and not stored yet, by the stream id of their first frame owed
    // an acknowledgement, oldest first.
    std::deque<int32_t> pendingReads_;
    // The latest frame that asked to be acknowledged at once.
    int32_t immediateAckStreamId_ = 0;
    enum class UnackedLoad { NotStarted, Waiting, Done };
    UnackedLoad unackedLoad_ = UnackedLoad::NotStarted;
    // The socket is up; the login waits for the ids earlier links left unconfirmed.
    bool loginWaiting_ = false;
    // Counts the links: a read stored after its link ended acknowledges nothing on a later one.
    uint64_t session_ = 0;
    NEBMessagingReceivedMessages::Chain chain_;
    dispatch::Scheduler& runLoop_;
};
