#pragma once

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/ns/Sandbox.h"
#include "sdk/analytics/NEBALogging.h"
#include "sdk/analytics/NEBAMonitor.h"

namespace fuzzing {

// The analytics monitor prints nothing and keeps its samples in a sandbox of the fuzzer's own.
class QuietLogger : public NEBALogging {
public:
    void logMessage(const std::string&, int64_t) override {}
};

inline NEBAMonitor& analyticsMonitor() {
    static std::shared_ptr<NEBAMonitor>* monitor = [] {
        // In memory where the system has it: every sample is written through to disk.
        static std::string directory;
        for (const char* base : {"/dev/shm", "/tmp"}) {
            std::string pattern = std::string(base) + "/analytics-fuzz-XXXXXX";
            if (::mkdtemp(pattern.data())) {
                directory = pattern;
                break;
            }
        }
        if (directory.empty() || !ns::Sandbox::configure(directory).ok()) std::abort();
        auto* made = new std::shared_ptr<NEBAMonitor>(
            std::make_shared<NEBAMonitor>(-1, std::make_shared<QuietLogger>(), 0));
        NEBAMonitor::setShared(*made);
        // The monitor's queue thread may still be winding down when the fuzzer exits; the
        // process ends here, before the statics that thread uses are torn down under it.
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(directory, ignored);
            std::_Exit(0);
        });
        return made;
    }();
    return **monitor;
}

// Waits for what one input logged, so that each input ends with the monitor idle.
inline void settleAnalyticsMonitor() {
    analyticsMonitor().flush();
}

}  // namespace fuzzing
