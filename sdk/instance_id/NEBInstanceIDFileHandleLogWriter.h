#pragma once

#include <cstdio>
#include <memory>

#include "sdk/instance_id/NEBInstanceIDLogger.h"

// Writes each line and a line feed to a stream, through the process's log.
class NEBInstanceIDFileHandleLogWriter final
    : public NEBLogPipeline<NEBInstanceIDLogLevel>::StreamWriter {
public:
    explicit NEBInstanceIDFileHandleLogWriter(FILE* stream)
        : StreamWriter(kNEBInstanceIDLogSubsystem, fileno(stream)) {}
    static std::shared_ptr<NEBInstanceIDFileHandleLogWriter> standardOutput() {
        return std::make_shared<NEBInstanceIDFileHandleLogWriter>(stdout);
    }
};
