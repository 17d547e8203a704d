#include "toolbox/Foundation/NSFileHandle+TBXFileHandleLogWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

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

void TBXFileHandleLogWriter::logMessage(const std::string& message, TBXLogLevel /*level*/) {
    std::string line = message + "\n";
    std::lock_guard lock(mutex_);
    const char* next = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t written = ::write(fd_, next, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;
        }
        next += written;
        left -= static_cast<size_t>(written);
    }
}
