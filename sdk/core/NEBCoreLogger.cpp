#include "sdk/core/NEBCoreLogger.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <memory>
#include <mutex>

#include "platform/dispatch/Queue.h"
#include "platform/ns/Log.h"
#include "platform/ns/ProcessInfo.h"
#include "platform/ns/UserDefaults.h"
#include "platform/sec/Digest.h"
#include "sdk/core/NEBCoreLoggerState.h"

namespace {

NEBCoreLoggerState& state() {
    return NEBCoreLoggerState::shared();  // never destroyed: lines may be logged during exit
}

bool hasArgument(const std::vector<std::string>& arguments, std::string_view argument) {
    return std::find(arguments.begin(), arguments.end(), argument) != arguments.end();
}

ns::LogLevel systemLogLevel(int level) {
    if (level <= 2) return ns::LogLevel::Fault;
    if (level == kNEBLoggerLevelError) return ns::LogLevel::Error;
    if (level < kNEBLoggerLevelInfo) return ns::LogLevel::Default;
    if (level == kNEBLoggerLevelInfo) return ns::LogLevel::Info;
    return ns::LogLevel::Debug;
}

std::shared_ptr<dispatch::Queue> outputQueue() {
    NEBCoreLogger::setUp();
    std::lock_guard lock(state().mutex);
    return state().queue;
}

}  // namespace

void NEBCoreLogger::setUp() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (s.setUp) return;
    s.setUp = true;
    if (!s.queue) s.queue = dispatch::Queue::createSerial(kNEBLoggingClientQueueLabel);

    auto defaults = ns::UserDefaults::standardUserDefaults();
    auto arguments = ns::ProcessInfo::processInfo().arguments();
    if (hasArgument(arguments, kNEBDebugDisabledArgument)) {
        defaults->removeObjectForKey(kNEBDebugModeUserDefaultsKey);
        s.debugMode = false;
    } else if (defaults->boolForKey(kNEBDebugModeUserDefaultsKey) ||
               hasArgument(arguments, kNEBDebugEnabledArgument)) {
        defaults->setBool(kNEBDebugModeUserDefaultsKey, true);
        s.debugMode = true;
    } else {
        s.debugMode = false;
    }
    // Debug mode lets every level of the core's own lines through to the outputs, whatever
    // the process's minimum; the rest of the process keeps its level.
    ns::Log::setMinimumLevel(kNEBLoggerFacility,
                             s.debugMode ? std::optional(ns::LogLevel::Debug) : std::nullopt);
}

bool NEBCoreLogger::isDebugModeEnabled() {
    setUp();
    return state().debugMode.load();
}

bool NEBCoreLogger::isProcessTraced() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("TracerPid:", 0) == 0) {
            auto value = line.substr(10);
            return value.find_first_not_of(" \t0") != std::string::npos;
        }
    }
    return false;
}

void NEBCoreLog(int level, std::string_view service, std::string_view messageCode,
                std::string_view format, std::span<const ns::FormatArg> args) {
    auto queue = outputQueue();
    if (!NEBCoreLogger::isDebugModeEnabled() && level >= kNEBLoggerLevelInfo &&
        !NEBCoreLogger::isProcessTraced()) {
        return;
    }
    std::string message = ns::vformat(format, args);
    std::string line = ns::format("%@[%@] %@", service, messageCode, message);
    queue->async([level, line = std::move(line)] {
        ns::Log::write(systemLogLevel(level), kNEBLoggerFacility, {}, line);
    });
}

std::string NEBCoreLogHash(std::string_view secret) {
    return sec::hexString(sec::sha256(secret)).substr(0, 7);
}
