#pragma once

#include <string_view>

// Decides which formatted messages of the messaging logger are written.
class NEBMessagingLogFilter {
public:
    virtual ~NEBMessagingLogFilter() = default;
    virtual bool filterAllowsMessage(std::string_view message, int level) const = 0;
};
