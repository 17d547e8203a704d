#pragma once

#include <openssl/types.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace peers {

// Peer threads write to sockets whose client may have gone; they take EPIPE instead of SIGPIPE.
void blockSigpipeOnThisThread();

// A listening TCP socket on 127.0.0.1: on `port`, or on a port the system picks when it is 0
// (and then written back); -1 on failure.
int listenOnLoopback(uint16_t& port);
// The next connection on `listener`, or -1 once `stop` is set or `deadline` has passed.
int acceptConnection(int listener, const std::atomic<bool>& stop,
                     std::chrono::steady_clock::time_point deadline);

// The server end of one accepted connection, plain or TLS, for the peers' own threads. The
// socket is non-blocking underneath; every wait is short and checks the stop flag, so that a
// peer stops promptly however its client behaves.
class PeerSocket {
public:
    // Takes the descriptor; TLS when `context` is given.
    PeerSocket(int fd, std::shared_ptr<SSL_CTX> context, const std::atomic<bool>& stop);
    ~PeerSocket();
    PeerSocket(const PeerSocket&) = delete;
    PeerSocket& operator=(const PeerSocket&) = delete;

    // The TLS handshake (nothing to do in plain mode). False when it fails or the client gives
    // up, e.g. because it does not trust the certificate.
    bool accept(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // What has arrived, waiting at most `wait` for something: the count, 0 when nothing came,
    // -1 at the end of the stream or on an error.
    long readSome(char* buffer, size_t maxLength, std::chrono::milliseconds wait);
    // Everything, unless the connection fails or the peer is stopped.
    bool writeAll(std::string_view bytes);
    // Sends the TLS closing alert (if any) and shuts the socket down both ways.
    void shutdown();

private:
    bool waitFor(short events, std::chrono::milliseconds wait) const;
    // After a TLS call that returned `result`: waits a slice for what TLS wants to read or
    // write; false when it failed for any other reason.
    bool waitForTLS(int result) const;

    int fd_;
    std::shared_ptr<SSL_CTX> context_;
    SSL* ssl_ = nullptr;
    const std::atomic<bool>& stop_;
};

}  // namespace peers
