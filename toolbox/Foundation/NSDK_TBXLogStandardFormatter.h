#pragma once

#include <cstdint>
#include <string>

#include "toolbox/Foundation/NSDK_TBXLogBasicFormatter.h"

// "date process[pid/thread] [lvl=N] function() message", the date in local time as
// "yyyy-MM-dd HH:mm:ss.SSS" from the process clock.
class NSDK_TBXLogStandardFormatter : public NSDK_TBXLogBasicFormatter {
public:
    NSDK_TBXLogStandardFormatter();

    std::optional<std::string> stringForFunc(std::string_view func, std::string_view message,
                                             TBXLogLevel level) const override;

private:
    std::string pname_;
    int32_t pid_;
};
