#pragma once

#include "toolbox/Foundation/NSDK_TBXLogAllowedLevelFilter.h"

// Keeps the lines of a level and every more severe one.
class NSDK_TBXLogMininumLevelFilter : public NSDK_TBXLogAllowedLevelFilter {
public:
    // Levels n to 4; null when that range is empty.
    static std::shared_ptr<NSDK_TBXLogMininumLevelFilter> initWithMinimumLevel(TBXLogLevel n) {
        return made<NSDK_TBXLogMininumLevelFilter>(levelRange(n, kTBXLogLevelAssert));
    }
    using NSDK_TBXLogAllowedLevelFilter::NSDK_TBXLogAllowedLevelFilter;
};
