#include "platform/net/SocketConnection.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/net/HostNames.h"
#include "platform/net/SigpipeGuard.h"
#include "platform/net/TLSEngine.h"
#include "platform/ns/AtomicFile.h"

namespace net {

namespace {

constexpr SocketConnection::Side kInput = 0;
constexpr SocketConnection::Side kOutput = 1;

}  // namespace

SocketConnection::SocketConnection(std::string host, int port)
    : host_(std::move(host)), port_(port), scheduler_(&dispatch::RunLoop::main()) {}

SocketConnection::~SocketConnection() {
    shutDown();
}

bool SocketConnection::setSecure(bool secure) {
    if (secure == secure_) return true;
    // The pair's streams are set up one after the other: the level may still change until the
    // connection is made and the handshake would begin.
    if (state_ != State::Idle && state_ != State::Resolving && state_ != State::Connecting) {
        return false;
    }
    secure_ = secure;
    return true;
}

void SocketConnection::open(Side side) {
    if (opened_[side] || closed_[side]) return;
    opened_[side] = true;
    switch (state_) {
        case State::Idle:
            resolve();
            break;
        case State::Open:
            openPending_[side] = true;
            scheduleDelivery();
            break;
        case State::Failed:
        case State::Closed:
            if (!error_) error_ = ns::posixError(ENOTCONN);
            errorPending_[side] = true;
            scheduleDelivery();
            break;
        default:
            break;  // told when the connection is made
    }
}

void SocketConnection::close(Side side) {
    SigpipeGuard guard;
    if (closed_[side]) return;
    closed_[side] = true;
    openPending_[side] = false;
    errorPending_[side] = false;
    for (Side other : {kInput, kOutput}) {
        if (opened_[other] && !closed_[other]) return;
    }
    // The last open stream is closing: whatever was written goes out if the socket takes it.
    if (state_ == State::Open) {
        flushOutput();
        if (tls_ && state_ == State::Open) tls_->close();
    }
    shutDown();
    if (state_ != State::Failed) state_ = State::Closed;
}

StreamStatus SocketConnection::status(Side side) const {
    if (closed_[side]) return StreamStatus::Closed;
    if (!opened_[side]) return StreamStatus::NotOpen;
    switch (state_) {
        case State::Idle:
        case State::Resolving:
        case State::Connecting:
        case State::Handshaking:
            return StreamStatus::Opening;
        case State::Failed:
            return StreamStatus::Error;
        case State::Closed:
            return StreamStatus::Closed;
        case State::Open:
            if (side == kInput && endOfInput_ && inputAvailable() == 0) return StreamStatus::AtEnd;
            return StreamStatus::Open;
    }
    return StreamStatus::Error;
}

long SocketConnection::read(uint8_t* buffer, size_t maxLength) {
    SigpipeGuard guard;
    if (!opened_[kInput] || closed_[kInput] || state_ == State::Failed || state_ == State::Closed) {
        return -1;
    }
    if (state_ != State::Open) return 0;
    if (inputAvailable() == 0 && !endOfInput_ && !fillInput()) return -1;
    size_t n = std::min(maxLength, inputAvailable());
    std::memcpy(buffer, input_.data() + inputOffset_, n);
    inputOffset_ += n;
    if (inputOffset_ == input_.size()) {
        input_.clear();
        inputOffset_ = 0;
    } else if (inputOffset_ >= kInputCapacity / 2) {
        input_.erase(0, inputOffset_);
        inputOffset_ = 0;
    }
    bytesArmed_ = true;
    pump();
    return static_cast<long>(n);
}

bool SocketConnection::hasBytesAvailable() {
    SigpipeGuard guard;
    if (state_ != State::Open || closed_[kInput]) return false;
    if (inputAvailable() == 0 && !endOfInput_) {
        fillInput();
        updateWatch();
    }
    return state_ == State::Open && inputAvailable() > 0;
}

long SocketConnection::write(const uint8_t* buffer, size_t length) {
    SigpipeGuard guard;
    if (!opened_[kOutput] || closed_[kOutput] || state_ == State::Failed ||
        state_ == State::Closed) {
        return -1;
    }
    if (state_ != State::Open) return 0;
    size_t n = std::min(length, kOutputCapacity - output_.size());
    output_.append(reinterpret_cast<const char*>(buffer), n);
    spaceArmed_ = true;
    pump();
    return state_ == State::Failed ? -1 : static_cast<long>(n);
}

bool SocketConnection::hasSpaceAvailable() {
    SigpipeGuard guard;
    if (state_ != State::Open || closed_[kOutput]) return false;
    if (output_.size() >= kOutputCapacity) {
        flushOutput();
        updateWatch();
    }
    return state_ == State::Open && output_.size() < kOutputCapacity;
}

void SocketConnection::resolve() {
    state_ = State::Resolving;
    if (port_ <= 0 || port_ > 65535) {
        fail(ns::posixError(EINVAL));
        return;
    }
    std::weak_ptr<SocketConnection> weak = weak_from_this();
    dispatch::Scheduler* scheduler = scheduler_;
    // The resolver may wait on the network: never on the run loop's thread.
    dispatch::Queue::global().async([weak, scheduler, host = host_, port = port_] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        int status = hostNeverResolves(host)
                         ? EAI_NONAME
                         : ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
        std::vector<sockaddr_storage> addresses;
        for (addrinfo* p = status == 0 ? list : nullptr; p; p = p->ai_next) {
            if (p->ai_addrlen > sizeof(sockaddr_storage)) continue;
            sockaddr_storage address{};
            std::memcpy(&address, p->ai_addr, p->ai_addrlen);
            addresses.push_back(address);
        }
        if (list) ::freeaddrinfo(list);
        scheduler->post([weak, status, addresses = std::move(addresses)]() mutable {
            if (auto self = weak.lock()) self->resolved(status, std::move(addresses));
        });
    });
}

