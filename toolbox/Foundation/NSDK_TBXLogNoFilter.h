#pragma once

#include "platform/ns/Object.h"
#include "toolbox/Foundation/TBXLogFilter.h"

// Keeps every line.
class NSDK_TBXLogNoFilter : public ns::Object, public TBXLogFilter {
public:
    bool filterAllowsMessage(const std::string& /*message*/, TBXLogLevel /*level*/) override {
        return true;
    }
};
