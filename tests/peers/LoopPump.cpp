#include "tests/peers/LoopPump.h"

#include <poll.h>

#include <vector>

#include "platform/dispatch/RunLoop.h"

namespace peers {

bool runMainLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds limit,
                      QueueWait queues) {
    auto& loop = dispatch::RunLoop::main();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::vector<dispatch::FdEvents> ready;
    for (;;) {
        if (queues == QueueWait::UntilIdle) {
            loop.runUntilIdle();
        } else {
            loop.dispatchReady(ready);
        }
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::vector<pollfd> fds;
        for (const auto& watched : loop.watchedFds()) {
            fds.push_back({watched.fd, dispatch::Scheduler::toPollEvents(watched.events), 0});
        }
        fds.push_back({loop.wakeFd(), POLLIN, 0});
        const bool busy = queues == QueueWait::No && loop.hasReadyWork();
        ::poll(fds.data(), fds.size(), busy ? 0 : 10);
        ready.clear();
        for (size_t i = 0; i + 1 < fds.size(); ++i) {
            if (fds[i].revents) {
                ready.push_back({fds[i].fd, dispatch::Scheduler::fromPollEvents(fds[i].revents)});
            }
        }
    }
}

}  // namespace peers
