#include "sdk/messaging/NEBMessagingLogger.h"

#include "platform/ns/Log.h"
#include "sdk/messaging/NEBMessagingFileHandleLogWriter.h"
#include "sdk/messaging/NEBMessagingLogLevelFilter.h"
#include "sdk/messaging/NEBMessagingLogStandardFormatter.h"

NEBMessagingLogger::NEBMessagingLogger(std::shared_ptr<NEBMessagingLogFilter> filter,
                                       std::shared_ptr<NEBMessagingLogFormatter> formatter,
                                       std::shared_ptr<NEBMessagingLogWriter> writer)
    : filter_(std::move(filter)), formatter_(std::move(formatter)), writer_(std::move(writer)) {}

std::unique_ptr<NEBMessagingLogger> NEBMessagingLogger::standardLogger() {
    return std::make_unique<NEBMessagingLogger>(
        std::make_shared<NEBMessagingLogLevelFilter>(),
        std::make_shared<NEBMessagingLogStandardFormatter>(),
        std::make_shared<NEBMessagingFileHandleLogWriter>());
}

void NEBMessagingLogger::setFilter(std::shared_ptr<NEBMessagingLogFilter> filter) {
    std::lock_guard lock(mutex_);
    filter_ = std::move(filter);
}

void NEBMessagingLogger::setWriter(std::shared_ptr<NEBMessagingLogWriter> writer) {
    std::lock_guard lock(mutex_);
    writer_ = std::move(writer);
}

std::shared_ptr<NEBMessagingLogWriter> NEBMessagingLogger::writer() const {
    std::lock_guard lock(mutex_);
    return writer_;
}

void NEBMessagingLogger::write(std::string_view func, int level, const std::string& message) {
    std::shared_ptr<NEBMessagingLogFilter> filter;
    std::shared_ptr<NEBMessagingLogFormatter> formatter;
    std::shared_ptr<NEBMessagingLogWriter> writer;
    {
        std::lock_guard lock(mutex_);
        filter = filter_;
        formatter = formatter_;
        writer = writer_;
    }
    if (!formatter || !writer) return;
    std::string text = formatter->stringForFunc(func, message, level);
    if (text.empty()) return;
    if (filter && !filter->filterAllowsMessage(text, level)) return;
    // What is logged often quotes what a server or the application sent (a topic name): a
    // newline or an escape sequence in it must not forge lines or reach the terminal.
    writer->logMessage(ns::Log::escapedForLine(text), level);
}

NEBMessagingLogger& NEBMessagingSharedLogger() {
    static NEBMessagingLogger* logger = NEBMessagingLogger::standardLogger().release();
    return *logger;
}
