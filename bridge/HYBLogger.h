#pragma once

#include "bridge/HYBPlugin.h"

// Writes the page's console lines to the system log. Sends no result.
class HYBLogger : public HYBPlugin {
public:
    HYBLogger();

    // Arguments: [level, message]. Level "LOG" logs the message alone; any other level logs
    // "level: message".
    void logLevel(const HYBInvokedUrlCommand& command);
};
