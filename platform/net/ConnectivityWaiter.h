#pragma once

#include <functional>

namespace net {

// Work that waits for the network to come back: each callback runs once, on the main run loop,
// the next time the network in general turns reachable. While callbacks wait, one
// reachability source (ReachabilityFlagSource's current factory) watches; it goes when none
// are left. Any thread.
class ConnectivityWaiter {
public:
    static void whenReachable(std::function<void()> callback);
};

}  // namespace net
