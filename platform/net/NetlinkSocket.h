#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

struct nlmsghdr;

namespace net {

// A routing netlink socket of the kernel (NETLINK_ROUTE), closed when the object goes.
class NetlinkSocket {
public:
    // Bound to the multicast `groups` (RTMGRP_* bits; 0 for requests only). Nothing when the
    // kernel refuses. A non-blocking socket never waits in receive; a blocking one waits at
    // most `timeoutMs` for each reply.
    static std::optional<NetlinkSocket> open(uint32_t groups, bool nonBlocking,
                                             int timeoutMs = 2000);

    NetlinkSocket(NetlinkSocket&& other) noexcept;
    NetlinkSocket& operator=(NetlinkSocket&& other) noexcept;
    NetlinkSocket(const NetlinkSocket&) = delete;
    NetlinkSocket& operator=(const NetlinkSocket&) = delete;
    ~NetlinkSocket();

    int fd() const { return fd_; }

    // Sends one request (its sequence number is set here) and hands every reply message to
    // `onMessage` until the kernel ends the answer: after NLMSG_DONE or NLMSG_ERROR, or after
    // the first message of a request that is not a dump. False when sending or receiving
    // fails or times out.
    bool request(nlmsghdr& message, const std::function<void(const nlmsghdr&)>& onMessage);

    // Reads and drops whatever is queued (change announcements); true when anything was
    // read or the queue overflowed.
    bool drain();

private:
    explicit NetlinkSocket(int fd) : fd_(fd) {}

    int fd_ = -1;
    uint32_t sequence_ = 0;
};

}  // namespace net
