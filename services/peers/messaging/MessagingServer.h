#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "proto/mcs.pb.h"
#include "sdk/core/pb.h"
#include "services/peers/TestCA.h"

namespace peers {

// A loopback messaging server over TLS. It takes connections one after the other, checks the
// client's version byte, cuts its frames with the client's own cutter, checks the login
// request, answers with its version byte and a login response (or an error), answers pings
// (unless told to stay silent) and records every frame. Tests push frames, raw bytes and
// closes at it from their own thread. With `redeliver`, it keeps each data message with an id
// that it sent until the client acknowledges it (a frame whose lastStreamIdReceived covers it,
// or its id among a login's received ids) and sends the rest again after the next login.
class MessagingServer {
public:
    struct Options {
        const ServerIdentity* identity = nullptr;
        // Login requests whose user or token differ get an error response.
        std::string expectedUser;
        std::string expectedToken;
        bool answerLogin = true;
        bool answerPings = true;
        uint8_t versionByte = 0x28;
        std::chrono::seconds lifetime{60};
        // How long one wait for the client's bytes lasts; frames queued from outside go out
        // after at most this long.
        std::chrono::milliseconds pollInterval{2};
        // Called on the server's thread after a login was answered without error, with the
        // login request; it may send frames.
        std::function<void(const mcs::McsLoginRequest&)> onLogin;
        bool redeliver = false;
        // With `redeliver`: called on the server's thread, under its lock (it must not call the
        // server), with the ids a frame of the client has just acknowledged.
        std::function<void(const std::vector<std::string>&)> onAcknowledged;
    };
    struct Frame {
        int connection = 0;
        int8_t tag = 0;
        std::string payload;
    };

    explicit MessagingServer(Options options);
    ~MessagingServer();
    MessagingServer(const MessagingServer&) = delete;
    MessagingServer& operator=(const MessagingServer&) = delete;

    uint16_t port() const { return port_; }

    // Encodes tag, length and payload (the version byte goes first when nothing was sent yet
    // on the connection).
    void sendFrame(int8_t tag, const pb::MessageLite& message);
    void sendFrameBytes(int8_t tag, const std::string& payload);
    // Bytes as they are, with no version byte added.
    void sendRaw(std::string bytes);
    // The TLS closing alert and a TCP close, once what is queued has gone.
    void closeConnection();
    void setAnswerPings(bool answer);
    void setAnswerLogin(bool answer);

    std::vector<Frame> frames() const;
    std::vector<Frame> framesWithTag(int8_t tag) const;
    size_t frameCount() const;
    // Frames received on the current connection: what lastStreamIdReceived should say.
    int32_t clientFramesOnConnection() const;
    std::vector<mcs::McsLoginRequest> loginRequests() const;
    // With `redeliver`: the ids of the data messages sent and not acknowledged yet, and how
    // many data messages were sent again.
    std::vector<std::string> unacknowledged() const;
    size_t redelivered() const;
    // The user of the login accepted on the current connection; empty when there is none.
    std::string signedInUser() const;
    int connections() const { return connections_; }
    // The current client ended its side.
    bool clientClosed() const { return clientClosed_; }

private:
    void run();
    void serve(class PeerSocket& socket, int connection,
               std::chrono::steady_clock::time_point deadline);
    // The login request when the frame was one that was accepted.
    std::optional<mcs::McsLoginRequest> handleFrame(int connection, int8_t tag,
                                                    std::string_view payload);
    static std::string encodeFrame(int8_t tag, const std::string& payload);
    // A frame for the current connection, after those queued before it. The client counts the
    // frames from the login response (which starts the count) on; a data message with an id
    // is kept for `redeliver` once it went out.
    void queueFrame(int8_t tag, const std::string& payload, bool startsCount) REQUIRES(mutex_);
    // The frames queued since the last call have gone out on `connection`.
    void didWriteFrames(int connection) REQUIRES(mutex_);
    void acknowledge(int connection, int8_t tag, std::string_view payload) REQUIRES(mutex_);
    void redeliverAfterLogin(const mcs::McsLoginRequest& login) REQUIRES(mutex_);

    Options options_;
    std::shared_ptr<SSL_CTX> context_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::atomic<bool> clientClosed_{false};

    mutable dispatch::Mutex mutex_;
    std::vector<Frame> frames_ GUARDED_BY(mutex_);
    std::vector<mcs::McsLoginRequest> logins_ GUARDED_BY(mutex_);
    int32_t clientFrames_ GUARDED_BY(mutex_) = 0;
    std::string outgoing_ GUARDED_BY(mutex_);
    bool versionSent_ GUARDED_BY(mutex_) = false;
    bool closeRequested_ GUARDED_BY(mutex_) = false;
    std::string signedInUser_ GUARDED_BY(mutex_);
    struct QueuedFrame {
        std::string persistentId;  // a data message's; empty for anything else
        std::string payload;
        bool startsCount = false;
    };
    struct SentMessage {
        std::string persistentId;
        std::string payload;
        int connection = 0;
        int32_t streamId = 0;
    };
    std::vector<QueuedFrame> queuedFrames_ GUARDED_BY(mutex_);
    // Frames the client counts on the current connection: the login response and after.
    int32_t serverFrames_ GUARDED_BY(mutex_) = 0;
    std::vector<SentMessage> unacknowledged_ GUARDED_BY(mutex_);
    size_t redelivered_ GUARDED_BY(mutex_) = 0;
    std::thread thread_;
};

}  // namespace peers
