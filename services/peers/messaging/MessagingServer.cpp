#include "services/peers/messaging/MessagingServer.h"

#include <unistd.h>

#include <set>
#include <stdexcept>
#include <utility>

#include "sdk/messaging/NEBMessagingCodedInputStream.h"
#include "services/peers/PeerSocket.h"

namespace peers {

MessagingServer::MessagingServer(Options options) : options_(std::move(options)) {
    if (options_.identity) context_ = options_.identity->makeServerContext();
    listener_ = listenOnLoopback(port_);
    if (listener_ < 0) throw std::runtime_error("MessagingServer: cannot listen on 127.0.0.1");
    thread_ = std::thread([this] {
        blockSigpipeOnThisThread();
        run();
    });
}

MessagingServer::~MessagingServer() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) ::close(listener_);
}

std::string MessagingServer::encodeFrame(int8_t tag, const std::string& payload) {
    std::string frame(1, static_cast<char>(tag));
    auto length = static_cast<uint32_t>(payload.size());
    do {
        uint8_t byte = length & 0x7f;
        length >>= 7;
        frame.push_back(static_cast<char>(length ? byte | 0x80 : byte));
    } while (length);
    return frame + payload;
}

void MessagingServer::sendFrame(int8_t tag, const pb::MessageLite& message) {
    sendFrameBytes(tag, message.SerializeAsString());
}

void MessagingServer::sendFrameBytes(int8_t tag, const std::string& payload) {
    dispatch::Lock lock(mutex_);
    queueFrame(tag, payload, false);
}

void MessagingServer::queueFrame(int8_t tag, const std::string& payload, bool startsCount) {
    if (!versionSent_) {
        outgoing_.push_back(static_cast<char>(options_.versionByte));
        versionSent_ = true;
    }
    outgoing_ += encodeFrame(tag, payload);
    QueuedFrame queued{{}, {}, startsCount};
    if (tag == 8 && options_.redeliver) {
        mcs::McsDataMessageStanza stanza;
        if (stanza.ParseFromString(payload) && !stanza.persistent_id().empty()) {
            queued.persistentId = stanza.persistent_id();
            queued.payload = payload;
        }
    }
    queuedFrames_.push_back(std::move(queued));
}

void MessagingServer::didWriteFrames(int connection) {
    for (auto& frame : std::exchange(queuedFrames_, {})) {
        if (frame.startsCount) {
            serverFrames_ = 1;
        } else if (serverFrames_ > 0) {
            ++serverFrames_;
        }
        if (!frame.persistentId.empty()) {
            unacknowledged_.push_back({std::move(frame.persistentId), std::move(frame.payload),
                                       connection, serverFrames_});
        }
    }
}

void MessagingServer::acknowledge(int connection, int8_t tag, std::string_view payload) {
    int32_t last = -1;
    auto read = [&](auto message) {
        if (message.ParseFromArray(payload.data(), static_cast<int>(payload.size())) &&
            message.has_last_stream_id_received()) {
            last = message.last_stream_id_received();
        }
    };
    switch (tag) {
        case 0:
            read(mcs::McsHeartbeatPing());
            break;
        case 1:
            read(mcs::McsHeartbeatAck());
            break;
        case 7:
            read(mcs::McsIqStanza());
            break;
        case 8:
            read(mcs::McsDataMessageStanza());
            break;
        default:
            return;
    }
    std::vector<std::string> acknowledged;
    std::erase_if(unacknowledged_, [&](const SentMessage& sent) {
        if (sent.connection != connection || sent.streamId <= 0 || sent.streamId > last)
            return false;
        acknowledged.push_back(sent.persistentId);
        return true;
    });
    if (!acknowledged.empty() && options_.onAcknowledged) options_.onAcknowledged(acknowledged);
}

void MessagingServer::redeliverAfterLogin(const mcs::McsLoginRequest& login) {
    const std::set<std::string> received(login.received_persistent_id().begin(),
                                         login.received_persistent_id().end());
    auto again = std::exchange(unacknowledged_, {});
    for (auto& sent : again) {
        if (received.count(sent.persistentId)) continue;
        queueFrame(8, sent.payload, false);
        ++redelivered_;
    }
}

std::vector<std::string> MessagingServer::unacknowledged() const {
    dispatch::Lock lock(mutex_);
    std::vector<std::string> ids;
    for (const auto& sent : unacknowledged_) ids.push_back(sent.persistentId);
    for (const auto& queued : queuedFrames_) {
        if (!queued.persistentId.empty()) ids.push_back(queued.persistentId);
    }
    return ids;
}

size_t MessagingServer::redelivered() const {
    dispatch::Lock lock(mutex_);
    return redelivered_;
}

void MessagingServer::sendRaw(std::string bytes) {
    dispatch::Lock lock(mutex_);
    outgoing_ += bytes;
    versionSent_ = true;
}

void MessagingServer::closeConnection() {
    dispatch::Lock lock(mutex_);
    closeRequested_ = true;
}

void MessagingServer::setAnswerPings(bool answer) {
    dispatch::Lock lock(mutex_);
    options_.answerPings = answer;
}

void MessagingServer::setAnswerLogin(bool answer) {
    dispatch::Lock lock(mutex_);
    options_.answerLogin = answer;
}

std::vector<MessagingServer::Frame> MessagingServer::frames() const {
    dispatch::Lock lock(mutex_);
    return frames_;
}

