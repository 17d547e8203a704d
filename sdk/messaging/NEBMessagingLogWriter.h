#pragma once

#include <string_view>

// Where the messaging logger's lines go.
class NEBMessagingLogWriter {
public:
    virtual ~NEBMessagingLogWriter() = default;
    virtual void logMessage(std::string_view message, int level) = 0;
};
