#pragma once

#include <cstdio>

#include "sdk/messaging/NEBMessagingLogger.h"

// Writes each line and a line feed to a C stream (standard output by default), through the
// process's log, which keeps lines from several threads apart.
class NEBMessagingFileHandleLogWriter final
    : public NEBLogPipeline<NEBMessagingLogLevel>::StreamWriter {
public:
    explicit NEBMessagingFileHandleLogWriter(FILE* file = stdout)
        : StreamWriter(kNEBMessagingLogSubsystem, fileno(file)) {}
};
