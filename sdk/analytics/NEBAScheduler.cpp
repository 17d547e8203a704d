#include "sdk/analytics/NEBAScheduler.h"

#include <exception>
#include <utility>

#include "platform/ns/Exception.h"
#include "platform/ns/Format.h"
#include "sdk/analytics/NEBAMonitor.h"

NEBAScheduler::NEBAScheduler(std::string label)
    : workerQueue_(dispatch::Queue::createSerial(std::move(label))) {}

void NEBAScheduler::scheduleOnWorkerQueueBlockID(std::string blockID, std::function<void()> block) {
    workerQueue_->async(
        [blockID = std::move(blockID), block = std::move(block)] { runGuarded(blockID, block); });
}

void NEBAScheduler::runGuarded(const std::string& blockID, const std::function<void()>& block) {
    // An exception escaping a queue task ends the program; a fault in one event or one reply
    // must cost that block only.
    auto report = [&](const std::string& what) {
        NEBAMonitor::error(ns::format("Exception on worker queue. Block ID=%@. Exception", blockID),
                           {ns::Value(what)});
    };
    try {
        block();
    } catch (const ns::Exception& e) {
        report(e.name() + ": " + e.reason());
    } catch (const std::exception& e) {
        report(e.what());
    } catch (...) {
        report("unknown exception");
    }
}

bool NEBAScheduler::checkOnBackgroundThreadWithMethodName(std::string_view methodName) {
    if (!dispatch::Queue::main().isCurrent()) return true;
    std::string name = methodName.empty() ? "<empty method name>" : std::string(methodName);
    NEBAMonitor::error(ns::format("Method %@ should execute on background thread", name));
    return false;
}
