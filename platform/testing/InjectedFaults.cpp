#include "platform/testing/InjectedFaults.h"

#include <atomic>
#include <deque>
#include <map>
#include <string>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/FaultSeam.h"

namespace ns {
namespace {

struct Pending {
    dispatch::Mutex mutex;
    std::map<std::string, std::deque<int>, std::less<>> faults GUARDED_BY(mutex);
    std::map<std::string, std::deque<std::function<void()>>, std::less<>> hooks GUARDED_BY(mutex);
    std::atomic<bool> any{false};
};

Pending& pending() {
    static auto* p = new Pending;  // asked from threads that may outlive static destruction
    return *p;
}

}  // namespace

// Takes the place of the program's answer, which is always 0.
int injectedFault(std::string_view operation) noexcept {
    auto& p = pending();
    if (!p.any.load(std::memory_order_relaxed)) return 0;
    // Each operation of the seam is also a test point of its name, so that a test can step in
    // just before it (between the program's check of a path and its open, say).
    passTestPoint(operation);
    dispatch::Lock lock(p.mutex);
    auto it = p.faults.find(operation);
    if (it == p.faults.end() || it->second.empty()) return 0;
    int error = it->second.front();
    it->second.pop_front();
    if (it->second.empty()) p.faults.erase(it);
    p.any = !p.faults.empty() || !p.hooks.empty();
    return error;
}

void passTestPoint(std::string_view point) {
    auto& p = pending();
    std::function<void()> hook;
    {
        dispatch::Lock lock(p.mutex);
        auto it = p.hooks.find(point);
        if (it == p.hooks.end() || it->second.empty()) return;
        hook = std::move(it->second.front());
        it->second.pop_front();
        if (it->second.empty()) p.hooks.erase(it);
        p.any = !p.faults.empty() || !p.hooks.empty();
    }
    // Outside the lock: the hook may itself reach the seam.
    hook();
}

void InjectedFaults::at(std::string_view point, std::function<void()> hook) {
    auto& p = pending();
    dispatch::Lock lock(p.mutex);
    p.hooks[std::string(point)].push_back(std::move(hook));
    p.any = true;
}

void InjectedFaults::add(std::string_view operation, int error, int count) {
    auto& p = pending();
    dispatch::Lock lock(p.mutex);
    auto& queue = p.faults[std::string(operation)];
    for (int i = 0; i < count; ++i) queue.push_back(error);
    p.any = true;
}

void InjectedFaults::clear() {
    auto& p = pending();
    dispatch::Lock lock(p.mutex);
    p.faults.clear();
    p.hooks.clear();
    p.any = false;
}

}  // namespace ns
