#pragma once

#include <sys/socket.h>

#include <optional>

#include "platform/net/ReachabilityFlags.h"
#include "platform/net/ReachabilityTarget.h"

namespace net {

// Decides reachability from the kernel's routing tables: a host is reachable when the kernel
// has a route to one of its addresses, the network in general when there is a default route.
// Each call opens its own netlink socket, so any thread may ask.
class RouteLookup {
public:
    // Host names are resolved first (this may wait on the resolver); one that does not resolve
    // is not reachable. Nothing when the routing tables cannot be read.
    static std::optional<ReachabilityFlags> flagsForTarget(const ReachabilityTarget& target);
    // Reachable, plus local and direct for one of this machine's addresses, plus direct for
    // an on-link destination; 0 when no route leads there.
    static std::optional<ReachabilityFlags> flagsForAddress(const sockaddr* address,
                                                            socklen_t length);
    // Reachable when an IPv4 or IPv6 default route exists, else 0.
    static std::optional<ReachabilityFlags> flagsForDefaultRoute();
};

}  // namespace net
