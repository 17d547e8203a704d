#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>

#include "platform/dispatch/Queue.h"
#include "platform/ns/Format.h"
#include "platform/ns/SharedInstance.h"

// The SDK core's logging: each line is tagged with a service name and a message code of the
// form "I-" + three capitals + six digits, and goes to the system log on the serial queue
// "NEBLoggingClientQueue", in call order. Errors always get through; info and debug lines only
// in debug mode or while a debugger traces the process.

// The system log's numeric levels (0 is the most severe).
inline constexpr int kNEBLoggerLevelError = 3;
inline constexpr int kNEBLoggerLevelWarning = 4;
inline constexpr int kNEBLoggerLevelNotice = 5;
inline constexpr int kNEBLoggerLevelInfo = 6;
inline constexpr int kNEBLoggerLevelDebug = 7;

inline constexpr const char* kNEBLoggerCore = "[Nebula/Core]";
inline constexpr const char* kNEBLoggerFacility = "com.nebula.app.logger";
inline constexpr const char* kNEBLoggingClientQueueLabel = "NEBLoggingClientQueue";
// Persisted debug mode, and the launch arguments that set and clear it.
inline constexpr const char* kNEBDebugModeUserDefaultsKey = "/nebula/nebula/debug_mode";
inline constexpr const char* kNEBDebugEnabledArgument = "-NEBDebugEnabled";
inline constexpr const char* kNEBDebugDisabledArgument = "-NEBDebugDisabled";

// Debug mode as a launch decides it: off with the disabling argument, on with the enabling one
// or when the persisted default `key` says so, undecided otherwise.
std::optional<bool> NEBLaunchDebugMode(const char* key, const char* enabledArgument,
                                       const char* disabledArgument);

void NEBCoreLog(int level, std::string_view service, std::string_view messageCode,
                std::string_view format, std::span<const ns::FormatArg> args);

template <class... Args>
void NEBCoreLogError(std::string_view service, std::string_view messageCode,
                     std::string_view format, const Args&... args) {
    const std::array<ns::FormatArg, sizeof...(Args)> list{ns::FormatArg(args)...};
    NEBCoreLog(kNEBLoggerLevelError, service, messageCode, format, list);
}

template <class... Args>
void NEBCoreLogInfo(std::string_view service, std::string_view messageCode, std::string_view format,
                    const Args&... args) {
    const std::array<ns::FormatArg, sizeof...(Args)> list{ns::FormatArg(args)...};
    NEBCoreLog(kNEBLoggerLevelInfo, service, messageCode, format, list);
}

template <class... Args>
void NEBCoreLogDebug(std::string_view service, std::string_view messageCode,
                     std::string_view format, const Args&... args) {
    const std::array<ns::FormatArg, sizeof...(Args)> list{ns::FormatArg(args)...};
    NEBCoreLog(kNEBLoggerLevelDebug, service, messageCode, format, list);
}

// The logger's process-wide state: what it decides once per launch and the queue its lines
// are written on.
class NEBCoreLogger {
public:
    static NEBCoreLogger& shared() { return ns::SharedInstance<NEBCoreLogger>::get(); }
    // Lines already handed over are written before the logger goes.
    ~NEBCoreLogger() {
        queue_->sync([] {});
    }

    // Runs once per launch, on the first log call: reads the debug-mode default and the launch
    // arguments, and persists what they decide.
    static void setUp();
    static bool isDebugModeEnabled();
    const std::shared_ptr<dispatch::Queue>& queue() const { return queue_; }

private:
    friend class ns::SharedInstance<NEBCoreLogger>;
    NEBCoreLogger() : queue_(dispatch::Queue::createSerial(kNEBLoggingClientQueueLabel)) {}

    std::once_flag setUp_;
    std::atomic<bool> debugMode_{false};
    const std::shared_ptr<dispatch::Queue> queue_;
};
