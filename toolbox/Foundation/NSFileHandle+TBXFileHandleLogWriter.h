#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/ns/Object.h"
#include "toolbox/Foundation/TBXLogLevel.h"

// The subsystem of the toolbox's lines in the process's log.
inline constexpr const char* kTBXLogSubsystem = "toolbox";

// A log writer over a file descriptor: each message is handed to the process's log, which
// writes it to the descriptor as one escaped UTF-8 line. Write failures are dropped: logging
// never fails its caller.
class TBXFileHandleLogWriter : public ns::Object,
                               public ns::LogPipeline<TBXLogLevel>::StreamWriter {
public:
    // The process's standard output and error; their descriptors are never closed.
    static std::shared_ptr<TBXFileHandleLogWriter> standardOutput();
    static std::shared_ptr<TBXFileHandleLogWriter> standardError();
    // Opens the path for appending, creating it with `mode` when missing; the handle closes
    // the descriptor when it goes. Null for no path or a failed open.
    static std::shared_ptr<TBXFileHandleLogWriter> fileHandleForLoggingAtPath(
        const std::optional<std::string>& path, uint16_t mode);

    TBXFileHandleLogWriter(int fd, bool closeOnDealloc)
        : StreamWriter(kTBXLogSubsystem, &systemLevel, fd, closeOnDealloc) {}
    static ns::LogLevel systemLevel(TBXLogLevel level);
};
