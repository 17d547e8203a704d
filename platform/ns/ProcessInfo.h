#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/dispatch/Mutex.h"

namespace ns {

// Facts about the running process. The host hands over its command line at start.
class ProcessInfo {
public:
    static ProcessInfo& processInfo();

    // The command line, program name first; empty until the host sets it.
    std::vector<std::string> arguments() const;
    void setArguments(std::vector<std::string> arguments);
    void setArguments(int argc, const char* const* argv);
    // Changes with each setArguments, so that what is derived from the command line can be
    // kept until it is replaced.
    uint64_t argumentsGeneration() const;

    // The current environment, read afresh on each call.
    std::map<std::string, std::string> environment() const;
    // The last path component of the program name, else the kernel's name of the process.
    std::string processName() const;
    int processIdentifier() const;
    // A string unique across hosts and processes: "UUID-pid-counter".
    std::string globallyUniqueString() const;
    // Seconds of the process clock's monotonic time (since boot with the system clock).
    double systemUptime() const;
    std::string hostName() const;
    // Whether a debugger traces the process (asked of the kernel on each call).
    bool isBeingTraced() const;

private:
    ProcessInfo() = default;

    mutable dispatch::Mutex mutex_;
    std::vector<std::string> arguments_ GUARDED_BY(mutex_);
    std::atomic<uint64_t> argumentsGeneration_{0};  // read without the lock: asked on every read
};

}  // namespace ns
