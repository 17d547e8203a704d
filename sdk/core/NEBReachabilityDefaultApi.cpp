// The reachability checker's service table over the platform's reachability flag sources.
#include <memory>

#include "platform/dispatch/Queue.h"
#include "platform/net/ReachabilityFlagSource.h"
#include "sdk/core/NEBReachabilityChecker.h"

namespace {

// What a handle's callbacks reach; they hold it weakly, so none runs after release.
struct Watch {
    NEBReachabilityHandle handle = nullptr;
    NEBReachabilityCallback callback = nullptr;
    void* context = nullptr;
    uint64_t generation = 0;  // moves on each unschedule, voiding reads in flight
};

struct Handle {
    std::shared_ptr<net::ReachabilityFlagSource> source;
    std::shared_ptr<Watch> watch = std::make_shared<Watch>();
};

void deliver(const std::weak_ptr<Watch>& weak, uint32_t flags) {
    auto watch = weak.lock();
    if (watch && watch->callback) watch->callback(watch->handle, flags, watch->context);
}

NEBReachabilityHandle createWithName(const char* hostName) {
    auto source = net::ReachabilityFlagSource::create(
        net::ReachabilityTarget::forHostName(hostName ? hostName : ""));
    if (!source) return nullptr;
    auto* handle = new Handle{std::move(source)};
    handle->watch->handle = handle;
    return handle;
}

bool setCallback(NEBReachabilityHandle opaque, NEBReachabilityCallback callback, void* context) {
    auto* handle = static_cast<Handle*>(opaque);
    handle->watch->callback = callback;
    handle->watch->context = context;
    if (!callback) return handle->source->setCallback({});
    std::weak_ptr<Watch> weak = handle->watch;
    return handle->source->setCallback(
        [weak](net::ReachabilityFlags flags) { deliver(weak, flags); });
}

bool scheduleWithRunLoop(NEBReachabilityHandle opaque, dispatch::RunLoop&) {
    auto* handle = static_cast<Handle*>(opaque);
    if (!handle->source->scheduleWithMainRunLoop()) return false;
    // The kernel's source reports changes only; read the flags once, as a newly scheduled
    // platform service reports them, so that the status does not stay unknown on a network
    // that never changes. The read may wait for name resolution, so it runs off the main
    // thread.
    std::weak_ptr<Watch> weak = handle->watch;
    std::weak_ptr<net::ReachabilityFlagSource> source = handle->source;
    uint64_t generation = handle->watch->generation;
    dispatch::Queue::global().async([weak, source, generation] {
        auto reader = source.lock();
        if (!reader) return;
        auto flags = reader->currentFlags();
        if (!flags) return;
        dispatch::RunLoop::main().post([weak, generation, flags = *flags] {
            auto watch = weak.lock();
            if (watch && watch->generation == generation) deliver(weak, flags);
        });
    });
    return true;
}

bool unscheduleFromRunLoop(NEBReachabilityHandle opaque, dispatch::RunLoop&) {
    auto* handle = static_cast<Handle*>(opaque);
    ++handle->watch->generation;
    return handle->source->unscheduleFromMainRunLoop();
}

void release(NEBReachabilityHandle opaque) {
    delete static_cast<Handle*>(opaque);
}

constexpr NEBReachabilityApi kDefaultApi = {createWithName, setCallback, scheduleWithRunLoop,
                                            unscheduleFromRunLoop, release};

}  // namespace

const NEBReachabilityApi* NEBReachabilityDefaultApi() {
    return &kDefaultApi;
}
