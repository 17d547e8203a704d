#pragma once

#include <string>
#include <string_view>

// Turns one message of the messaging logger into the line that is written.
class NEBMessagingLogFormatter {
public:
    virtual ~NEBMessagingLogFormatter() = default;
    virtual std::string stringForFunc(std::string_view func, std::string_view message,
                                      int level) const = 0;
};
