#include "platform/net/NetlinkSocket.h"

#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace net {

namespace {

constexpr size_t kReceiveBufferSize = 64 * 1024;

}  // namespace

std::optional<NetlinkSocket> NetlinkSocket::open(uint32_t groups, bool nonBlocking, int timeoutMs) {
    int type = SOCK_RAW | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0);
    int fd = ::socket(AF_NETLINK, type, NETLINK_ROUTE);
    if (fd < 0) return std::nullopt;
    NetlinkSocket socket(fd);
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = groups;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        return std::nullopt;
    }
    if (!nonBlocking) {
        timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    return socket;
}

NetlinkSocket::NetlinkSocket(NetlinkSocket&& other) noexcept
    : fd_(other.fd_), sequence_(other.sequence_) {
    other.fd_ = -1;
}

NetlinkSocket& NetlinkSocket::operator=(NetlinkSocket&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        sequence_ = other.sequence_;
        other.fd_ = -1;
    }
    return *this;
}

NetlinkSocket::~NetlinkSocket() {
    if (fd_ >= 0) ::close(fd_);
}

bool NetlinkSocket::request(nlmsghdr& message,
                            const std::function<void(const nlmsghdr&)>& onMessage) {
    message.nlmsg_seq = ++sequence_;
    message.nlmsg_pid = 0;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd_, &message, message.nlmsg_len, 0, reinterpret_cast<const sockaddr*>(&kernel),
                 sizeof kernel) < 0) {
        return false;
    }
    const bool dump = (message.nlmsg_flags & NLM_F_DUMP) == NLM_F_DUMP;
    std::vector<char> buffer(kReceiveBufferSize);
    while (true) {
        ssize_t received = ::recv(fd_, buffer.data(), buffer.size(), 0);
        if (received < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        auto left = static_cast<unsigned>(received);
        for (auto* reply = reinterpret_cast<const nlmsghdr*>(buffer.data()); NLMSG_OK(reply, left);
             reply = NLMSG_NEXT(reply, left)) {
            // Announcements and stale answers share the socket only if it was bound to
            // groups; skip whatever does not answer this request.
            if (reply->nlmsg_seq != sequence_) continue;
            if (reply->nlmsg_type == NLMSG_DONE) return true;
            onMessage(*reply);
            if (reply->nlmsg_type == NLMSG_ERROR || !dump) return true;
        }
    }
}

bool NetlinkSocket::drain() {
    std::vector<char> buffer(kReceiveBufferSize);
    bool any = false;
    while (true) {
        ssize_t received = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (received > 0) {
            any = true;
            continue;
        }
        if (received < 0 && errno == EINTR) continue;
        // ENOBUFS: announcements were lost, so whatever they said must be read afresh.
        if (received < 0 && errno == ENOBUFS) {
            any = true;
            continue;
        }
        return any;
    }
}

}  // namespace net
