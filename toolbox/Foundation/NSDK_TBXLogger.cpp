#include "toolbox/Foundation/NSDK_TBXLogger.h"

#include <functional>
#include <vector>

#include "platform/ns/SharedInstance.h"
#include "toolbox/Foundation/NSArray+TBXArrayCompositeLogWriter.h"
#include "toolbox/Foundation/NSDK_TBXLogBasicFormatter.h"
#include "toolbox/Foundation/NSDK_TBXLogLevelFilter.h"
#include "toolbox/Foundation/NSDK_TBXLogMaximumLevelFilter.h"
#include "toolbox/Foundation/NSDK_TBXLogMininumLevelFilter.h"
#include "toolbox/Foundation/NSDK_TBXLogNoFilter.h"
#include "toolbox/Foundation/NSDK_TBXLogStandardFormatter.h"
#include "toolbox/Foundation/NSFileHandle+TBXFileHandleLogWriter.h"

namespace {

using SharedLogger = ns::ReplaceableShared<NSDK_TBXLogger>;

// The standard formatter and level filter around the writer made; null when there is none or
// building fails.
std::shared_ptr<NSDK_TBXLogger> standardAround(
    const std::function<std::shared_ptr<TBXLogWriter>()>& makeWriter) {
    try {
        auto writer = makeWriter();
        if (!writer) return nullptr;
        return NSDK_TBXLogger::loggerWithWriter(std::move(writer),
                                                std::make_shared<NSDK_TBXLogStandardFormatter>(),
                                                std::make_shared<NSDK_TBXLogLevelFilter>());
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

std::shared_ptr<NSDK_TBXLogger> NSDK_TBXLogger::sharedLogger() {
    return SharedLogger::get(&standardLogger);
}

void NSDK_TBXLogger::setSharedLogger(std::shared_ptr<NSDK_TBXLogger> logger) {
    SharedLogger::exchange(std::move(logger));
}

std::shared_ptr<NSDK_TBXLogger> NSDK_TBXLogger::standardLogger() {
    return standardAround(&TBXFileHandleLogWriter::standardOutput);
}

std::shared_ptr<NSDK_TBXLogger> NSDK_TBXLogger::standardLoggerWithStderr() {
    return standardAround(&TBXFileHandleLogWriter::standardError);
}

std::shared_ptr<NSDK_TBXLogger> NSDK_TBXLogger::standardLoggerWithStdoutAndStderr() {
    return standardAround([]() -> std::shared_ptr<TBXLogWriter> {
        auto basic = [] { return std::make_shared<NSDK_TBXLogBasicFormatter>(); };
        auto out =
            loggerWithWriter(TBXFileHandleLogWriter::standardOutput(), basic(),
                             NSDK_TBXLogMaximumLevelFilter::initWithMaximumLevel(kTBXLogLevelInfo));
        auto err = loggerWithWriter(
            TBXFileHandleLogWriter::standardError(), basic(),
            NSDK_TBXLogMininumLevelFilter::initWithMinimumLevel(kTBXLogLevelError));
        auto fanOut = std::make_shared<TBXArrayCompositeLogWriter>(
            std::vector<std::shared_ptr<ns::Object>>{out, err});
        return loggerWithWriter(fanOut, basic(), std::make_shared<NSDK_TBXLogNoFilter>());
    });
}

std::shared_ptr<NSDK_TBXLogger> NSDK_TBXLogger::standardLoggerWithPath(const std::string& path) {
    return standardAround(
        [&] { return TBXFileHandleLogWriter::fileHandleForLoggingAtPath(path, 0644); });
}

std::shared_ptr<NSDK_TBXLogger> NSDK_TBXLogger::loggerWithWriter(
    std::shared_ptr<TBXLogWriter> writer, std::shared_ptr<TBXLogFormatter> formatter,
    std::shared_ptr<TBXLogFilter> filter) {
    return std::make_shared<NSDK_TBXLogger>(std::move(writer), std::move(formatter),
                                            std::move(filter));
}

NSDK_TBXLogger::NSDK_TBXLogger(std::shared_ptr<TBXLogWriter> writer,
                               std::shared_ptr<TBXLogFormatter> formatter,
                               std::shared_ptr<TBXLogFilter> filter)
    : LogPipeline(nullptr, nullptr, nullptr) {
    setWriter(std::move(writer));
    setFormatter(std::move(formatter));
    setFilter(std::move(filter));
}

void NSDK_TBXLogger::setWriter(std::shared_ptr<TBXLogWriter> writer) {
    LogPipeline::setWriter(writer ? std::move(writer) : TBXFileHandleLogWriter::standardOutput());
}

void NSDK_TBXLogger::setFormatter(std::shared_ptr<TBXLogFormatter> formatter) {
    LogPipeline::setFormatter(formatter ? std::move(formatter)
                                        : std::make_shared<NSDK_TBXLogBasicFormatter>());
}

void NSDK_TBXLogger::setFilter(std::shared_ptr<TBXLogFilter> filter) {
    LogPipeline::setFilter(filter ? std::move(filter) : std::make_shared<NSDK_TBXLogNoFilter>());
}

void NSDK_TBXLogger::logMessage(std::string_view message, TBXLogLevel level) {
    if (level >= kTBXLogLevelDebug && level <= kTBXLogLevelAssert) logInternal({}, message, level);
}
