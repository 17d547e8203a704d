#pragma once

#include <sys/socket.h>

#include <optional>
#include <string>

namespace net {

// What a reachability source watches: a host (by name or numeric text) or a socket address.
// The IPv4 address 0.0.0.0 stands for the network in general.
struct ReachabilityTarget {
    std::optional<std::string> hostName;
    sockaddr_storage address{};
    socklen_t addressLength = 0;

    static ReachabilityTarget forHostName(std::string hostName);
    // Nothing for a null address or a length that does not fit.
    static std::optional<ReachabilityTarget> forAddress(const sockaddr* address, socklen_t length);
    // 0.0.0.0: a 16-byte IPv4 socket address, all zero but its family.
    static ReachabilityTarget forNetworkInGeneral();

    bool isNetworkInGeneral() const;
};

}  // namespace net
