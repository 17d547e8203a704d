#pragma once

#include <cstdio>
#include <memory>
#include <mutex>

#include "sdk/instance_id/NEBInstanceIDLogger.h"

// Writes each line and a line feed to a C stream, one line at a time.
class NEBInstanceIDFileHandleLogWriter final : public NEBInstanceIDLogWriter {
public:
    explicit NEBInstanceIDFileHandleLogWriter(FILE* stream) : stream_(stream) {}
    static std::shared_ptr<NEBInstanceIDFileHandleLogWriter> standardOutput();
    void logMessage(std::string_view line, NEBInstanceIDLogLevel level) override;

private:
    std::mutex mutex_;
    FILE* stream_;
};
