#pragma once

#include <unistd.h>

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <tuple>

#include "platform/ns/Format.h"
#include "platform/ns/Log.h"

// The logger of an SDK part that formats whole lines of its own: a formatter makes the line, a
// filter decides by level, a writer puts the line out. Each part is replaced as a whole under
// the logger's lock, so that a line logged while the level changes sees the old filter or the
// new one, never one being torn down. The standard writer hands the finished line to the
// process's log, which escapes it and writes it to the part's stream; nothing here writes by
// itself. Levels: 0 debug, 1 info, 2 error, 3 assert. Any thread.
template <class Level>
class NEBLogPipeline {
public:
    // Turns a message into one line; an empty line drops the message.
    class Formatter {
    public:
        virtual ~Formatter() = default;
        virtual std::string stringForFunc(std::string_view function, std::string_view message,
                                          Level level) const = 0;
    };
    // Decides by level (and line) which lines are written.
    class Filter {
    public:
        virtual ~Filter() = default;
        virtual bool filterAllowsMessage(std::string_view line, Level level) const = 0;
    };
    // Puts a line out.
    class Writer {
    public:
        virtual ~Writer() = default;
        virtual void logMessage(std::string_view line, Level level) = 0;
    };

    // "<date>: <TAG/LABEL> message", the date "yyyy-MM-dd HH:mm:ss.SSS" in local time from the
    // process clock; the function's name is not part of the line.
    class StandardFormatter : public Formatter {
    public:
        explicit StandardFormatter(std::string tag) : tag_(std::move(tag)) {}
        std::string stringForFunc(std::string_view, std::string_view message,
                                  Level level) const override {
            return ns::Log::timestamp() + ": <" + tag_ + "/" +
                   labelForLevel(static_cast<int>(level)) + "> " + std::string(message);
        }
        // The error level reads "WARNING" and the assert level "ERROR".
        static const char* labelForLevel(int level) {
            switch (level) {
                case 0:
                    return "DEBUG";
                case 2:
                    return "WARNING";
                case 3:
                    return "ERROR";
                default:
                    return "INFO";
            }
        }

    private:
        std::string tag_;
    };

    // Passes info, error and assert lines at or above its level; debug lines never pass.
    class LevelFilter : public Filter {
    public:
        LevelFilter() = default;
        explicit LevelFilter(int8_t level) : level_(level) {}
        int8_t level() const { return level_; }
        bool filterAllowsMessage(std::string_view, Level level) const override {
            const int value = static_cast<int>(level);
            return value >= 1 && value <= 3 && value >= level_;
        }

    private:
        int8_t level_ = 0;
    };

    // Hands each line to the process's log for one descriptor (standard output unless another
    // is named), tagged with the part's subsystem.
    class StreamWriter : public Writer {
    public:
        explicit StreamWriter(std::string subsystem, int fd = STDOUT_FILENO)
            : subsystem_(std::move(subsystem)), fd_(fd) {}
        void logMessage(std::string_view line, Level level) override {
            ns::Log::writeFormattedLine(systemLevel(level), subsystem_, line, fd_);
        }
        static ns::LogLevel systemLevel(Level level) {
            switch (static_cast<int>(level)) {
                case 0:
                    return ns::LogLevel::Debug;
                case 2:
                    return ns::LogLevel::Error;
                case 3:
                    return ns::LogLevel::Fault;
                default:
                    return ns::LogLevel::Info;
            }
        }

    private:
        std::string subsystem_;
        int fd_;
    };

    NEBLogPipeline(std::shared_ptr<Filter> filter, std::shared_ptr<Formatter> formatter,
                   std::shared_ptr<Writer> writer)
        : filter_(std::move(filter)),
          formatter_(std::move(formatter)),
          writer_(std::move(writer)) {}

    std::shared_ptr<Filter> filter() const { return read(filter_); }
    void setFilter(std::shared_ptr<Filter> filter) { replace(filter_, std::move(filter)); }
    std::shared_ptr<Formatter> formatter() const { return read(formatter_); }
    void setFormatter(std::shared_ptr<Formatter> formatter) {
        replace(formatter_, std::move(formatter));
    }
    std::shared_ptr<Writer> writer() const { return read(writer_); }
    void setWriter(std::shared_ptr<Writer> writer) { replace(writer_, std::move(writer)); }

    // Never throws: a failing part drops the line. Without a filter every line passes; without
    // a formatter or a writer none is written.
    void logInternal(std::string_view function, std::string_view message, Level level) noexcept {
        try {
            auto [filter, formatter, writer] = parts();
            if (!formatter || !writer) return;
            const std::string line = formatter->stringForFunc(function, message, level);
            if (line.empty()) return;
            if (filter && !filter->filterAllowsMessage(line, level)) return;
            writer->logMessage(line, level);
        } catch (...) {
            // Logging never fails its caller.
        }
    }

    template <class... Args>
    void log(Level level, std::string_view function, std::string_view format,
             const Args&... args) noexcept {
        try {
            logInternal(function, ns::format(format, args...), level);
        } catch (...) {
        }
    }

private:
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
    std::tuple<std::shared_ptr<Filter>, std::shared_ptr<Formatter>, std::shared_ptr<Writer>> parts()
        const {
        std::lock_guard lock(mutex_);
        return {filter_, formatter_, writer_};
    }

    mutable std::mutex mutex_;
    std::shared_ptr<Filter> filter_;
    std::shared_ptr<Formatter> formatter_;
    std::shared_ptr<Writer> writer_;
};
