#include "toolbox/Foundation/NSDK_TBXLogStandardFormatter.h"

#include <pthread.h>

#include <cmath>
#include <cstdio>
#include <ctime>

#include "platform/ns/Date.h"
#include "platform/ns/ProcessInfo.h"

NSDK_TBXLogStandardFormatter::NSDK_TBXLogStandardFormatter()
    : pname_(ns::ProcessInfo::processInfo().processName()),
      pid_(ns::ProcessInfo::processInfo().processIdentifier()) {}

std::string NSDK_TBXLogStandardFormatter::currentDateText() {
    double seconds = ns::Date::now().timeIntervalSince1970();
    double whole = std::floor(seconds);
    auto millis = static_cast<int>((seconds - whole) * 1000.0);
    auto time = static_cast<time_t>(whole);
    // localtime_r reads the time-zone state, which is not safe to share while it changes.
    std::lock_guard lock(dateMutex_);
    std::tm parts{};
    localtime_r(&time, &parts);
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  millis);
    return buffer;
}

std::optional<std::string> NSDK_TBXLogStandardFormatter::stringForFunc(
    const std::optional<std::string>& func, std::optional<std::string_view> format,
    std::span<const ns::FormatArg> args, TBXLogLevel level) {
    auto message = NSDK_TBXLogBasicFormatter::stringForFunc(func, format, args, level);
    const void* thread = reinterpret_cast<const void*>(pthread_self());
    const char* noMessage = nullptr;
    if (message) {
        return ns::format("%@ %@[%d/%p] [lvl=%d] %@ %@", currentDateText(), pname_, pid_, thread,
                          level, prettyNameForFunc(func), *message);
    }
    return ns::format("%@ %@[%d/%p] [lvl=%d] %@ %@", currentDateText(), pname_, pid_, thread, level,
                      prettyNameForFunc(func), noMessage);
}
