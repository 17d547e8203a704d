#include "platform/ns/Log.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <vector>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Mutex.h"
#include "platform/ns/ProcessInfo.h"

namespace ns {
namespace {

// A sink is called under its own lock, so that once removeSink() returns it is never called
// again; the lock is recursive so that a sink may remove itself.
struct SinkSlot {
    Log::SinkToken token;
    Log::ClaimingSink fn;  // a plain sink answers false
    bool claims = false;
    dispatch::RecursiveMutex callMutex;
    bool removed GUARDED_BY(callMutex) = false;
};

struct LogState {
    dispatch::Mutex mutex;  // guards everything below
    std::vector<std::shared_ptr<SinkSlot>> sinks GUARDED_BY(mutex);
    Log::SinkToken nextToken GUARDED_BY(mutex) = 1;
    int fileFd GUARDED_BY(mutex) = -1;
    std::atomic<LogLevel> minimum{LogLevel::Default};
    std::map<std::string, LogLevel, std::less<>> subsystemMinimum GUARDED_BY(mutex);
    std::atomic<bool> hasSubsystemMinimum{false};  // spares the lock when there are none
    std::atomic<bool> stderrEnabled{true};
    dispatch::Mutex outputMutex;  // keeps lines whole when threads log at once
};

LogState& state() {
    static auto* s = new LogState;  // never destroyed: lines may be logged during exit
    return *s;
}

const char* levelTag(LogLevel level) {
    switch (level) {
        case LogLevel::Debug:
            return "<Debug> ";
        case LogLevel::Info:
            return "<Info> ";
        case LogLevel::Default:
            return "";
        case LogLevel::Error:
            return "<Error> ";
        case LogLevel::Fault:
            return "<Fault> ";
    }
    return "";
}

void appendEscaped(std::string& out, const char* format, unsigned value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, format, value);
    out += buffer;
}

// A logged text often holds what a page or a peer sent: a newline in it would forge whole log
// lines and an escape sequence would reach the terminal. Control characters (C0, DEL and C1)
// and bytes that are not UTF-8 are written as escapes, so that every line is one line and
// shows what was sent.
void appendEscapedForLine(std::string& out, std::string_view text) {
    out.reserve(out.size() + text.size());
    size_t i = 0;
    while (i < text.size()) {
        // Runs of printable ASCII, most of any line, go in one piece.
        size_t run = i;
        while (run < text.size()) {
            const auto c = static_cast<unsigned char>(text[run]);
            if (!(c == '\t' || (c >= 0x20 && c < 0x7f))) break;
            ++run;
        }
        out.append(text.substr(i, run - i));
        i = run;
        if (i >= text.size()) break;
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7f) {
            switch (byte) {
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                default:
                    appendEscaped(out, "\\u%04X", byte);
            }
            ++i;
            continue;
        }
        const size_t length = byte >= 0xf0 ? 4 : byte >= 0xe0 ? 3 : byte >= 0xc0 ? 2 : 1;
        const bool whole =
            length > 1 && byte < 0xf5 && byte != 0xc0 && byte != 0xc1 &&
            i + length <= text.size() &&
            std::all_of(text.begin() + static_cast<std::ptrdiff_t>(i + 1),
                        text.begin() + static_cast<std::ptrdiff_t>(i + length),
                        [](char c) { return (static_cast<unsigned char>(c) & 0xc0) == 0x80; });
        if (!whole) {
            appendEscaped(out, "\\x%02X", byte);
            ++i;
            continue;
        }
        if (byte == 0xc2 && static_cast<unsigned char>(text[i + 1]) < 0xa0) {
            appendEscaped(out, "\\u%04X", static_cast<unsigned char>(text[i + 1]));
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
}

void writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text.remove_prefix(static_cast<size_t>(n));
    }
}

}  // namespace

std::string Log::escapedForLine(std::string_view text) {
    std::string out;
    appendEscapedForLine(out, text);
    return out;
}

