#pragma once

#include "sdk/messaging/NEBMessagingLogger.h"

// "<local date and time>: <NEBMessaging/LABEL> message"; the calling function is not shown.
// Error-level messages read "WARNING", asserts "ERROR".
class NEBMessagingLogStandardFormatter final
    : public NEBLogPipeline<NEBMessagingLogLevel>::StandardFormatter {
public:
    NEBMessagingLogStandardFormatter() : StandardFormatter("NEBMessaging") {}
};