void SocketConnection::resolved(int status, std::vector<sockaddr_storage> addresses) {
    SigpipeGuard guard;
    if (state_ != State::Resolving) return;
    if (status != 0 || addresses.empty()) {
        fail(ns::Error(kCFNetworkErrorDomain, kCFHostErrorUnknown,
                       {{kGetAddrInfoFailureKey, status},
                        {ns::kLocalizedDescriptionKey,
                         std::string(status != 0 ? ::gai_strerror(status) : "No address")}}));
        return;
    }
    addresses_ = std::move(addresses);
    nextAddress_ = 0;
    connectNext();
}

void SocketConnection::connectNext() {
    while (nextAddress_ < addresses_.size()) {
        const sockaddr_storage& address = addresses_[nextAddress_];
        fd_ = ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd_ < 0) {
            lastConnectErrno_ = errno;
            ++nextAddress_;
            continue;
        }
        socklen_t length =
            address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
            connected();
            return;
        }
        if (errno == EINPROGRESS) {
            state_ = State::Connecting;
            updateWatch();
            return;
        }
        lastConnectErrno_ = errno;
        closeSocket();
        ++nextAddress_;
    }
    fail(ns::posixError(lastConnectErrno_ ? lastConnectErrno_ : ECONNREFUSED));
}

void SocketConnection::connected() {
    int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (secure_) {
        startTLS();
    } else {
        becomeOpen();
    }
}

void SocketConnection::startTLS() {
    auto engine = TLSEngine::loaded();
    if (!engine) {
        fail(secureStreamError(kSSLProtocolError, "Cannot set up a secure connection."));
        return;
    }
    auto session = engine->clientSession(fd_, host_);
    if (!session) {
        fail(session.error());
        return;
    }
    tls_ = std::move(*session);
    state_ = State::Handshaking;
    handshake();
}

void SocketConnection::handshake() {
    const TLSSession::Outcome outcome = tls_->handshake();
    if (outcome == TLSSession::Outcome::Done) {
        handshakeWantsRead_ = handshakeWantsWrite_ = false;
        becomeOpen();
        return;
    }
    handshakeWantsRead_ = outcome == TLSSession::Outcome::WantsRead;
    handshakeWantsWrite_ = outcome == TLSSession::Outcome::WantsWrite;
    if (handshakeWantsRead_ || handshakeWantsWrite_) {
        updateWatch();
        return;
    }
    fail(tls_->error());
}

void SocketConnection::becomeOpen() {
    state_ = State::Open;
    for (Side side : {kInput, kOutput}) {
        if (opened_[side] && !closed_[side]) openPending_[side] = true;
    }
    bytesArmed_ = spaceArmed_ = true;
    pump();
}

void SocketConnection::pump() {
    if (state_ == State::Open && flushOutput()) fillInput();
    updateWatch();
    scheduleDelivery();
}

