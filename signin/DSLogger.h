#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Date.h"
#include "platform/ns/Format.h"
#include "platform/ns/UUID.h"
#include "platform/ns/Value.h"

using DSLogLevel = uint32_t;
inline constexpr DSLogLevel DS_LOG_LEVEL_NONE = 0;
inline constexpr DSLogLevel DS_LOG_LEVEL_ERROR = 1;
inline constexpr DSLogLevel DS_LOG_LEVEL_WARN = 2;
inline constexpr DSLogLevel DS_LOG_LEVEL_INFO = 3;
inline constexpr DSLogLevel DS_LOG_LEVEL_VERBOSE = 4;

// Where a call was made: the calling function's name and line, taken at the call site.
struct DSCodeLocation {
    const char* function = "";
    unsigned line = 0;
    static DSCodeLocation current(const char* function = __builtin_FUNCTION(),
                                  unsigned line = __builtin_LINE()) {
        return {function, line};
    }
};

// An object that logs about itself; its component, when it names one, tags its lines.
class DSLogContext {
public:
    virtual ~DSLogContext() = default;
    virtual std::optional<std::string> component() const { return std::nullopt; }
};

// Receives the level, the line (without level name), the additional information, the error
// code and the user information.
using DSLogCallback = std::function<void(DSLogLevel level, const std::string& message,
                                         const std::optional<std::string>& additionalInformation,
                                         int64_t errorCode, const ns::Dictionary* userInfo)>;

// The sign-in library's one logger: process-wide level, system-log switch and callback.
class DSLogger {
public:
    static void setLevel(DSLogLevel level);
    static DSLogLevel getLevel();
    static void setNSLogging(bool on);
    static bool getNSLogging();
    static void setLogCallBack(DSLogCallback callback);
    static DSLogCallback getLogCallBack();
    static std::string stringForLevel(DSLogLevel level);
    // Whether a line of this level would be written at all: lines that would not are not
    // even formatted (the hot paths log at levels that are usually off).
    static bool isEnabled(DSLogLevel level);

    static void log(DSLogLevel level, const DSLogContext* context,
                    const std::optional<std::string>& message, int64_t errorCode,
                    const std::optional<std::string>& info,
                    const std::optional<ns::UUID>& correlationId,
                    const ns::Dictionary* userInfo = nullptr);
    // The additional information formatted from `format` and its arguments.
    template <class... Args>
    static void logFormat(DSLogLevel level, const DSLogContext* context,
                          const std::optional<std::string>& message, int64_t errorCode,
                          const std::optional<ns::UUID>& correlationId,
                          const ns::Dictionary* userInfo, std::string_view format,
                          const Args&... args) {
        if (!isEnabled(level)) return;
        log(level, context, message, errorCode, ns::format(format, args...), correlationId,
            userInfo);
    }

    // The first 7 hexadecimal digits of the text's SHA-256: how tokens and other personal
    // values appear in logs.
    static std::optional<std::string> getHash(const std::optional<std::string>& text);
    static void logToken(const std::optional<std::string>& token, std::string_view tokenType,
                         const std::optional<ns::Date>& expiresOn,
                         const std::optional<std::string>& context,
                         const std::optional<ns::UUID>& correlationId);

    // The client identification headers ("x-client-SKU" ...). A copy: later changes never
    // reach a copy that a request is reading.
    static ns::Dictionary salId();
    static void setIdValue(const std::string& value, const std::string& key);
    static void setSalVersion(const std::string& version);
    static std::string getSalVersion();
    static std::optional<std::string> getCPUInfo();

    // An argument check that failed: logs "InvalidArgumentException: <name>" at ERROR with code
    // 100 and raises the invalid-argument exception "Please provide a valid '<name>'
    // parameter.".
    [[noreturn]] static void raiseInvalidArgument(std::string_view argument,
                                                  DSCodeLocation where = DSCodeLocation::current());
    // The ERROR line of a refused argument: the message with code 100 and the function and
    // line as additional information.
    static void logInvalidArgument(std::string_view message,
                                   const std::optional<ns::UUID>& correlationId = std::nullopt,
                                   DSCodeLocation where = DSCodeLocation::current());
    // The verbose line that marks an entry into the library's API.
    static void logAPIEntry(DSCodeLocation where = DSCodeLocation::current());
    static std::string functionAndLine(const DSCodeLocation& where);
};
