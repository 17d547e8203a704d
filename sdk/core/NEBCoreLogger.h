#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "platform/ns/Format.h"

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

// What stands for a secret (token, device secret, key, credential header) in a log line: the
// first 7 hexadecimal digits of its SHA-256 digest, so lines can be matched up without the
// secret being readable from them.
std::string NEBCoreLogHash(std::string_view secret);

// The logger's process-wide state.
class NEBCoreLogger {
public:
    // Runs once per process, on the first log call: reads the debug-mode default and the
    // launch arguments, and persists what they decide.
    static void setUp();
    static bool isDebugModeEnabled();
    // Whether a debugger traces this process (asked of the kernel on each call).
    static bool isProcessTraced();
};
