#include "toolbox/Foundation/NSFileHandle+TBXFileHandleLogWriter.h"

#include <fcntl.h>
#include <unistd.h>

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

ns::LogLevel TBXFileHandleLogWriter::systemLevel(TBXLogLevel level) {
    static constexpr ns::LogLevel kLevels[] = {ns::LogLevel::Default, ns::LogLevel::Debug,
                                               ns::LogLevel::Info, ns::LogLevel::Error,
                                               ns::LogLevel::Fault};
    return level >= kTBXLogLevelUnknown && level <= kTBXLogLevelAssert ? kLevels[level]
                                                                       : ns::LogLevel::Default;
}
