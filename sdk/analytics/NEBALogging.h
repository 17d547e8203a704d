#pragma once

#include <cstdint>
#include <string>

// Where the monitor's formatted lines go.
class NEBALogging {
public:
    virtual ~NEBALogging() = default;
    virtual void logMessage(const std::string& message, int64_t logLevel) = 0;
};
