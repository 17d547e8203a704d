#pragma once

#include <string>

#include "toolbox/Foundation/TBXLogLevel.h"

// Decides by level (and line) whether a formatted line is kept.
class TBXLogFilter {
public:
    virtual ~TBXLogFilter() = default;
    virtual bool filterAllowsMessage(const std::string& message, TBXLogLevel level) = 0;
};
