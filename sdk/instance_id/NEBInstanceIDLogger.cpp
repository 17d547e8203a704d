#include "sdk/instance_id/NEBInstanceIDLogger.h"

#include "platform/ns/Log.h"
#include "platform/sec/Digest.h"
#include "sdk/instance_id/NEBInstanceIDFileHandleLogWriter.h"
#include "sdk/instance_id/NEBInstanceIDLogLevelFilter.h"
#include "sdk/instance_id/NEBInstanceIDLogStandardFormatter.h"

NEBInstanceIDLogger::NEBInstanceIDLogger(std::shared_ptr<NEBInstanceIDLogFilter> filter,
                                         std::shared_ptr<NEBInstanceIDLogFormatter> formatter,
                                         std::shared_ptr<NEBInstanceIDLogWriter> writer)
    : filter_(std::move(filter)), formatter_(std::move(formatter)), writer_(std::move(writer)) {}

std::shared_ptr<NEBInstanceIDLogger> NEBInstanceIDLogger::standardLogger() {
    return std::make_shared<NEBInstanceIDLogger>(
        std::make_shared<NEBInstanceIDLogLevelFilter>(),
        std::make_shared<NEBInstanceIDLogStandardFormatter>(),
        NEBInstanceIDFileHandleLogWriter::standardOutput());
}

std::shared_ptr<NEBInstanceIDLogFilter> NEBInstanceIDLogger::filter() const {
    std::lock_guard lock(mutex_);
    return filter_;
}
void NEBInstanceIDLogger::setFilter(std::shared_ptr<NEBInstanceIDLogFilter> filter) {
    std::lock_guard lock(mutex_);
    filter_ = std::move(filter);
}
std::shared_ptr<NEBInstanceIDLogFormatter> NEBInstanceIDLogger::formatter() const {
    std::lock_guard lock(mutex_);
    return formatter_;
}
void NEBInstanceIDLogger::setFormatter(std::shared_ptr<NEBInstanceIDLogFormatter> formatter) {
    std::lock_guard lock(mutex_);
    formatter_ = std::move(formatter);
}
std::shared_ptr<NEBInstanceIDLogWriter> NEBInstanceIDLogger::writer() const {
    std::lock_guard lock(mutex_);
    return writer_;
}
void NEBInstanceIDLogger::setWriter(std::shared_ptr<NEBInstanceIDLogWriter> writer) {
    std::lock_guard lock(mutex_);
    writer_ = std::move(writer);
}

void NEBInstanceIDLogger::logInternal(std::string_view function, std::string_view message,
                                      NEBInstanceIDLogLevel level) noexcept {
    try {
        std::shared_ptr<NEBInstanceIDLogFilter> filter;
        std::shared_ptr<NEBInstanceIDLogFormatter> formatter;
        std::shared_ptr<NEBInstanceIDLogWriter> writer;
        {
            std::lock_guard lock(mutex_);
            filter = filter_;
            formatter = formatter_;
            writer = writer_;
        }
        if (!formatter || !writer) return;
        std::string line = formatter->stringForFunc(function, message, level);
        if (line.empty()) return;
        if (filter && !filter->filterAllowsMessage(line, level)) return;
        // Lines quote what servers and callers sent; none may forge a line or reach the
        // terminal's control sequences.
        writer->logMessage(ns::Log::escapedForLine(line), level);
    } catch (...) {
        // Logging never fails its caller.
    }
}

NEBInstanceIDLogger& NEBInstanceIDSharedLogger() {
    static const auto& shared =
        *new std::shared_ptr<NEBInstanceIDLogger>(NEBInstanceIDLogger::standardLogger());
    return *shared;
}

std::string NEBInstanceIDLogHash(std::string_view secret) {
    return sec::hexString(sec::sha256(secret)).substr(0, 7) + "(" + std::to_string(secret.size()) +
           ")";
}
