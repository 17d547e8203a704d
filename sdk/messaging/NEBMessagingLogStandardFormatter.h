#pragma once

#include "sdk/messaging/NEBMessagingLogFormatter.h"

// "<local date and time>: <NEBMessaging/LABEL> message"; the calling function is not shown.
class NEBMessagingLogStandardFormatter final : public NEBMessagingLogFormatter {
public:
    std::string stringForFunc(std::string_view func, std::string_view message,
                              int level) const override;
    // The label written for a level: error-level messages read "WARNING", asserts "ERROR".
    static const char* labelForLevel(int level);
};
