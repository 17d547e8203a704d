#pragma once

#include <string>

#include "sdk/instance_id/NEBInstanceIDLogger.h"

// "<date>: <NEBInstanceID/LABEL> message", the date as "yyyy-MM-dd HH:mm:ss.SSS" in local time.
class NEBInstanceIDLogStandardFormatter final
    : public NEBLogPipeline<NEBInstanceIDLogLevel>::StandardFormatter {
public:
    NEBInstanceIDLogStandardFormatter() : StandardFormatter("NEBInstanceID") {}
    static std::string stringForLogLevel(int level) { return labelForLevel(level); }
};
