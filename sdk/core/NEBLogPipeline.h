#pragma once

#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ns/Log.h"
#include "platform/ns/LogPipeline.h"

// "<TAG/LEVEL> message", then ": " and the contexts' descriptions joined by ", "; an empty
// message reads "(Message was empty)". The line of the SDK's loggers that print contexts.
inline std::string NEBLogTaggedLine(std::string_view tag, std::string_view level,
                                    std::string_view message,
                                    const std::vector<std::string>& contexts) {
    std::string line = "<" + std::string(tag) + "/" + std::string(level) + "> " +
                       (message.empty() ? "(Message was empty)" : std::string(message));
    for (size_t i = 0; i < contexts.size(); ++i) line += (i == 0 ? ": " : ", ") + contexts[i];
    return line;
}

// The logger of an SDK part that formats whole lines of its own (see ns::LogPipeline), with
// the parts the SDK's loggers share. Levels: 0 debug, 1 info, 2 error, 3 assert.
template <class Level>
class NEBLogPipeline : public ns::LogPipeline<Level> {
    using Base = ns::LogPipeline<Level>;

public:
    using Base::Base;

    // "<date>: <TAG/LABEL> message", the date "yyyy-MM-dd HH:mm:ss.SSS" in local time from the
    // process clock; the function's name is not part of the line.
    class StandardFormatter : public Base::Formatter {
    public:
        explicit StandardFormatter(std::string tag) : tag_(std::move(tag)) {}
        std::optional<std::string> stringForFunc(std::string_view, std::string_view message,
                                                 Level level) const override {
            return ns::Log::timestamp() + ": <" + tag_ + "/" +
                   labelForLevel(static_cast<int>(level)) + "> " + std::string(message);
        }
        // The error level reads "WARNING" and the assert level "ERROR".
        static const char* labelForLevel(int level) {
            static constexpr const char* kLabels[] = {"DEBUG", "INFO", "WARNING", "ERROR"};
            return level >= 0 && level <= 3 ? kLabels[level] : "INFO";
        }

    private:
        std::string tag_;
    };

    // Passes info, error and assert lines at or above its level; debug lines never pass.
    class LevelFilter : public Base::Filter {
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

    // Standard output unless another descriptor is named.
    class StreamWriter : public Base::StreamWriter {
    public:
        explicit StreamWriter(std::string subsystem, int fd = STDOUT_FILENO)
            : Base::StreamWriter(std::move(subsystem), &systemLevel, fd) {}
        static ns::LogLevel systemLevel(Level level) {
            static constexpr ns::LogLevel kLevels[] = {ns::LogLevel::Debug, ns::LogLevel::Info,
                                                       ns::LogLevel::Error, ns::LogLevel::Fault};
            const int value = static_cast<int>(level);
            return value >= 0 && value <= 3 ? kLevels[value] : ns::LogLevel::Info;
        }
    };
};
