// Loaded into the host ahead of it (LD_PRELOAD) by the signal cases: starts, before main(), a
// thread that leaves every signal unblocked, as threads that libraries start early may do.

#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

void* waitForSignals(void*) {
    for (;;) ::pause();
    return nullptr;
}

__attribute__((constructor)) void startEarlyThread() {
    ::unsetenv("LD_PRELOAD");  // the host's own processes start without it
    sigset_t none;
    sigemptyset(&none);
    sigset_t saved;
    pthread_sigmask(SIG_SETMASK, &none, &saved);  // a new thread takes its creator's mask
    pthread_t thread;
    if (pthread_create(&thread, nullptr, waitForSignals, nullptr) == 0) pthread_detach(thread);
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

}  // namespace
