#include "tests/peers/SocketPeer.h"

#include <unistd.h>

#include <stdexcept>
#include <utility>
#include <vector>

#include "services/peers/PeerSocket.h"

namespace peers {

SocketPeer::SocketPeer(Options options) : options_(options) {
    if (options_.identity) context_ = options_.identity->makeServerContext();
    listener_ = listenOnLoopback(port_);
    if (listener_ < 0) throw std::runtime_error("SocketPeer: cannot listen on 127.0.0.1");
    thread_ = std::thread([this] {
        blockSigpipeOnThisThread();
        run();
    });
}

SocketPeer::~SocketPeer() {
    stop();
}

void SocketPeer::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) ::close(std::exchange(listener_, -1));
}

void SocketPeer::send(std::string bytes) {
    std::lock_guard lock(mutex_);
    outgoing_ += bytes;
}

void SocketPeer::closeConnection() {
    std::lock_guard lock(mutex_);
    closeRequested_ = true;
}

std::string SocketPeer::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

bool SocketPeer::waitForReceived(size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return received_.size() >= count; });
}

bool SocketPeer::waitForHandshakeOutcome(std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return established_ || handshakeFailed_; });
}

void SocketPeer::run() {
    auto deadline = std::chrono::steady_clock::now() + options_.lifetime;
    int fd = acceptConnection(listener_, stopping_, deadline);
    if (fd < 0) return;
    PeerSocket socket(fd, context_, stopping_);
    bool accepted = socket.accept();
    {
        std::lock_guard lock(mutex_);
        (accepted ? established_ : handshakeFailed_) = true;
        changed_.notify_all();
    }
    if (!accepted) return;

    std::vector<char> chunk(std::max<size_t>(options_.readChunk, 1));
    while (!stopping_ && std::chrono::steady_clock::now() < deadline) {
        if (!clientClosed_) {
            long n = socket.readSome(chunk.data(), chunk.size(), std::chrono::milliseconds(5));
            std::lock_guard lock(mutex_);
            if (n > 0) {
                received_.append(chunk.data(), static_cast<size_t>(n));
                if (options_.echo) outgoing_.append(chunk.data(), static_cast<size_t>(n));
                changed_.notify_all();
            } else if (n < 0) {
                clientClosed_ = true;
                changed_.notify_all();
            }
        }
        std::string piece;
        bool closing = false;
        {
            std::lock_guard lock(mutex_);
            piece = outgoing_.substr(0, std::max<size_t>(options_.writeChunk, 1));
            outgoing_.erase(0, piece.size());
            closing = closeRequested_ && outgoing_.empty();
        }
        if (!piece.empty() && !socket.writeAll(piece)) break;
        if (closing) {
            socket.shutdown();
            break;
        }
        if (clientClosed_ && piece.empty()) {
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, std::chrono::milliseconds(5));
        }
    }
}

}  // namespace peers
