#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/ns/Log.h"
#include "platform/ns/Object.h"
#include "toolbox/Foundation/TBXLogWriter.h"

// The subsystem of the toolbox's lines in the process's log.
inline constexpr const char* kTBXLogSubsystem = "toolbox";

// A log writer over a file descriptor: each message is handed to the process's log, which
// writes it to the descriptor as one escaped UTF-8 line.
class TBXFileHandleLogWriter : public ns::Object, public TBXLogWriter {
public:
    // The process's standard output and error; their descriptors are never closed.
    static std::shared_ptr<TBXFileHandleLogWriter> standardOutput();
    static std::shared_ptr<TBXFileHandleLogWriter> standardError();
    // Opens the path for appending, creating it with `mode` when missing; the handle closes
    // the descriptor when it goes. Null for no path or a failed open.
    static std::shared_ptr<TBXFileHandleLogWriter> fileHandleForLoggingAtPath(
        const std::optional<std::string>& path, uint16_t mode);

    TBXFileHandleLogWriter(int fd, bool closeOnDealloc) : fd_(fd), owned_(closeOnDealloc) {}
    ~TBXFileHandleLogWriter() override;
    TBXFileHandleLogWriter(const TBXFileHandleLogWriter&) = delete;
    TBXFileHandleLogWriter& operator=(const TBXFileHandleLogWriter&) = delete;

    int fileDescriptor() const { return fd_; }
    // Write failures are dropped: logging never fails its caller.
    void logMessage(const std::string& message, TBXLogLevel level) override;
    static ns::LogLevel systemLevel(TBXLogLevel level);

private:
    int fd_;
    bool owned_;
};
