#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Object.h"
#include "toolbox/Foundation/TBXLogFormatter.h"

// The format applied to the arguments, nothing more.
class NSDK_TBXLogBasicFormatter : public ns::Object, public TBXLogFormatter {
public:
    // Nullopt without a format; the function name and level are ignored.
    std::optional<std::string> stringForFunc(const std::optional<std::string>& func,
                                             std::optional<std::string_view> format,
                                             std::span<const ns::FormatArg> args,
                                             TBXLogLevel level) override;

    // The name trimmed; "(unknown)" for none; "()" added unless it already reads as a method
    // ("-[", "+[") or a call (ends with ")").
    std::string prettyNameForFunc(const std::optional<std::string>& func) const;
};
