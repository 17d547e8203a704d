#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "platform/dispatch/Queue.h"
#include "platform/ns/SharedInstance.h"

// What the core logger decides once per launch (whether it is set up, debug mode) and the
// queue its lines are written on.
class NEBCoreLoggerState {
public:
    static NEBCoreLoggerState& shared() { return ns::SharedInstance<NEBCoreLoggerState>::get(); }

    // Lines already handed over are written before the state goes.
    ~NEBCoreLoggerState() {
        if (queue) queue->sync([] {});
    }

    std::mutex mutex;
    bool setUp = false;
    std::atomic<bool> debugMode{false};
    std::shared_ptr<dispatch::Queue> queue;

private:
    friend class ns::SharedInstance<NEBCoreLoggerState>;
    NEBCoreLoggerState() = default;
};
