#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "toolbox/Foundation/TBXLogLevel.h"

// The message as it stands; the function name and level are ignored.
class NSDK_TBXLogBasicFormatter : public TBXLogFormatter {
public:
    std::optional<std::string> stringForFunc(std::string_view, std::string_view message,
                                             TBXLogLevel) const override {
        return std::string(message);
    }

    // The name trimmed; "(unknown)" for none; "()" added unless it already reads as a method
    // ("-[", "+[") or a call (ends with ")").
    static std::string prettyNameForFunc(std::string_view func);
};