namespace {

// Per-thread caches of a line's prefix. Plain arrays, which nothing destroys: lines are still
// written by exit-time handlers, after a thread's objects with destructors have gone.
struct StampCache {
    time_t second = -1;
    char text[32] = {};
    size_t length = 0;
};
struct ProcessCache {
    int processID = -1;
    char name[96] = {};
    size_t nameLength = 0;
    char text[160] = {};
    size_t length = 0;
};
thread_local StampCache stampCache;
thread_local ProcessCache processCache;

// " name[pid:tid] ".
std::string processPart(const std::string& name, int processID) {
    return " " + name + "[" + std::to_string(processID) + ":" +
           std::to_string(static_cast<long>(::syscall(SYS_gettid))) + "] ";
}

// "YYYY-MM-DD HH:MM:SS.mmm". Most lines fall in the same second as the line before on their
// thread: the local time is worked out once a second.
void appendTimestamp(std::string& out) {
    const double wall = dispatch::Clock::current().wallTime();
    const double whole = std::floor(wall);
    const auto seconds = static_cast<time_t>(whole);
    const int millis = std::min(static_cast<int>((wall - whole) * 1000.0), 999);
    StampCache& stamp = stampCache;
    if (seconds != stamp.second) {
        struct tm local {};
        localtime_r(&seconds, &local);
        const int n = std::snprintf(stamp.text, sizeof stamp.text, "%04d-%02d-%02d %02d:%02d:%02d.",
                                    local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                    local.tm_hour, local.tm_min, local.tm_sec);
        stamp.length = n > 0 ? std::min(static_cast<size_t>(n), sizeof stamp.text - 1) : 0;
        stamp.second = seconds;
    }
    out.append(stamp.text, stamp.length);
    out.push_back(static_cast<char>('0' + millis / 100));
    out.push_back(static_cast<char>('0' + millis / 10 % 10));
    out.push_back(static_cast<char>('0' + millis % 10));
}

// " name[pid:tid] ", worked out once a thread.
void appendProcessPart(std::string& out) {
    auto& info = ProcessInfo::processInfo();
    const std::string name = info.processName();
    const int processID = info.processIdentifier();
    ProcessCache& process = processCache;
    if (process.processID == processID &&
        std::string_view(process.name, process.nameLength) == name) {
        out.append(process.text, process.length);
        return;
    }
    const std::string uncached = processPart(name, processID);
    out.append(uncached);
    if (name.size() < sizeof process.name && uncached.size() < sizeof process.text) {
        std::memcpy(process.name, name.data(), name.size());
        process.nameLength = name.size();
        std::memcpy(process.text, uncached.data(), uncached.size());
        process.length = uncached.size();
        process.processID = processID;
    }
}

// Hands a finished line to the sinks, claiming ones first (they decide whether it is written),
// then to `output` unless one claimed it, then to the plain sinks. Sinks run outside the state
// lock so that one may log or remove itself.
template <class Output>
void deliver(LogLevel level, std::string_view subsystem, std::string_view category,
             std::string_view text, const std::string& line, Output&& output) {
    auto& s = state();
    std::vector<std::shared_ptr<SinkSlot>> sinks;
    {
        dispatch::Lock lock(s.mutex);
        sinks = s.sinks;
    }
    std::optional<LogEntry> entry;
    if (!sinks.empty()) {
        entry.emplace(LogEntry{level, std::string(subsystem), std::string(category),
                               std::string(text), line});
    }
    const auto call = [&entry](SinkSlot& sink) {
        dispatch::ScopedLock lock(sink.callMutex);
        return !sink.removed && sink.fn(*entry);
    };
    bool claimed = false;
    for (auto& sink : sinks) {
        if (sink->claims && call(*sink)) claimed = true;
    }
    if (!claimed) output();
    for (auto& sink : sinks) {
        if (!sink->claims) call(*sink);
    }
}

}  // namespace

std::string Log::linePrefix() {
    std::string prefix;
    prefix.reserve(64);
    appendTimestamp(prefix);
    appendProcessPart(prefix);
    return prefix;
}

std::string Log::timestamp() {
    std::string text;
    appendTimestamp(text);
    return text;
}

