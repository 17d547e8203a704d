#pragma once

#include "platform/ns/Date.h"
#include "platform/ns/Value.h"

// Turns a message that names a local start time (and perhaps an end) into a local
// notification scheduled for that wall-clock time. Stateless; main thread.
class NEBMessagingContextManagerService {
public:
    static constexpr const char* kLocalTimeStartKey = "nebula.c.cm.lt_start";
    static constexpr const char* kLocalTimeEndKey = "nebula.c.cm.lt_end";
    // How long after receipt a message whose window has opened already is shown.
    static constexpr double kElapsedStartDelaySeconds = 10;

    static bool isContextManagerMessage(const ns::Dictionary& message);
    static bool handleContextManagerMessage(const ns::Dictionary& message);
    static bool handleContextManagerLocalTimeMessage(const ns::Dictionary& message);
    static void scheduleLocalNotificationForMessage(const ns::Dictionary& message,
                                                    const ns::Date& date);
    static ns::Dictionary parseDataFromMessage(const ns::Dictionary& message);
};
