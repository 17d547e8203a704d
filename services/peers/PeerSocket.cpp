#include "services/peers/PeerSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace peers {

namespace {

constexpr std::chrono::milliseconds kSlice{20};

}  // namespace

void blockSigpipeOnThisThread() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int listenOnLoopback(uint16_t& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (port != 0) {
        const int reuse = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    }
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 64) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

int acceptConnection(int listener, const std::atomic<bool>& stop,
                     std::chrono::steady_clock::time_point deadline) {
    while (!stop && std::chrono::steady_clock::now() < deadline) {
        pollfd p{listener, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(kSlice.count())) <= 0) continue;
        int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) return fd;
    }
    return -1;
}

PeerSocket::PeerSocket(int fd, std::shared_ptr<SSL_CTX> context, const std::atomic<bool>& stop)
    : fd_(fd), context_(std::move(context)), stop_(stop) {
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    if (context_) {
        ssl_ = SSL_new(context_.get());
        SSL_set_fd(ssl_, fd_);
        SSL_set_mode(ssl_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        SSL_set_accept_state(ssl_);
    }
}

PeerSocket::~PeerSocket() {
    if (ssl_) SSL_free(ssl_);
    ::close(fd_);
}

bool PeerSocket::waitFor(short events, std::chrono::milliseconds wait) const {
    pollfd p{fd_, events, 0};
    return ::poll(&p, 1, static_cast<int>(wait.count())) > 0;
}

bool PeerSocket::waitForTLS(int result) const {
    const int error = SSL_get_error(ssl_, result);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) return false;
    waitFor(error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, kSlice);
    return true;
}

bool PeerSocket::accept(std::chrono::milliseconds limit) {
    if (!ssl_) return true;
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!stop_ && std::chrono::steady_clock::now() < deadline) {
        ERR_clear_error();
        int result = SSL_do_handshake(ssl_);
        if (result == 1) return true;
        if (!waitForTLS(result)) return false;
    }
    return false;
}

long PeerSocket::readSome(char* buffer, size_t maxLength, std::chrono::milliseconds wait) {
    auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (ssl_) {
            ERR_clear_error();
            int n = SSL_read(ssl_, buffer, static_cast<int>(maxLength));
            if (n > 0) return n;
            int error = SSL_get_error(ssl_, n);
            if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) return -1;
        } else {
            ssize_t n = ::recv(fd_, buffer, maxLength, 0);
            if (n > 0) return n;
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return -1;
        }
        auto now = std::chrono::steady_clock::now();
        if (stop_ || now >= deadline) return 0;
        waitFor(POLLIN, std::min(kSlice, std::chrono::duration_cast<std::chrono::milliseconds>(
                                             deadline - now)));
    }
}

bool PeerSocket::writeAll(std::string_view bytes) {
    while (!bytes.empty()) {
        if (stop_) return false;
        if (ssl_) {
            ERR_clear_error();
            int n = SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size()));
            if (n > 0) {
                bytes.remove_prefix(static_cast<size_t>(n));
                continue;
            }
            if (!waitForTLS(n)) return false;
        } else {
            ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n > 0) {
                bytes.remove_prefix(static_cast<size_t>(n));
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
                waitFor(POLLOUT, kSlice);
            } else {
                return false;
            }
        }
    }
    return true;
}

void PeerSocket::shutdown() {
    if (ssl_) {
        ERR_clear_error();
        SSL_shutdown(ssl_);
    }
    ::shutdown(fd_, SHUT_RDWR);
}

}  // namespace peers