bool SocketConnection::flushOutput() {
    while (state_ == State::Open && !output_.empty()) {
        if (tls_) {
            size_t moved = 0;
            const auto outcome = tls_->write(reinterpret_cast<const uint8_t*>(output_.data()),
                                             output_.size(), moved);
            if (outcome == TLSSession::Outcome::Done) {
                output_.erase(0, moved);
                writeWantsRead_ = false;
                continue;
            }
            if (outcome == TLSSession::Outcome::WantsWrite) break;
            if (outcome == TLSSession::Outcome::WantsRead) {
                writeWantsRead_ = true;
                break;
            }
            fail(tls_->error());
            return false;
        }
        ssize_t n = ::send(fd_, output_.data(), output_.size(), MSG_NOSIGNAL);
        if (n > 0) {
            output_.erase(0, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        fail(ns::posixError(n < 0 ? errno : EPIPE));
        return false;
    }
    return state_ == State::Open;
}

bool SocketConnection::fillInput() {
    char chunk[16 * 1024];
    readWantsWrite_ = false;
    while (state_ == State::Open && !endOfInput_ && inputAvailable() < kInputCapacity) {
        size_t room = std::min(sizeof chunk, kInputCapacity - inputAvailable());
        if (tls_) {
            size_t moved = 0;
            const auto outcome = tls_->read(reinterpret_cast<uint8_t*>(chunk), room, moved);
            if (outcome == TLSSession::Outcome::Done) {
                input_.append(chunk, moved);
                bytesArmed_ = true;
                continue;
            }
            if (outcome == TLSSession::Outcome::WantsRead) break;
            if (outcome == TLSSession::Outcome::WantsWrite) {
                readWantsWrite_ = true;
                break;
            }
            if (outcome == TLSSession::Outcome::Ended) {
                endOfInput_ = true;
                break;
            }
            fail(tls_->error());
            return false;
        }
        ssize_t n = ::recv(fd_, chunk, room, 0);
        if (n > 0) {
            input_.append(chunk, static_cast<size_t>(n));
            bytesArmed_ = true;
            continue;
        }
        if (n == 0) {
            endOfInput_ = true;
            break;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) break;
        fail(ns::posixError(errno));
        return false;
    }
    return state_ == State::Open;
}

void SocketConnection::fail(ns::Error error) {
    if (state_ == State::Failed || state_ == State::Closed) return;
    error_ = std::move(error);
    state_ = State::Failed;
    for (Side side : {kInput, kOutput}) {
        if (opened_[side] && !closed_[side]) errorPending_[side] = true;
        openPending_[side] = false;
    }
    shutDown();
    scheduleDelivery();
}

void SocketConnection::closeSocket() {
    if (source_) {
        scheduler_->removeSource(source_);
        source_ = 0;
    }
    watched_ = 0;
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

void SocketConnection::shutDown() {
    tls_.reset();
    closeSocket();
}

void SocketConnection::updateWatch() {
    unsigned want = 0;
    switch (state_) {
        case State::Connecting:
            want = dispatch::kFdWritable;
            break;
        case State::Handshaking:
            if (handshakeWantsRead_) want |= dispatch::kFdReadable;
            if (handshakeWantsWrite_) want |= dispatch::kFdWritable;
            break;
        case State::Open:
            if ((!endOfInput_ && inputAvailable() < kInputCapacity) || writeWantsRead_) {
                want |= dispatch::kFdReadable;
            }
            if ((!output_.empty() && !writeWantsRead_) || readWantsWrite_) {
                want |= dispatch::kFdWritable;
            }
            break;
        default:
            break;
    }
    if (fd_ < 0) want = 0;
    if (want == watched_) return;
    if (source_) {
        scheduler_->removeSource(source_);
        source_ = 0;
    }
    watched_ = want;
    if (want == 0) return;
    std::weak_ptr<SocketConnection> weak = weak_from_this();
    source_ = scheduler_->addSource(fd_, want, [weak](unsigned events) {
        if (auto self = weak.lock()) self->onReady(events);
    });
}

void SocketConnection::onReady(unsigned) {
    SigpipeGuard guard;
    switch (state_) {
        case State::Connecting: {
            int error = 0;
            socklen_t length = sizeof error;
            ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length);
            if (error == 0) {
                connected();
                return;
            }
            lastConnectErrno_ = error;
            closeSocket();
            ++nextAddress_;
            connectNext();
            return;
        }
        case State::Handshaking:
            handshake();
            return;
        case State::Open:
            pump();
            return;
        default:
            return;
    }
}

void SocketConnection::scheduleDelivery() {
    if (deliveryPosted_) return;
    deliveryPosted_ = true;
    std::weak_ptr<SocketConnection> weak = weak_from_this();
    scheduler_->post([weak] {
        if (auto self = weak.lock()) self->deliver();
    });
}

void SocketConnection::deliver() {
    deliveryPosted_ = false;
    deliverTo(kOutput);
    deliverTo(kInput);
}

void SocketConnection::deliverTo(Side side) {
    Stream* stream = streams_[side];
    if (!stream || !stream->scheduled_ || !opened_[side] || closed_[side]) return;
    if (openPending_[side]) {
        openPending_[side] = false;
        stream->emit(StreamEvent::OpenCompleted);
        if (streams_[side] != stream || closed_[side]) return;
    }
    if (errorPending_[side]) {
        errorPending_[side] = false;
        stream->emit(StreamEvent::ErrorOccurred);
        return;
    }
    if (state_ != State::Open) return;
    if (side == kInput) {
        if (bytesArmed_ && inputAvailable() > 0) {
            bytesArmed_ = false;
            stream->emit(StreamEvent::HasBytesAvailable);
        } else if (endOfInput_ && inputAvailable() == 0 && !endDelivered_) {
            endDelivered_ = true;
            stream->emit(StreamEvent::EndEncountered);
        }
    } else if (spaceArmed_ && output_.size() < kOutputCapacity) {
        spaceArmed_ = false;
        stream->emit(StreamEvent::HasSpaceAvailable);
    }
}

}  // namespace net