std::vector<MessagingServer::Frame> MessagingServer::framesWithTag(int8_t tag) const {
    std::vector<Frame> found;
    for (auto& frame : frames()) {
        if (frame.tag == tag) found.push_back(frame);
    }
    return found;
}

size_t MessagingServer::frameCount() const {
    dispatch::Lock lock(mutex_);
    return frames_.size();
}

int32_t MessagingServer::clientFramesOnConnection() const {
    dispatch::Lock lock(mutex_);
    return clientFrames_;
}

std::vector<mcs::McsLoginRequest> MessagingServer::loginRequests() const {
    dispatch::Lock lock(mutex_);
    return logins_;
}

std::string MessagingServer::signedInUser() const {
    dispatch::Lock lock(mutex_);
    return signedInUser_;
}

void MessagingServer::run() {
    auto deadline = std::chrono::steady_clock::now() + options_.lifetime;
    while (!stopping_ && std::chrono::steady_clock::now() < deadline) {
        int fd = acceptConnection(listener_, stopping_, deadline);
        if (fd < 0) return;
        PeerSocket socket(fd, context_, stopping_);
        if (!socket.accept()) continue;
        int connection = ++connections_;
        {
            dispatch::Lock lock(mutex_);
            clientFrames_ = 0;
            outgoing_.clear();
            // What never went out waits for the next login like what went out unacknowledged.
            for (auto& queued : std::exchange(queuedFrames_, {})) {
                if (!queued.persistentId.empty())
                    unacknowledged_.push_back(
                        {std::move(queued.persistentId), std::move(queued.payload), 0, 0});
            }
            serverFrames_ = 0;
            versionSent_ = false;
            closeRequested_ = false;
            clientClosed_ = false;
        }
        serve(socket, connection, deadline);
        dispatch::Lock lock(mutex_);
        signedInUser_.clear();
    }
}

void MessagingServer::serve(PeerSocket& socket, int connection,
                            std::chrono::steady_clock::time_point deadline) {
    std::string input;
    bool versionChecked = false;
    std::vector<char> chunk(16384);
    while (!stopping_ && std::chrono::steady_clock::now() < deadline) {
        long n = socket.readSome(chunk.data(), chunk.size(), options_.pollInterval);
        if (n < 0) {
            clientClosed_ = true;
            return;
        }
        input.append(chunk.data(), static_cast<size_t>(n));
        if (!versionChecked && !input.empty()) {
            versionChecked = true;
            if (static_cast<uint8_t>(input[0]) != 0x28) {
                socket.shutdown();
                return;
            }
            input.erase(0, 1);
        }
        std::vector<mcs::McsLoginRequest> accepted;
        NEBMessagingCodedInputStream reader(input);
        for (;;) {
            int8_t tag = 0;
            std::string_view payload;
            auto result = reader.readFrame(tag, payload);
            if (result == NEBMessagingCodedInputStream::Result::Error) {
                socket.shutdown();
                return;
            }
            if (result == NEBMessagingCodedInputStream::Result::NeedMore) break;
            if (auto login = handleFrame(connection, tag, payload))
                accepted.push_back(std::move(*login));
        }
        input.erase(0, reader.offset());
        std::string out;
        bool closing = false;
        {
            dispatch::Lock lock(mutex_);
            out = std::move(outgoing_);
            outgoing_.clear();
            didWriteFrames(connection);
            closing = closeRequested_;
        }
        if (!out.empty() && !socket.writeAll(out)) return;
        // After the reply has gone, outside the lock: the callback may queue frames.
        for (const auto& login : accepted) {
            if (options_.onLogin) options_.onLogin(login);
        }
        if (closing) {
            socket.shutdown();
            return;
        }
    }
}

std::optional<mcs::McsLoginRequest> MessagingServer::handleFrame(int connection, int8_t tag,
                                                                 std::string_view payload) {
    dispatch::Lock lock(mutex_);
    frames_.push_back({connection, tag, std::string(payload)});
    clientFrames_++;
    if (options_.redeliver) acknowledge(connection, tag, payload);
    auto frame = [&](int8_t replyTag, const pb::MessageLite& message) REQUIRES(mutex_) {
        queueFrame(replyTag, message.SerializeAsString(), replyTag == 3);
    };
    if (tag == 2) {
        mcs::McsLoginRequest login;
        bool parsed = login.ParseFromArray(payload.data(), static_cast<int>(payload.size()));
        if (parsed) logins_.push_back(login);
        if (!options_.answerLogin) return std::nullopt;
        mcs::McsLoginResponse response;
        response.set_id("login-response");
        response.set_server_timestamp(1700000000000);
        bool refused =
            !parsed || (!options_.expectedUser.empty() && login.user() != options_.expectedUser) ||
            (!options_.expectedToken.empty() && login.auth_token() != options_.expectedToken);
        if (refused) {
            response.mutable_error()->set_code(401);
            response.mutable_error()->set_message("authentication failed");
        }
        frame(3, response);
        if (refused) return std::nullopt;
        signedInUser_ = login.user();
        if (options_.redeliver) redeliverAfterLogin(login);
        return login;
    }
    if (tag == 0 && options_.answerPings) {
        mcs::McsHeartbeatAck ack;
        ack.set_last_stream_id_received(clientFrames_);
        frame(1, ack);
    }
    return std::nullopt;
}

}  // namespace peers
