#pragma once

#include "sdk/instance_id/NEBInstanceIDLogger.h"

// "<date>: <NEBInstanceID/LABEL> message", the date as "yyyy-MM-dd HH:mm:ss.SSS" in local time.
class NEBInstanceIDLogStandardFormatter final : public NEBInstanceIDLogFormatter {
public:
    std::string stringForFunc(std::string_view function, std::string_view message,
                              NEBInstanceIDLogLevel level) const override;
    static std::string stringForLogLevel(int level);
};
