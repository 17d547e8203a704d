#include "sdk/core/NEBCoreLogger.h"

#include <algorithm>

#include "platform/ns/Log.h"
#include "platform/ns/ProcessInfo.h"
#include "platform/ns/UserDefaults.h"

std::optional<bool> NEBLaunchDebugMode(const char* key, const char* enabledArgument,
                                       const char* disabledArgument) {
    const auto arguments = ns::ProcessInfo::processInfo().arguments();
    auto given = [&arguments](std::string_view argument) {
        return std::find(arguments.begin(), arguments.end(), argument) != arguments.end();
    };
    if (given(disabledArgument)) return false;
    if (ns::UserDefaults::standardUserDefaults()->boolForKey(key) || given(enabledArgument)) {
        return true;
    }
    return std::nullopt;
}

void NEBCoreLogger::setUp() {
    auto& s = shared();
    std::call_once(s.setUp_, [&s] {
        const auto mode = NEBLaunchDebugMode(kNEBDebugModeUserDefaultsKey, kNEBDebugEnabledArgument,
                                             kNEBDebugDisabledArgument);
        auto defaults = ns::UserDefaults::standardUserDefaults();
        if (mode == false) defaults->removeObjectForKey(kNEBDebugModeUserDefaultsKey);
        if (mode == true) defaults->setBool(kNEBDebugModeUserDefaultsKey, true);
        s.debugMode_ = mode == true;
        // Debug mode lets every level of the core's own lines through to the outputs, whatever
        // the process's minimum; the rest of the process keeps its level.
        ns::Log::setMinimumLevel(kNEBLoggerFacility,
                                 s.debugMode_ ? std::optional(ns::LogLevel::Debug) : std::nullopt);
    });
}

bool NEBCoreLogger::isDebugModeEnabled() {
    setUp();
    return shared().debugMode_.load();
}

void NEBCoreLog(int level, std::string_view service, std::string_view messageCode,
                std::string_view format, std::span<const ns::FormatArg> args) {
    if (!NEBCoreLogger::isDebugModeEnabled() && level >= kNEBLoggerLevelInfo &&
        !ns::ProcessInfo::processInfo().isBeingTraced()) {
        return;
    }
    std::string line = ns::format("%@[%@] %@", service, messageCode, ns::vformat(format, args));
    NEBCoreLogger::shared().queue()->async([level, line = std::move(line)] {
        ns::Log::write(ns::Log::levelForPriority(level), kNEBLoggerFacility, {}, line);
    });
}