void Log::write(LogLevel level, std::string_view subsystem, std::string_view category,
                std::string_view text) {
    auto& s = state();
    std::string line = linePrefix();
    if (!subsystem.empty()) {
        line.append("[").append(subsystem);
        if (!category.empty()) line.append(":").append(category);
        line.append("] ");
    }
    line.append(levelTag(level));
    appendEscapedForLine(line, text);
    deliver(level, subsystem, category, text, line, [&] {
        LogLevel minimum = s.minimum.load();
        if (s.hasSubsystemMinimum.load() && !subsystem.empty()) {
            dispatch::Lock lock(s.mutex);
            if (auto it = s.subsystemMinimum.find(subsystem); it != s.subsystemMinimum.end()) {
                minimum = it->second;
            }
        }
        if (level < minimum) return;
        line.push_back('\n');  // the sinks' entry holds a copy made before
        dispatch::Lock lock(s.outputMutex);
        if (s.stderrEnabled.load()) writeAll(STDERR_FILENO, line);
        dispatch::Lock stateLock(s.mutex);
        if (s.fileFd >= 0) writeAll(s.fileFd, line);
    });
}

void Log::writeFormattedLine(LogLevel level, std::string_view subsystem, std::string_view line,
                             int fd) {
    std::string escaped;
    appendEscapedForLine(escaped, line);
    deliver(level, subsystem, {}, line, escaped, [&] {
        escaped.push_back('\n');
        dispatch::Lock lock(state().outputMutex);
        // What the process wrote through its buffered standard output comes first.
        if (fd == STDOUT_FILENO) std::fflush(stdout);
        writeAll(fd, escaped);
    });
}

LogLevel Log::levelForPriority(int priority) {
    if (priority <= 2) return LogLevel::Fault;
    if (priority == 3) return LogLevel::Error;
    if (priority <= 5) return LogLevel::Default;
    return priority == 6 ? LogLevel::Info : LogLevel::Debug;
}

void Log::setMinimumLevel(LogLevel level) {
    state().minimum.store(level);
}

void Log::setMinimumLevel(std::string_view subsystem, std::optional<LogLevel> level) {
    auto& s = state();
    dispatch::Lock lock(s.mutex);
    if (level) {
        s.subsystemMinimum.insert_or_assign(std::string(subsystem), *level);
    } else if (auto it = s.subsystemMinimum.find(subsystem); it != s.subsystemMinimum.end()) {
        s.subsystemMinimum.erase(it);
    }
    s.hasSubsystemMinimum.store(!s.subsystemMinimum.empty());
}

LogLevel Log::minimumLevel() {
    return state().minimum.load();
}

bool Log::setFile(const std::string& path) {
    auto& s = state();
    int fd = -1;
    if (!path.empty()) {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0) return false;
    }
    dispatch::Lock lock(s.mutex);
    if (s.fileFd >= 0) ::close(s.fileFd);
    s.fileFd = fd;
    return true;
}

void Log::setStandardErrorEnabled(bool enabled) {
    state().stderrEnabled.store(enabled);
}

namespace {

Log::SinkToken addSlot(Log::ClaimingSink fn, bool claims) {
    auto& s = state();
    dispatch::Lock lock(s.mutex);
    auto slot = std::make_shared<SinkSlot>();
    slot->token = s.nextToken++;
    slot->fn = std::move(fn);
    slot->claims = claims;
    s.sinks.push_back(slot);
    return slot->token;
}

}  // namespace

Log::SinkToken Log::addSink(Sink sink) {
    return addSlot(
        [sink = std::move(sink)](const LogEntry& entry) {
            sink(entry);
            return false;
        },
        false);
}

Log::SinkToken Log::addClaimingSink(ClaimingSink sink) {
    return addSlot(std::move(sink), true);
}

void Log::removeSink(SinkToken token) {
    auto& s = state();
    std::shared_ptr<SinkSlot> slot;
    {
        dispatch::Lock lock(s.mutex);
        auto it = std::find_if(s.sinks.begin(), s.sinks.end(),
                               [token](const auto& e) { return e->token == token; });
        if (it == s.sinks.end()) return;
        slot = *it;
        s.sinks.erase(it);
    }
    dispatch::ScopedLock call(slot->callMutex);  // waits for a call in progress on another thread
    slot->removed = true;
}

}  // namespace ns
