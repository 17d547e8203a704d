#pragma once

#include <string>

#include "toolbox/Foundation/NSDK_TBXLogBasicFormatter.h"

// "date process[pid/thread] [lvl=N] function() message", the date in local time as
// "yyyy-MM-dd HH:mm:ss.SSS" from the process clock.
class NSDK_TBXLogStandardFormatter : public NSDK_TBXLogBasicFormatter {
public:
    NSDK_TBXLogStandardFormatter();

    std::optional<std::string> stringForFunc(const std::optional<std::string>& func,
                                             std::optional<std::string_view> format,
                                             std::span<const ns::FormatArg> args,
                                             TBXLogLevel level) override;

private:
    std::string pname_;
    int32_t pid_;
};
