#include "bridge/HYBLogger.h"

#include "platform/ns/Log.h"

HYBLogger::HYBLogger() {
    registerAction("logLevel", &HYBLogger::logLevel);
}

void HYBLogger::logLevel(const HYBInvokedUrlCommand& command) {
    const ns::Value level = command.argumentAtIndex(0);
    const ns::Value message = command.argumentAtIndex(1);
    if (level.isString() && *level.string() == "LOG") {
        ns::nslog("%@", message);
    } else {
        ns::nslog("%@: %@", level, message);
    }
}
