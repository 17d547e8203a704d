#include "platform/net/SigpipeGuard.h"

#include <pthread.h>

#include <ctime>

namespace net {

namespace {

sigset_t pipeSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    return set;
}

bool isPending() {
    sigset_t pending;
    sigpending(&pending);
    return sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace

SigpipeGuard::SigpipeGuard() {
    sigset_t set = pipeSet();
    wasPending_ = isPending();
    pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

SigpipeGuard::~SigpipeGuard() {
    if (!wasPending_ && isPending()) {
        sigset_t set = pipeSet();
        timespec zero{};
        sigtimedwait(&set, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void SigpipeGuard::blockForThisThread() {
    sigset_t set = pipeSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

}  // namespace net
