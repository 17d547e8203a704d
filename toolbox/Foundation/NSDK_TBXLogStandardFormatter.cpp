#include "toolbox/Foundation/NSDK_TBXLogStandardFormatter.h"

#include <pthread.h>

#include "platform/ns/Log.h"
#include "platform/ns/ProcessInfo.h"

NSDK_TBXLogStandardFormatter::NSDK_TBXLogStandardFormatter()
    : pname_(ns::ProcessInfo::processInfo().processName()),
      pid_(ns::ProcessInfo::processInfo().processIdentifier()) {}

std::optional<std::string> NSDK_TBXLogStandardFormatter::stringForFunc(std::string_view func,
                                                                       std::string_view message,
                                                                       TBXLogLevel level) const {
    const void* thread = reinterpret_cast<const void*>(pthread_self());
    return ns::format("%@ %@[%d/%p] [lvl=%d] %@ %@", ns::Log::timestamp(), pname_, pid_, thread,
                      level, prettyNameForFunc(func), message);
}
