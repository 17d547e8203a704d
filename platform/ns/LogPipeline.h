#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/FileDescriptor.h"
#include "platform/ns/Format.h"
#include "platform/ns/Log.h"

namespace ns {

// The logger of a component that formats whole lines of its own: a formatter makes the line, a
// filter decides by level (and line), a writer puts the line out. Each part is replaced as a
// whole under the pipeline's lock, so that a line logged while a part changes sees the old part
// or the new one, never one being torn down. The stream writer hands the finished line to the
// process's log, which escapes it and writes it to the component's stream: nothing here writes
// by itself. Any thread.
template <class Level>
class LogPipeline {
public:
    // Turns a message into one line; nothing drops the message. `function` is the caller's
    // name, empty when it gave none.
    class Formatter {
    public:
        virtual ~Formatter() = default;
        virtual std::optional<std::string> stringForFunc(std::string_view function,
                                                         std::string_view message,
                                                         Level level) const = 0;
    };
    class Filter {
    public:
        virtual ~Filter() = default;
        virtual bool filterAllowsMessage(std::string_view line, Level level) const = 0;
    };
    class Writer {
    public:
        virtual ~Writer() = default;
        virtual void logMessage(std::string_view line, Level level) = 0;
    };

    // Hands each line to the process's log for one descriptor, under the component's subsystem
    // and at the process level `systemLevel` gives. A descriptor it owns closes when it goes.
    class StreamWriter : public Writer {
    public:
        using LevelMap = LogLevel (*)(Level);
        StreamWriter(std::string subsystem, LevelMap systemLevel, int fd, bool owned = false)
            : subsystem_(std::move(subsystem)),
              systemLevel_(systemLevel),
              fd_(fd),
              owned_(owned ? fd : -1) {}
        int fileDescriptor() const { return fd_; }
        void logMessage(std::string_view line, Level level) override {
            Log::writeFormattedLine(systemLevel_(level), subsystem_, line, fd_);
        }

    private:
        std::string subsystem_;
        LevelMap systemLevel_;
        int fd_;
        FileDescriptor owned_;
    };

    LogPipeline(std::shared_ptr<Filter> filter, std::shared_ptr<Formatter> formatter,
                std::shared_ptr<Writer> writer)
        : filter_(std::move(filter)),
          formatter_(std::move(formatter)),
          writer_(std::move(writer)) {}

    std::shared_ptr<Filter> filter() const { return std::get<0>(parts()); }
    void setFilter(std::shared_ptr<Filter> filter) {
        dispatch::Lock lock(mutex_);
        filter_.swap(filter);
    }
    std::shared_ptr<Formatter> formatter() const { return std::get<1>(parts()); }
    void setFormatter(std::shared_ptr<Formatter> formatter) {
        dispatch::Lock lock(mutex_);
        formatter_.swap(formatter);
    }
    std::shared_ptr<Writer> writer() const { return std::get<2>(parts()); }
    void setWriter(std::shared_ptr<Writer> writer) {
        dispatch::Lock lock(mutex_);
        writer_.swap(writer);
    }

    // Never throws: a failing part drops the line. Without a filter every line passes; without
    // a formatter or a writer none is written.
    void logInternal(std::string_view function, std::string_view message, Level level) noexcept {
        try {
            auto [filter, formatter, writer] = parts();
            if (!formatter || !writer) return;
            const std::optional<std::string> line =
                formatter->stringForFunc(function, message, level);
            if (!line || (filter && !filter->filterAllowsMessage(*line, level))) return;
            writer->logMessage(*line, level);
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
    std::tuple<std::shared_ptr<Filter>, std::shared_ptr<Formatter>, std::shared_ptr<Writer>> parts()
        const {
        dispatch::Lock lock(mutex_);
        return {filter_, formatter_, writer_};
    }

    mutable dispatch::Mutex mutex_;
    std::shared_ptr<Filter> filter_ GUARDED_BY(mutex_);
    std::shared_ptr<Formatter> formatter_ GUARDED_BY(mutex_);
    std::shared_ptr<Writer> writer_ GUARDED_BY(mutex_);
};

}  // namespace ns
