#include "platform/net/ConnectivityWaiter.h"

#include <memory>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/ReachabilityFlagSource.h"
#include "platform/net/ReachabilityTarget.h"

namespace net {
namespace {

struct Waiting {
    dispatch::Mutex mutex;
    std::vector<std::function<void()>> callbacks GUARDED_BY(mutex);
    std::shared_ptr<ReachabilityFlagSource> source;  // main thread only
};

Waiting& waiting() {
    static auto* w = new Waiting;  // never destroyed: queued work may outlive static teardown
    return *w;
}

void stopWatching() {
    auto& w = waiting();
    auto source = std::move(w.source);
    if (!source) return;
    source->unscheduleFromMainRunLoop();
    source->setCallback({});
}

void reachabilityChanged(ReachabilityFlags flags) {
    if (!(flags & kReachabilityFlagsReachable)) return;
    auto& w = waiting();
    std::vector<std::function<void()>> ready;
    {
        dispatch::Lock lock(w.mutex);
        ready.swap(w.callbacks);
    }
    for (auto& callback : ready) callback();
    // Later, not from inside the source's own callback.
    dispatch::Queue::main().async([] {
        auto& w = waiting();
        {
            dispatch::Lock lock(w.mutex);
            if (!w.callbacks.empty()) return;
        }
        stopWatching();
    });
}

// Main thread: a source while callbacks wait.
void watch() {
    auto& w = waiting();
    {
        dispatch::Lock lock(w.mutex);
        if (w.callbacks.empty()) return;
    }
    if (w.source) return;
    w.source = ReachabilityFlagSource::create(ReachabilityTarget::forNetworkInGeneral());
    if (!w.source) return;
    w.source->setCallback(&reachabilityChanged);
    w.source->scheduleWithMainRunLoop();
}

}  // namespace

void ConnectivityWaiter::whenReachable(std::function<void()> callback) {
    auto& w = waiting();
    {
        dispatch::Lock lock(w.mutex);
        w.callbacks.push_back(std::move(callback));
    }
    dispatch::Queue::main().async(&watch);
}

}  // namespace net
