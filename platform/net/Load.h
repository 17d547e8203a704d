#pragma once

namespace net {

// One attempt at fetching one request for a task: a transfer over the network or a
// URL-loading protocol's answer. A task starts a new load for each redirection it follows.
class Load {
public:
    virtual ~Load() = default;
    // Ends the load; it reports nothing afterwards. Safe to call more than once, from any
    // thread, and after the load has finished by itself.
    virtual void stop() = 0;
};

}  // namespace net
