#include "platform/dispatch/Once.h"

#include "platform/ns/Exception.h"

namespace dispatch {

void Once::callSlow(const std::function<void()>& fn) {
    if (runner_.load() == std::this_thread::get_id()) {
        throw ns::Exception(ns::kInternalInconsistencyException,
                            "A once-only function called itself while running");
    }
    Lock lock(mutex_);
    if (done_.load(std::memory_order_relaxed)) return;
    struct Runner {
        std::atomic<std::thread::id>& id;
        ~Runner() { id.store(std::thread::id()); }
    } runner{runner_};
    runner_.store(std::this_thread::get_id());
    fn();
    done_.store(true, std::memory_order_release);
}

}  // namespace dispatch
