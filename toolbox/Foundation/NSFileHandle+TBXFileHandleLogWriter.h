#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/ns/Object.h"
#include "toolbox/Foundation/TBXLogWriter.h"

// A log writer over a file descriptor: each message is written as one UTF-8 line.
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

private:
    std::mutex mutex_;
    int fd_;
    bool owned_;
};
