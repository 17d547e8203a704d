#include "toolbox/Foundation/NSDK_TBXLogger.h"

#include <exception>
#include <vector>

#include "toolbox/Foundation/NSArray+TBXArrayCompositeLogWriter.h"
#include "toolbox/Foundation/NSDK_TBXLogAllowedLevelFilter.h"
#include "toolbox/Foundation/NSDK_TBXLogBasicFormatter.h"
#include "toolbox/Foundation/NSDK_TBXLogLevelFilter.h"
#include "toolbox/Foundation/NSDK_TBXLogMaximumLevelFilter.h"
#include "toolbox/Foundation/NSDK_TBXLogMininumLevelFilter.h"
#include "toolbox/Foundation/NSDK_TBXLogNoFilter.h"
#include "toolbox/Foundation/NSDK_TBXLogStandardFormatter.h"
#include "toolbox/Foundation/NSFileHandle+TBXFileHandleLogWriter.h"

namespace {

std::mutex& sharedMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<NSDK_TBXLogger>& sharedSlot() {
    // Never destroyed: code may log while static objects go away.
    static auto* slot = new std::shared_ptr<NSDK_TBXLogger>();
    return *slot;
}

// The standard formatter and level filter around `writer`; null when building fails.
std::shared_ptr<NSDK_TBXLogger> standardAround(std::shared_ptr<TBXLogWriter> writer) {
    if (!writer) return nullptr;
    auto formatter = std::make_shared<NSDK_TBXLogStandardFormatter>();
    auto filter = std::make_shared<NSDK_TBXLogLevelFilter>();
    return NSDK_TBXLogger::loggerWithWriter(std::move(writer), std::move(formatter),
                                            std::move(filter));
}

template <class Build>
std::shared_ptr<NSDK_TBXLogger> orNull(Build build) {
    try {
        return build();
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

std::shared_ptr<NSDK_TBXLogger> NSDK_TBXLogger::sharedLogger() {
    std::lock_guard lock(sharedMutex());
    auto& slot = sharedSlot();
    if (!slot) slot = standardLogger();
    return slot;
}

void NSDK_TBXLogger::setSharedLogger(std::shared_ptr<NSDK_TBXLogger> logger) {
    std::lock_guard lock(sharedMutex());
    sharedSlot() = std::move(logger);
}

std::shared_ptr<NSDK_TBXLogger> NSDK_TBXLogger::standardLogger() {
    return orNull([] { return standardAround(TBXFileHandleLogWriter::standardOutput()); });
}

std::shared_ptr<NSDK_TBXLogger> NSDK_TBXLogger::standardLoggerWithStderr() {
    return orNull([] { return standardAround(TBXFileHandleLogWriter::standardError()); });
}

std::shared_ptr<NSDK_TBXLogger> NSDK_TBXLogger::standardLoggerWithStdoutAndStderr() {
    return orNull([]() -> std::shared_ptr<NSDK_TBXLogger> {
        auto basic = [] { return std::make_shared<NSDK_TBXLogBasicFormatter>(); };
        auto out =
            loggerWithWriter(TBXFileHandleLogWriter::standardOutput(), basic(),
                             NSDK_TBXLogMaximumLevelFilter::initWithMaximumLevel(kTBXLogLevelInfo));
        auto err = loggerWithWriter(
            TBXFileHandleLogWriter::standardError(), basic(),
            NSDK_TBXLogMininumLevelFilter::initWithMinimumLevel(kTBXLogLevelError));
        auto fanOut = std::make_shared<TBXArrayCompositeLogWriter>(
            std::vector<std::shared_ptr<ns::Object>>{out, err});
        auto split = loggerWithWriter(fanOut, basic(), std::make_shared<NSDK_TBXLogNoFilter>());
        return standardAround(split);
    });
}

std::shared_ptr<NSDK_TBXLogger> NSDK_TBXLogger::standardLoggerWithPath(const std::string& path) {
    return orNull([&] {
        return standardAround(TBXFileHandleLogWriter::fileHandleForLoggingAtPath(path, 0644));
    });
}

std::shared_ptr<NSDK_TBXLogger> NSDK_TBXLogger::loggerWithWriter(
    std::shared_ptr<TBXLogWriter> writer, std::shared_ptr<TBXLogFormatter> formatter,
    std::shared_ptr<TBXLogFilter> filter) {
    return std::make_shared<NSDK_TBXLogger>(std::move(writer), std::move(formatter),
                                            std::move(filter));
}

NSDK_TBXLogger::NSDK_TBXLogger(std::shared_ptr<TBXLogWriter> writer,
                               std::shared_ptr<TBXLogFormatter> formatter,
                               std::shared_ptr<TBXLogFilter> filter) {
    setWriter(std::move(writer));
    setFormatter(std::move(formatter));
    setFilter(std::move(filter));
}

std::shared_ptr<TBXLogWriter> NSDK_TBXLogger::writer() const {
    return read(writer_);
}

void NSDK_TBXLogger::setWriter(std::shared_ptr<TBXLogWriter> writer) {
    replace(writer_, writer ? std::move(writer) : TBXFileHandleLogWriter::standardOutput());
}

std::shared_ptr<TBXLogFormatter> NSDK_TBXLogger::formatter() const {
    return read(formatter_);
}

void NSDK_TBXLogger::setFormatter(std::shared_ptr<TBXLogFormatter> formatter) {
    replace(formatter_,
            formatter ? std::move(formatter) : std::make_shared<NSDK_TBXLogBasicFormatter>());
}

std::shared_ptr<TBXLogFilter> NSDK_TBXLogger::filter() const {
    return read(filter_);
}

void NSDK_TBXLogger::setFilter(std::shared_ptr<TBXLogFilter> filter) {
    replace(filter_, filter ? std::move(filter) : std::make_shared<NSDK_TBXLogNoFilter>());
}

void NSDK_TBXLogger::logInternalFunc(const char* func, std::optional<std::string_view> format,
                                     std::span<const ns::FormatArg> args, TBXLogLevel level) {
    try {
        std::optional<std::string> name;
        if (func) name = std::string(func);
        auto line = formatter()->stringForFunc(name, format, args, level);
        if (!line) return;
        if (!filter()->filterAllowsMessage(*line, level)) return;
        writer()->logMessage(*line, level);
    } catch (...) {
        // A broken formatter, filter or writer must never take the caller down with it.
    }
}

void NSDK_TBXLogger::logMessage(const std::string& message, TBXLogLevel level) {
    // The levels that have a log call of their own; the message is never read as a format.
    if (level >= kTBXLogLevelDebug && level <= kTBXLogLevelAssert) {
        logWith(nullptr, "%@", level, message);
    }
}
