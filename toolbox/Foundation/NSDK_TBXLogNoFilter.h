#pragma once

#include "toolbox/Foundation/TBXLogLevel.h"

// Keeps every line.
class NSDK_TBXLogNoFilter : public TBXLogFilter {
public:
    bool filterAllowsMessage(std::string_view, TBXLogLevel) const override { return true; }
};
