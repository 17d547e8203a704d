#pragma once

#include <memory>
#include <mutex>
#include <string_view>

#include "platform/ns/Format.h"
#include "sdk/messaging/NEBMessagingLogFilter.h"
#include "sdk/messaging/NEBMessagingLogFormatter.h"
#include "sdk/messaging/NEBMessagingLogWriter.h"

// The one logger of the messaging library: a filter, a formatter and a writer, each
// exchangeable. Logging never fails its caller. Usable from any thread; the pieces may be
// replaced while other threads log.
class NEBMessagingLogger {
public:
    NEBMessagingLogger(std::shared_ptr<NEBMessagingLogFilter> filter,
                       std::shared_ptr<NEBMessagingLogFormatter> formatter,
                       std::shared_ptr<NEBMessagingLogWriter> writer);

    // Standard output, the standard formatter and a level-0 filter.
    static std::unique_ptr<NEBMessagingLogger> standardLogger();

    void setFilter(std::shared_ptr<NEBMessagingLogFilter> filter);
    void setWriter(std::shared_ptr<NEBMessagingLogWriter> writer);
    std::shared_ptr<NEBMessagingLogWriter> writer() const;

    template <class... Args>
    void logFuncDebug(std::string_view func, std::string_view format, const Args&... args) {
        logInternalFunc(func, 0, format, args...);
    }
    template <class... Args>
    void logFuncInfo(std::string_view func, std::string_view format, const Args&... args) {
        logInternalFunc(func, 1, format, args...);
    }
    template <class... Args>
    void logFuncError(std::string_view func, std::string_view format, const Args&... args) {
        logInternalFunc(func, 2, format, args...);
    }
    template <class... Args>
    void logFuncAssert(std::string_view func, std::string_view format, const Args&... args) {
        logInternalFunc(func, 3, format, args...);
    }

private:
    template <class... Args>
    void logInternalFunc(std::string_view func, int level, std::string_view format,
                         const Args&... args) {
        if (format.empty()) return;
        try {
            write(func, level, ns::format(format, args...));
        } catch (...) {
            // A message that cannot be formatted is lost; logging never fails its caller.
        }
    }
    void write(std::string_view func, int level, const std::string& message);

    mutable std::mutex mutex_;
    std::shared_ptr<NEBMessagingLogFilter> filter_;
    std::shared_ptr<NEBMessagingLogFormatter> formatter_;
    std::shared_ptr<NEBMessagingLogWriter> writer_;
};

// The process-wide messaging logger, made once.
NEBMessagingLogger& NEBMessagingSharedLogger();
