#include "platform/ns/Log.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dispatch/Clock.h"
#include "platform/ns/ProcessInfo.h"

namespace ns {
namespace {

// A sink is called under its own lock, so that once removeSink() returns it is never called
// again; the lock is recursive so that a sink may remove itself.
struct SinkSlot {
    Log::SinkToken token;
    Log::Sink fn;
    std::recursive_mutex callMutex;
    bool removed = false;
};

struct LogState {
    std::mutex mutex;  // guards everything below
    std::vector<std::shared_ptr<SinkSlot>> sinks;
    Log::SinkToken nextToken = 1;
    int fileFd = -1;
    std::atomic<LogLevel> minimum{LogLevel::Default};
    std::map<std::string, LogLevel, std::less<>> subsystemMinimum;
    std::atomic<bool> hasSubsystemMinimum{false};  // spares the lock when there are none
    std::atomic<bool> stderrEnabled{true};
    std::mutex outputMutex;  // keeps lines whole when threads log at once
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
std::string escapedForLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\t' || (byte >= 0x20 && byte < 0x7f)) {
            out += static_cast<char>(byte);
            ++i;
            continue;
        }
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
    return out;
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

std::string Log::linePrefix() {
    double wall = dispatch::Clock::current().wallTime();
    double whole = std::floor(wall);
    auto millis = static_cast<int>((wall - whole) * 1000.0);
    time_t seconds = static_cast<time_t>(whole);
    struct tm local {};
    localtime_r(&seconds, &local);
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  millis);
    auto& info = ProcessInfo::processInfo();
    return std::string(stamp) + " " + info.processName() + "[" +
           std::to_string(info.processIdentifier()) + ":" +
           std::to_string(static_cast<long>(::syscall(SYS_gettid))) + "] ";
}

void Log::write(LogLevel level, std::string_view subsystem, std::string_view category,
                std::string_view text) {
    auto& s = state();
    LogEntry entry{level, std::string(subsystem), std::string(category), std::string(text), {}};
    entry.line = linePrefix();
    if (!subsystem.empty()) {
        entry.line.append("[").append(subsystem);
        if (!category.empty()) entry.line.append(":").append(category);
        entry.line.append("] ");
    }
    entry.line.append(levelTag(level)).append(escapedForLine(text));

    LogLevel minimum = s.minimum.load();
    if (s.hasSubsystemMinimum.load() && !subsystem.empty()) {
        std::lock_guard lock(s.mutex);
        if (auto it = s.subsystemMinimum.find(subsystem); it != s.subsystemMinimum.end()) {
            minimum = it->second;
        }
    }
    if (level >= minimum) {
        std::string out = entry.line + "\n";
        std::lock_guard lock(s.outputMutex);
        if (s.stderrEnabled.load()) writeAll(STDERR_FILENO, out);
        std::lock_guard stateLock(s.mutex);
        if (s.fileFd >= 0) writeAll(s.fileFd, out);
    }

    std::vector<std::shared_ptr<SinkSlot>> sinks;
    {
        std::lock_guard lock(s.mutex);
        sinks = s.sinks;
    }
    // Sinks run outside the state lock so that one may log or remove itself.
    for (auto& sink : sinks) {
        std::lock_guard call(sink->callMutex);
        if (!sink->removed) sink->fn(entry);
    }
}

void Log::setMinimumLevel(LogLevel level) {
    state().minimum.store(level);
}

void Log::setMinimumLevel(std::string_view subsystem, std::optional<LogLevel> level) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
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
    std::lock_guard lock(s.mutex);
    if (s.fileFd >= 0) ::close(s.fileFd);
    s.fileFd = fd;
    return true;
}

void Log::setStandardErrorEnabled(bool enabled) {
    state().stderrEnabled.store(enabled);
}

Log::SinkToken Log::addSink(Sink sink) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    auto slot = std::make_shared<SinkSlot>();
    slot->token = s.nextToken++;
    slot->fn = std::move(sink);
    s.sinks.push_back(slot);
    return slot->token;
}

void Log::removeSink(SinkToken token) {
    auto& s = state();
    std::shared_ptr<SinkSlot> slot;
    {
        std::lock_guard lock(s.mutex);
        auto it = std::find_if(s.sinks.begin(), s.sinks.end(),
                               [token](const auto& e) { return e->token == token; });
        if (it == s.sinks.end()) return;
        slot = *it;
        s.sinks.erase(it);
    }
    std::lock_guard call(slot->callMutex);  // waits for a call in progress on another thread
    slot->removed = true;
}

}  // namespace ns
