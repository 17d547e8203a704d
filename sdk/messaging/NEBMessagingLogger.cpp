#include "sdk/messaging/NEBMessagingLogger.h"

#include "sdk/messaging/NEBMessagingFileHandleLogWriter.h"
#include "sdk/messaging/NEBMessagingLogLevelFilter.h"
#include "sdk/messaging/NEBMessagingLogStandardFormatter.h"

std::shared_ptr<NEBMessagingLogger> NEBMessagingLogger::standardLogger() {
    return std::make_shared<NEBMessagingLogger>(
        std::make_shared<NEBMessagingLogLevelFilter>(),
        std::make_shared<NEBMessagingLogStandardFormatter>(),
        std::make_shared<NEBMessagingFileHandleLogWriter>());
}

NEBMessagingLogger& NEBMessagingSharedLogger() {
    static const auto& shared =
        *new std::shared_ptr<NEBMessagingLogger>(NEBMessagingLogger::standardLogger());
    return *shared;
}
