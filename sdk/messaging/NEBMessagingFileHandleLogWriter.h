#pragma once

#include <cstdio>
#include <mutex>

#include "sdk/messaging/NEBMessagingLogWriter.h"

// Appends each line and a line feed to a C stream (standard output by default), one line at a
// time under a lock so that lines from several threads never interleave.
class NEBMessagingFileHandleLogWriter final : public NEBMessagingLogWriter {
public:
    explicit NEBMessagingFileHandleLogWriter(FILE* file = stdout) : file_(file) {}
    void logMessage(std::string_view message, int level) override;

private:
    FILE* file_;
    std::mutex mutex_;
};
