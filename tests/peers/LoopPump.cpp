#include "tests/peers/LoopPump.h"

#include <poll.h>

#include <vector>

#include "platform/dispatch/RunLoop.h"

namespace peers {

bool runMainLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    auto& loop = dispatch::RunLoop::main();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        loop.runUntilIdle();
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::vector<pollfd> fds;
        for (const auto& watched : loop.watchedFds()) {
            fds.push_back({watched.fd, dispatch::Scheduler::toPollEvents(watched.events), 0});
        }
        fds.push_back({loop.wakeFd(), POLLIN, 0});
        ::poll(fds.data(), fds.size(), 10);
    }
}

}  // namespace peers
