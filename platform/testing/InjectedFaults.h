#pragma once

#include <functional>
#include <string_view>

namespace ns {

// The failures a test wants the next system operations to meet: each `add` makes one more
// call of the operation fail with `error` (an errno, or an OSStatus for "keychain") instead of
// running. Operations of the file classes: "open", "read", "write", "truncate", "fsync",
// "rename", "mkdir", "unlink", "rmdir", "opendir", "stat", "statvfs", "symlink", "setxattr",
// "getxattr", "removexattr"; of the keychain: "keychain", and "keychain.carry" for each item
// that earlier versions kept in a former group as it is carried over.
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
    // Runs `hook` the next time the program passes the test point (ns::passTestPoint), on the
    // thread that passes it, once. Each operation of the fault seam ("open", "truncate" ...) is
    // also a test point, passed just before the operation runs or meets an added failure.
    static void at(std::string_view point, std::function<void()> hook);
    static void clear();
};

}  // namespace ns
