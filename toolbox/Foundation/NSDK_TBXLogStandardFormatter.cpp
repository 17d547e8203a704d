#include "toolbox/Foundation/NSDK_TBXLogStandardFormatter.h"

#include <pthread.h>

#include "platform/ns/Log.h"
#include "platform/ns/ProcessInfo.h"

NSDK_TBXLogStandardFormatter::NSDK_TBXLogStandardFormatter()
    : pname_(ns::ProcessInfo::processInfo().processName()),
      pid_(ns::ProcessInfo::processInfo().processIdentifier()) {}

std::optional<std::string> NSDK_TBXLogStandardFormatter::stringForFunc(
    const std::optional<std::string>& func, std::optional<std::string_view> format,
    std::span<const ns::FormatArg> args, TBXLogLevel level) {
    auto message = NSDK_TBXLogBasicFormatter::stringForFunc(func, format, args, level);
    const void* thread = reinterpret_cast<const void*>(pthread_self());
    return ns::format("%@ %@[%d/%p] [lvl=%d] %@ %@", ns::Log::timestamp(), pname_, pid_, thread,
                      level, prettyNameForFunc(func),
                      message ? ns::FormatArg(*message) : ns::FormatArg(nullptr));
}
