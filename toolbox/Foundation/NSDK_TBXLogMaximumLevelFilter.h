#pragma once

#include "toolbox/Foundation/NSDK_TBXLogAllowedLevelFilter.h"

// Keeps the lines of a level and every less severe one.
class NSDK_TBXLogMaximumLevelFilter : public NSDK_TBXLogAllowedLevelFilter {
public:
    // Levels 0 to n; null when that range is empty.
    static std::shared_ptr<NSDK_TBXLogMaximumLevelFilter> initWithMaximumLevel(TBXLogLevel n) {
        return made<NSDK_TBXLogMaximumLevelFilter>(levelRange(kTBXLogLevelUnknown, n));
    }
    using NSDK_TBXLogAllowedLevelFilter::NSDK_TBXLogAllowedLevelFilter;
};
