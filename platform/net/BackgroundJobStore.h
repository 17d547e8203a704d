#pragma once

#include <string>
#include <vector>

#include "platform/net/BackgroundJob.h"
#include "platform/ns/Result.h"

namespace net {

// The directory where background sessions keep their jobs, one file "<job id>.job" each,
// written atomically with mode 0600 (requests may carry credentials). Usable from any thread.
class BackgroundJobStore {
public:
    static void setDirectory(std::string directory);
    // The directory set, or "BackgroundTransfers" in the sandbox's Application Support.
    static std::string directory();

    static ns::Status save(const BackgroundJob& job);
    static void remove(const std::string& jobIdentifier);
    // Every job in the directory, ordered by identifier. A file that does not hold a readable
    // job (cut short by a crash, damaged, or not written by this program) is skipped with a log
    // line and removed.
    static std::vector<BackgroundJob> load();

    // Removes, with their body files, the jobs that no task runs and that outlived their
    // use: begun more than `maximumAge` seconds before `now` (wall-clock seconds since 1970),
    // or whose body is gone. Answers how many went.
    static size_t removeOutlived(double now, double maximumAge);

    // A job runs in at most one task of the process at a time: claim() answers false when
    // another task has it.
    static bool claim(const std::string& jobIdentifier);
    static bool isClaimed(const std::string& jobIdentifier);
    static void release(const std::string& jobIdentifier);
};

}  // namespace net
