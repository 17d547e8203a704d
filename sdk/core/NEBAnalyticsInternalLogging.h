#pragma once

#include <string>

#include "platform/ns/Value.h"

// The class operations through which other SDK parts log analytics events of their own. The
// class named "NEBAnalytics" lists the operations it answers and its factory hands out an
// object implementing this interface; callers find it by name and do nothing when it is absent.
inline constexpr const char* kNEBAnalyticsLogInternalEventOperation =
    "logInternalEventWithOrigin:name:parameters:";
inline constexpr const char* kNEBAnalyticsSetInternalUserPropertyOperation =
    "setInternalUserProperty:forName:";

class NEBAnalyticsInternalLogging {
public:
    virtual ~NEBAnalyticsInternalLogging() = default;
    virtual void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                            const ns::Dictionary& parameters) = 0;
    virtual void setInternalUserProperty(const ns::Value& value, const std::string& name) = 0;
};
