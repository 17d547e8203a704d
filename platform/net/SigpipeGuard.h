#pragma once

#include <signal.h>

namespace net {

// Keeps SIGPIPE from ending the process while the calling thread works a socket whose peer may
// have gone: OpenSSL writes with plain write(2), which raises the signal. Within the scope the
// signal is blocked for this thread, and one raised meanwhile is taken off the pending set
// before the old mask returns, so the write just fails with EPIPE.
class SigpipeGuard {
public:
    SigpipeGuard();
    ~SigpipeGuard();
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

    // For threads that only ever work sockets: blocks the signal for good.
    static void blockForThisThread();

private:
    sigset_t previous_;
    bool wasPending_ = false;
};

}  // namespace net
