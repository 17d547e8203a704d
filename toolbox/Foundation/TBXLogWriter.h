#pragma once

#include <string>

#include "toolbox/Foundation/TBXLogLevel.h"

// Puts a finished log line somewhere.
class TBXLogWriter {
public:
    virtual ~TBXLogWriter() = default;
    virtual void logMessage(const std::string& message, TBXLogLevel level) = 0;
};
