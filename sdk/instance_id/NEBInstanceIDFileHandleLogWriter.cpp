#include "sdk/instance_id/NEBInstanceIDFileHandleLogWriter.h"

std::shared_ptr<NEBInstanceIDFileHandleLogWriter>
NEBInstanceIDFileHandleLogWriter::standardOutput() {
    return std::make_shared<NEBInstanceIDFileHandleLogWriter>(stdout);
}

void NEBInstanceIDFileHandleLogWriter::logMessage(std::string_view line, NEBInstanceIDLogLevel) {
    std::lock_guard lock(mutex_);
    if (!stream_) return;
    std::fwrite(line.data(), 1, line.size(), stream_);
    std::fputc('\n', stream_);
    std::fflush(stream_);
}
