#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/dispatch/Queue.h"

// Owns the engine's serial worker queue. Every block runs under a guard: whatever it throws is
// caught and logged with the block's ID, so one failing block never ends the process or stops
// the blocks queued behind it.
class NEBAScheduler {
public:
    static constexpr const char* kWorkerQueueLabel = "com.nebula.nmp.measurement.worker";

    explicit NEBAScheduler(std::string label);

    const std::shared_ptr<dispatch::Queue>& workerQueue() const { return workerQueue_; }
    void scheduleOnWorkerQueueBlockID(std::string blockID, std::function<void()> block);
    // Runs a block as the worker does, guard included; for work already on the worker queue.
    static void runGuarded(const std::string& blockID, const std::function<void()>& block);
    // A diagnostic only: logs when called on the main thread and answers whether it was not.
    static bool checkOnBackgroundThreadWithMethodName(std::string_view methodName);

private:
    std::shared_ptr<dispatch::Queue> workerQueue_;
};
