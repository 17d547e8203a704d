#pragma once

#include <functional>
#include <string_view>

namespace ns {

// The failures a test wants the next system operations to meet: each `add` makes one more
// call of the operation fail with `error` (an errno, or an OSStatus for "keychain") instead of
// running. Operations of the file classes: "open", "read", "write", "truncate", "fsync",
// "rename", "mkdir", "unlink", "rmdir", "opendir", "stat", "statvfs", "symlink", "setxattr",
// "getxattr", "removexattr"; of the keychain: "keychain".
//
// An object of the class, held by a test or a fixture, clears what is still pending when it
// goes, so that no failure leaks into the next test.
class InjectedFaults {
public:
    InjectedFaults() = default;
    ~InjectedFaults() { clear(); }
    InjectedFaults(const InjectedFaults&) = delete;
    InjectedFaults& operator=(const InjectedFaults&) = delete;

    static void add(std::string_view operation, int error, int count = 1);
    // Runs `hook` on the thread that next asks for the operation, just before it runs (or meets
    // a failure added for it): a place to force an interleaving, such as swapping a folder for a
    // link between a check and the call. Once; `clear` drops hooks not yet run.
    static void hook(std::string_view operation, std::function<void()> hook);
    static void clear();
};

}  // namespace ns
