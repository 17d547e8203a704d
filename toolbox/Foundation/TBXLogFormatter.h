#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/ns/Format.h"
#include "toolbox/Foundation/TBXLogLevel.h"

// Turns a caller's format and arguments into one log line.
class TBXLogFormatter {
public:
    virtual ~TBXLogFormatter() = default;
    // `func` is the calling function's name when the caller gave one; a missing format means
    // the caller gave none. Nullopt drops the message.
    virtual std::optional<std::string> stringForFunc(const std::optional<std::string>& func,
                                                     std::optional<std::string_view> format,
                                                     std::span<const ns::FormatArg> args,
                                                     TBXLogLevel level) = 0;
};
