#pragma once

#include <string>

#include "platform/ns/Value.h"

// Turns a received notification that the sender marked with a campaign into analytics events
// (opened, foreground, campaign) when analytics is part of the program. Stateless.
class NEBMessagingAnalytics {
public:
    static void logOpenNotification(const ns::Dictionary& notification);
    static void logForegroundNotification(const ns::Dictionary& notification);
    static void logEvent(const std::string& event, const ns::Dictionary& notification);
    static void logAnalyticsEventWithOrigin(const std::string& origin, const std::string& name,
                                            const ns::Dictionary& parameters);
    // The parameters that the event of a notification carries.
    static ns::Dictionary parametersForNotification(const ns::Dictionary& notification);
};
