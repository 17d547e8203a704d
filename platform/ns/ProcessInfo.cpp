#include "platform/ns/ProcessInfo.h"

#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <fstream>

#include "platform/dispatch/Clock.h"
#include "platform/ns/UUID.h"

extern char** environ;

namespace ns {

ProcessInfo& ProcessInfo::processInfo() {
    static auto* info = new ProcessInfo;  // outlives every static that may log at exit
    return *info;
}

std::vector<std::string> ProcessInfo::arguments() const {
    dispatch::Lock lock(mutex_);
    return arguments_;
}

void ProcessInfo::setArguments(std::vector<std::string> arguments) {
    dispatch::Lock lock(mutex_);
    arguments_ = std::move(arguments);
    argumentsGeneration_.fetch_add(1, std::memory_order_release);
}

uint64_t ProcessInfo::argumentsGeneration() const {
    return argumentsGeneration_.load(std::memory_order_acquire);
}

void ProcessInfo::setArguments(int argc, const char* const* argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc && argv[i]; ++i) args.emplace_back(argv[i]);
    setArguments(std::move(args));
}

std::map<std::string, std::string> ProcessInfo::environment() const {
    std::map<std::string, std::string> env;
    for (char** e = environ; e && *e; ++e) {
        std::string_view entry(*e);
        auto eq = entry.find('=');
        if (eq == std::string_view::npos) continue;
        env.emplace(entry.substr(0, eq), entry.substr(eq + 1));
    }
    return env;
}

std::string ProcessInfo::processName() const {
    {
        dispatch::Lock lock(mutex_);
        if (!arguments_.empty() && !arguments_[0].empty()) {
            const auto& program = arguments_[0];
            auto slash = program.find_last_of('/');
            return slash == std::string::npos ? program : program.substr(slash + 1);
        }
    }
    // Read once, as every log line asks; kept through exit, when lines are still logged.
    static const auto* kernelName = [] {
        std::ifstream comm("/proc/self/comm");
        std::string name;
        std::getline(comm, name);
        return new std::string(name.empty() ? "hybrid" : name);
    }();
    return *kernelName;
}

int ProcessInfo::processIdentifier() const {
    return static_cast<int>(::getpid());
}

std::string ProcessInfo::globallyUniqueString() const {
    static std::atomic<unsigned long long> counter{0};
    char tail[48];
    std::snprintf(tail, sizeof tail, "-%d-%016llX", processIdentifier(), ++counter);
    return UUID().UUIDString() + tail;
}

double ProcessInfo::systemUptime() const {
    auto since = dispatch::Clock::current().now().time_since_epoch();
    return std::chrono::duration<double>(since).count();
}

std::string ProcessInfo::hostName() const {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
    return name;
}

bool ProcessInfo::isBeingTraced() const {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("TracerPid:")) {
            return line.find_first_not_of(" \t0", 10) != std::string::npos;
        }
    }
    return false;
}

}  // namespace ns
