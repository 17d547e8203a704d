#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/ns/Format.h"

// Levels of instance identity's log lines.
enum class NEBInstanceIDLogLevel : int8_t { Debug = 0, Info = 1, Error = 2, Assert = 3 };

// Turns a message into one line; nothing drops the message.
class NEBInstanceIDLogFormatter {
public:
    virtual ~NEBInstanceIDLogFormatter() = default;
    virtual std::string stringForFunc(std::string_view function, std::string_view message,
                                      NEBInstanceIDLogLevel level) const = 0;
};

// Decides by level which lines are written.
class NEBInstanceIDLogFilter {
public:
    virtual ~NEBInstanceIDLogFilter() = default;
    virtual bool filterAllowsMessage(std::string_view line, NEBInstanceIDLogLevel level) const = 0;
};

// Puts a line out.
class NEBInstanceIDLogWriter {
public:
    virtual ~NEBInstanceIDLogWriter() = default;
    virtual void logMessage(std::string_view line, NEBInstanceIDLogLevel level) = 0;
};

// Instance identity's logger: filter, formatter, writer. Any thread. Each part is swapped as a
// whole under the logger's lock, so that a line logged while the level changes sees either
// the old filter or the new one, never one being torn down.
class NEBInstanceIDLogger {
public:
    NEBInstanceIDLogger(std::shared_ptr<NEBInstanceIDLogFilter> filter,
                        std::shared_ptr<NEBInstanceIDLogFormatter> formatter,
                        std::shared_ptr<NEBInstanceIDLogWriter> writer);

    // Standard output, the standard formatter, a level filter at 0.
    static std::shared_ptr<NEBInstanceIDLogger> standardLogger();

    std::shared_ptr<NEBInstanceIDLogFilter> filter() const;
    void setFilter(std::shared_ptr<NEBInstanceIDLogFilter> filter);
    std::shared_ptr<NEBInstanceIDLogFormatter> formatter() const;
    void setFormatter(std::shared_ptr<NEBInstanceIDLogFormatter> formatter);
    std::shared_ptr<NEBInstanceIDLogWriter> writer() const;
    void setWriter(std::shared_ptr<NEBInstanceIDLogWriter> writer);

    // Never throws: a failing part drops the line.
    void logInternal(std::string_view function, std::string_view message,
                     NEBInstanceIDLogLevel level) noexcept;

    template <class... Args>
    void log(NEBInstanceIDLogLevel level, const char* function, std::string_view format,
             const Args&... args) noexcept {
        try {
            logInternal(function ? function : "", ns::format(format, args...), level);
        } catch (...) {
        }
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<NEBInstanceIDLogFilter> filter_;
    std::shared_ptr<NEBInstanceIDLogFormatter> formatter_;
    std::shared_ptr<NEBInstanceIDLogWriter> writer_;
};

// The process-wide logger, made once.
NEBInstanceIDLogger& NEBInstanceIDSharedLogger();

#define NEBInstanceIDLoggerDebug(...) \
    NEBInstanceIDSharedLogger().log(NEBInstanceIDLogLevel::Debug, __func__, __VA_ARGS__)
#define NEBInstanceIDLoggerInfo(...) \
    NEBInstanceIDSharedLogger().log(NEBInstanceIDLogLevel::Info, __func__, __VA_ARGS__)
#define NEBInstanceIDLoggerError(...) \
    NEBInstanceIDSharedLogger().log(NEBInstanceIDLogLevel::Error, __func__, __VA_ARGS__)
#define NEBInstanceIDLoggerAssert(...) \
    NEBInstanceIDSharedLogger().log(NEBInstanceIDLogLevel::Assert, __func__, __VA_ARGS__)

// What logs print of a secret (token, device secret): the first 7 hexadecimal digits of its
// SHA-256 digest and its length, never the text.
std::string NEBInstanceIDLogHash(std::string_view secret);
