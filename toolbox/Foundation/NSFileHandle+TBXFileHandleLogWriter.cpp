#include "toolbox/Foundation/NSFileHandle+TBXFileHandleLogWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/ns/Log.h"

std::shared_ptr<TBXFileHandleLogWriter> TBXFileHandleLogWriter::standardOutput() {
    static auto* handle = new std::shared_ptr<TBXFileHandleLogWriter>(
        std::make_shared<TBXFileHandleLogWriter>(STDOUT_FILENO, false));
    return *handle;
}

std::shared_ptr<TBXFileHandleLogWriter> TBXFileHandleLogWriter::standardError() {
    static auto* handle = new std::shared_ptr<TBXFileHandleLogWriter>(
        std::make_shared<TBXFileHandleLogWriter>(STDERR_FILENO, false));
    return *handle;
}

std::shared_ptr<TBXFileHandleLogWriter> TBXFileHandleLogWriter::fileHandleForLoggingAtPath(
    const std::optional<std::string>& path, uint16_t mode) {
    if (!path) return nullptr;
    int fd = ::open(path->c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, mode);
    if (fd < 0) return nullptr;
    return std::make_shared<TBXFileHandleLogWriter>(fd, true);
}

TBXFileHandleLogWriter::~TBXFileHandleLogWriter() {
    if (owned_ && fd_ >= 0) ::close(fd_);
}

void TBXFileHandleLogWriter::logMessage(const std::string& message, TBXLogLevel level) {
    ns::Log::writeFormattedLine(systemLevel(level), kTBXLogSubsystem, message, fd_);
}

ns::LogLevel TBXFileHandleLogWriter::systemLevel(TBXLogLevel level) {
    switch (level) {
        case kTBXLogLevelDebug:
            return ns::LogLevel::Debug;
        case kTBXLogLevelInfo:
            return ns::LogLevel::Info;
        case kTBXLogLevelError:
            return ns::LogLevel::Error;
        case kTBXLogLevelAssert:
            return ns::LogLevel::Fault;
        default:
            return ns::LogLevel::Default;
    }
}
