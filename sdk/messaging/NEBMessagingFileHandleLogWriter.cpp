#include "sdk/messaging/NEBMessagingFileHandleLogWriter.h"

void NEBMessagingFileHandleLogWriter::logMessage(std::string_view message, int) {
    std::lock_guard lock(mutex_);
    fwrite(message.data(), 1, message.size(), file_);
    fputc('\n', file_);
    fflush(file_);
}
