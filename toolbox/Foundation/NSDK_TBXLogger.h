#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/ns/Format.h"
#include "platform/ns/Object.h"
#include "toolbox/Foundation/TBXLogFilter.h"
#include "toolbox/Foundation/TBXLogFormatter.h"
#include "toolbox/Foundation/TBXLogWriter.h"

// The toolbox's logger: a message passes the formatter, then the filter (which sees the
// finished line), then the writer. A logger is itself a writer, so loggers chain and fan out.
// Callers may log from any thread; the setters are serialised, logging itself only takes the
// three parts as they are at that moment.
class NSDK_TBXLogger : public ns::Object, public TBXLogWriter {
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

    std::shared_ptr<TBXLogWriter> writer() const;
    void setWriter(std::shared_ptr<TBXLogWriter> writer);
    std::shared_ptr<TBXLogFormatter> formatter() const;
    void setFormatter(std::shared_ptr<TBXLogFormatter> formatter);
    std::shared_ptr<TBXLogFilter> filter() const;
    void setFilter(std::shared_ptr<TBXLogFilter> filter);

    template <class... Args>
    void logDebug(std::string_view format, const Args&... args) {
        logWith(nullptr, format, kTBXLogLevelDebug, args...);
    }
    template <class... Args>
    void logInfo(std::string_view format, const Args&... args) {
        logWith(nullptr, format, kTBXLogLevelInfo, args...);
    }
    template <class... Args>
    void logError(std::string_view format, const Args&... args) {
        logWith(nullptr, format, kTBXLogLevelError, args...);
    }
    template <class... Args>
    void logAssert(std::string_view format, const Args&... args) {
        logWith(nullptr, format, kTBXLogLevelAssert, args...);
    }
    template <class... Args>
    void logFuncDebug(const char* func, std::string_view format, const Args&... args) {
        logWith(func, format, kTBXLogLevelDebug, args...);
    }
    template <class... Args>
    void logFuncInfo(const char* func, std::string_view format, const Args&... args) {
        logWith(func, format, kTBXLogLevelInfo, args...);
    }
    template <class... Args>
    void logFuncError(const char* func, std::string_view format, const Args&... args) {
        logWith(func, format, kTBXLogLevelError, args...);
    }
    template <class... Args>
    void logFuncAssert(const char* func, std::string_view format, const Args&... args) {
        logWith(func, format, kTBXLogLevelAssert, args...);
    }

    // The common road: format, filter, write. Any exception on the way drops the message.
    void logInternalFunc(const char* func, std::optional<std::string_view> format,
                         std::span<const ns::FormatArg> args, TBXLogLevel level);

    // As a writer: levels 1 to 4 are logged again at that level ("%@" and the message);
    // other levels are dropped.
    void logMessage(const std::string& message, TBXLogLevel level) override;

private:
    template <class... Args>
    void logWith(const char* func, std::string_view format, TBXLogLevel level,
                 const Args&... args) {
        const std::array<ns::FormatArg, sizeof...(Args)> list{ns::FormatArg(args)...};
        logInternalFunc(func, format, list, level);
    }

    template <class Part>
    std::shared_ptr<Part> read(const std::shared_ptr<Part>& slot) const {
        std::lock_guard lock(mutex_);
        return slot;
    }
    template <class Part>
    void replace(std::shared_ptr<Part>& slot, std::shared_ptr<Part> part) {
        std::lock_guard lock(mutex_);
        slot = std::move(part);
    }

    mutable std::mutex mutex_;
    std::shared_ptr<TBXLogWriter> writer_;
    std::shared_ptr<TBXLogFormatter> formatter_;
    std::shared_ptr<TBXLogFilter> filter_;
};
