#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Format.h"

namespace ns {

// Severity of a log line, least severe first.
enum class LogLevel : uint8_t { Debug, Info, Default, Error, Fault };

// One line handed to the outputs and sinks.
struct LogEntry {
    LogLevel level = LogLevel::Default;
    std::string subsystem;
    std::string category;
    std::string text;  // the message alone
    std::string line;  // the full line as written to standard error
};

// The process's system log: lines go to standard error and, when set, to a file; sinks added by
// tests or by the host see every line whatever the minimum level, and a claiming sink can keep
// a line from the outputs. Usable from any thread.
class Log {
public:
    using Sink = std::function<void(const LogEntry&)>;
    using SinkToken = uint64_t;

    static void write(LogLevel level, std::string_view subsystem, std::string_view category,
                      std::string_view text);
    static void write(LogLevel level, std::string_view text) { write(level, {}, {}, text); }
    // A line that a component's own logger has formatted whole (its own date, tags and level
    // names): escaped like any other and written as it stands, with a line feed, to the file
    // descriptor that logger writes to (standard output, a file it opened), whatever the
    // minimum level, since that logger's own filter has decided already. The sinks get it with
    // its level and subsystem; a claiming sink may take it.
    static void writeFormattedLine(LogLevel level, std::string_view subsystem,
                                   std::string_view line, int fd);

    // The level of a system-log priority (0 emergency ... 3 error, 4 warning, 5 notice, 6 info,
    // 7 debug): 0 to 2 Fault, 3 Error, 4 and 5 Default, 6 Info, 7 (and above) Debug.
    static LogLevel levelForPriority(int priority);

    // Lines below this level stay out of standard error and the file (default: Default).
    static void setMinimumLevel(LogLevel level);
    // The minimum for the lines of one subsystem alone, in place of the process's; nothing
    // gives the subsystem back to the process's minimum.
    static void setMinimumLevel(std::string_view subsystem, std::optional<LogLevel> level);
    static LogLevel minimumLevel();

    // Appends every line to the file as well; an empty path closes it. False when it cannot be
    // opened.
    static bool setFile(const std::string& path);
    // Standard error output can be switched off (the host's --quiet).
    static void setStandardErrorEnabled(bool enabled);

    static SinkToken addSink(Sink sink);
    // A sink that may take a line for itself by answering true: such a line is written to no
    // output (standard error, the file), only handed to the sinks. Tests take the lines of the
    // failure paths they provoke, so that a passing run shows no error it expected.
    using ClaimingSink = std::function<bool(const LogEntry&)>;
    static SinkToken addClaimingSink(ClaimingSink sink);
    static void removeSink(SinkToken token);

    // "YYYY-MM-DD HH:MM:SS.mmm <process>[pid:tid] " in local time, from the process clock.
    static std::string linePrefix();
    // "YYYY-MM-DD HH:MM:SS.mmm" in local time, from the process clock: the date of the prefix,
    // for loggers that write a date of their own.
    static std::string timestamp();
    // The text as it appears in a line: control characters (C0, DEL, C1) and bytes that are
    // not UTF-8 written as escapes (a line feed as backslash and "n", ESC as "\u001B"), so
    // that a line stays one line whatever it quotes. Loggers that write lines of their own
    // use it too.
    static std::string escapedForLine(std::string_view text);
};

// Formats with the platform's format strings (`%@`, `%d` ...) and logs at the default level.
template <class... Args>
void nslog(std::string_view format, const Args&... args) {
    Log::write(LogLevel::Default, ns::format(format, args...));
}

}  // namespace ns
