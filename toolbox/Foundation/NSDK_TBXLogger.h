#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/ns/Object.h"
#include "toolbox/Foundation/TBXLogLevel.h"

// The toolbox's logger: a message passes the formatter, then the filter (which sees the
// finished line), then the writer (see ns::LogPipeline). A logger is itself a writer, so
// loggers chain and fan out. Callers may log from any thread.
class NSDK_TBXLogger : public ns::Object, public ns::LogPipeline<TBXLogLevel>, public TBXLogWriter {
public:
    // The process-wide logger, made on first use as standardLogger(); setting null makes the
    // next call make a new one.
    static std::shared_ptr<NSDK_TBXLogger> sharedLogger();
    static void setSharedLogger(std::shared_ptr<NSDK_TBXLogger> logger);

    // Standard output, the standard formatter and the level filter.
    static std::shared_ptr<NSDK_TBXLogger> standardLogger();
    static std::shared_ptr<NSDK_TBXLogger> standardLoggerWithStderr();
    // Levels 0 to 2 to standard output, 3 and 4 to standard error.
    static std::shared_ptr<NSDK_TBXLogger> standardLoggerWithStdoutAndStderr();
    // Appends to the file (made with mode 0644 when missing); null when it cannot be opened.
    static std::shared_ptr<NSDK_TBXLogger> standardLoggerWithPath(const std::string& path);

    static std::shared_ptr<NSDK_TBXLogger> loggerWithWriter(
        std::shared_ptr<TBXLogWriter> writer, std::shared_ptr<TBXLogFormatter> formatter,
        std::shared_ptr<TBXLogFilter> filter);
    static std::shared_ptr<NSDK_TBXLogger> logger() { return loggerWithWriter({}, {}, {}); }

    // A missing part gets its default: the standard-output writer, the basic formatter, the
    // filter that keeps everything. So a logger never lacks any of the three.
    NSDK_TBXLogger(std::shared_ptr<TBXLogWriter> writer, std::shared_ptr<TBXLogFormatter> formatter,
                   std::shared_ptr<TBXLogFilter> filter);
    NSDK_TBXLogger() : NSDK_TBXLogger({}, {}, {}) {}
    void setWriter(std::shared_ptr<TBXLogWriter> writer);
    void setFormatter(std::shared_ptr<TBXLogFormatter> formatter);
    void setFilter(std::shared_ptr<TBXLogFilter> filter);

    template <class... Args>
    void logDebug(std::string_view format, const Args&... args) {
        log(kTBXLogLevelDebug, {}, format, args...);
    }
    template <class... Args>
    void logInfo(std::string_view format, const Args&... args) {
        log(kTBXLogLevelInfo, {}, format, args...);
    }
    template <class... Args>
    void logError(std::string_view format, const Args&... args) {
        log(kTBXLogLevelError, {}, format, args...);
    }
    template <class... Args>
    void logAssert(std::string_view format, const Args&... args) {
        log(kTBXLogLevelAssert, {}, format, args...);
    }
    template <class... Args>
    void logFuncDebug(std::string_view func, std::string_view format, const Args&... args) {
        log(kTBXLogLevelDebug, func, format, args...);
    }
    template <class... Args>
    void logFuncInfo(std::string_view func, std::string_view format, const Args&... args) {
        log(kTBXLogLevelInfo, func, format, args...);
    }
    template <class... Args>
    void logFuncError(std::string_view func, std::string_view format, const Args&... args) {
        log(kTBXLogLevelError, func, format, args...);
    }
    template <class... Args>
    void logFuncAssert(std::string_view func, std::string_view format, const Args&... args) {
        log(kTBXLogLevelAssert, func, format, args...);
    }

    // As a writer: levels 1 to 4 are logged again at that level, the message never read as a
    // format; other levels are dropped.
    void logMessage(std::string_view message, TBXLogLevel level) override;
};
