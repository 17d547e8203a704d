#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "services/peers/TestCA.h"

namespace peers {

// A raw socket peer for stream tests: it listens on 127.0.0.1, accepts one connection (TLS
// with the given identity, or plain TCP), and then, on its own thread, keeps reading what the
// client sends (in reads of at most `readChunk` bytes) and writes what the test queued with
// send() (in writes of at most `writeChunk` bytes), so that the client sees its data arrive in
// pieces. With `echo`, everything received is sent back.
class SocketPeer {
public:
    struct Options {
        const ServerIdentity* identity = nullptr;  // plain TCP when null
        bool echo = false;
        size_t readChunk = 4096;
        size_t writeChunk = 4096;
        std::chrono::seconds lifetime{60};
    };

    explicit SocketPeer(Options options);
    ~SocketPeer();
    SocketPeer(const SocketPeer&) = delete;
    SocketPeer& operator=(const SocketPeer&) = delete;

    uint16_t port() const { return port_; }

    void send(std::string bytes);
    // Sends what is queued, then the TLS closing alert, and closes the connection.
    void closeConnection();

    std::string received() const;
    bool waitForReceived(size_t count,
                         std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
    // Whether a client connected and (for TLS) completed the handshake.
    bool established() const { return established_; }
    // A client connected but the TLS handshake failed (e.g. it refused the certificate).
    bool handshakeFailed() const { return handshakeFailed_; }
    bool waitForHandshakeOutcome(std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
    // The client ended its side of the stream.
    bool clientClosed() const { return clientClosed_; }

    void stop();

private:
    void run();

    const Options options_;
    std::shared_ptr<SSL_CTX> context_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> established_{false};
    std::atomic<bool> handshakeFailed_{false};
    std::atomic<bool> clientClosed_{false};

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::string received_;
    std::string outgoing_;
    bool closeRequested_ = false;
    std::thread thread_;
};

}  // namespace peers
