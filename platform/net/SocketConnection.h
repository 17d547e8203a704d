#pragma once

#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/Scheduler.h"
#include "platform/net/Stream.h"
#include "platform/net/StreamDelegate.h"
#include "platform/net/TLSSession.h"
#include "platform/ns/Error.h"

namespace net {

// The connection under a stream pair: a non-blocking socket (and TLS session) driven by
// the scheduler's descriptor sources, with a bounded buffer each way. Events are worked out
// after each step and delivered in a task of their own, so that a delegate may read, write,
// close or drop its streams from inside a callback.
//
// HasBytesAvailable and HasSpaceAvailable are level-triggered with consumption: each is told
// once and again only after the stream was read from (or written to) or new bytes came in,
// and then as long as the condition holds. A delegate that ignores an event is not flooded.
class SocketConnection : public std::enable_shared_from_this<SocketConnection> {
public:
    using Side = int;  // 0 input, 1 output
    static constexpr size_t kInputCapacity = 64 * 1024;
    static constexpr size_t kOutputCapacity = 16 * 1024;

    SocketConnection(std::string host, int port);
    ~SocketConnection();

    void attach(Side side, Stream* stream) { streams_[side] = stream; }
    void detach(Side side) { streams_[side] = nullptr; }
    void setScheduler(dispatch::Scheduler& scheduler) { scheduler_ = &scheduler; }
    bool setSecure(bool secure);
    bool isSecure() const { return secure_; }

    void open(Side side);
    void close(Side side);
    StreamStatus status(Side side) const;
    std::optional<ns::Error> error() const { return error_; }

    long read(uint8_t* buffer, size_t maxLength);
    bool hasBytesAvailable();
    long write(const uint8_t* buffer, size_t length);
    bool hasSpaceAvailable();

    // Works out and delivers what the streams should hear now (on a later turn).
    void scheduleDelivery();

private:
    enum class State { Idle, Resolving, Connecting, Handshaking, Open, Failed, Closed };

    void resolve();
    void resolved(int status, std::vector<sockaddr_storage> addresses);
    void connectNext();
    void connected();
    void startTLS();
    void handshake();
    void becomeOpen();
    void pump();
    bool flushOutput();
    bool fillInput();
    void fail(ns::Error error);
    void shutDown();
    void closeSocket();
    size_t inputAvailable() const { return input_.size() - inputOffset_; }
    void updateWatch();
    void onReady(unsigned events);
    void deliver();
    void deliverTo(Side side);

    const std::string host_;
    const int port_;
    dispatch::Scheduler* scheduler_;
    bool secure_ = false;
    State state_ = State::Idle;
    std::optional<ns::Error> error_;

    std::vector<sockaddr_storage> addresses_;
    size_t nextAddress_ = 0;
    int lastConnectErrno_ = 0;
    int fd_ = -1;
    std::unique_ptr<TLSSession> tls_;
    // What the TLS session waits for: during the handshake, and when a read needs the socket
    // writable or a write needs it readable.
    bool handshakeWantsRead_ = false;
    bool handshakeWantsWrite_ = false;
    bool readWantsWrite_ = false;
    bool writeWantsRead_ = false;

    dispatch::SourceId source_ = 0;
    unsigned watched_ = 0;

    std::string input_;
    size_t inputOffset_ = 0;
    bool endOfInput_ = false;
    std::string output_;

    std::array<Stream*, 2> streams_{};
    std::array<bool, 2> opened_{};
    std::array<bool, 2> closed_{};
    std::array<bool, 2> openPending_{};
    std::array<bool, 2> errorPending_{};
    bool bytesArmed_ = true;
    bool spaceArmed_ = true;
    bool endDelivered_ = false;
    bool deliveryPosted_ = false;
};

}  // namespace net
