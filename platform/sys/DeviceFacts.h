#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/SharedInstance.h"
#include "platform/ns/UUID.h"

namespace sys {

// A moment as the kernel reports boot times: whole seconds and microseconds since 1970.
struct WallTime {
    int64_t seconds = 0;
    int64_t microseconds = 0;
};

// The one owner of the facts about the device that the SDK and the plug-ins report and decide
// on (ui::Device answers its system name, version and vendor identifier from here): the
// hardware model identifier, the time of the last boot, the system's name and version, and
// the vendor identifier. Each may be set by the host at start. Usable from any thread.
class DeviceFacts {
public:
    // The version a Linux host reports unless told otherwise (the host's --system-version):
    // a phone system recent enough that no caller takes its old-version paths.
    static constexpr const char* kDefaultSystemVersion = "17.0";
    static constexpr const char* kSystemName = "iOS";
    // The vendor identifier's file in the application's Library: kept for the life of the
    // installation, gone with a reinstall as on the phone.
    static constexpr const char* kVendorIdentifierFileName = ".identifierForVendor";

    static DeviceFacts& current();

    // The hardware model identifier: the kernel's machine (uname), unless set.
    std::string machine() const;
    void setMachine(std::string machine);
    // Whether the host stands in for the platform's simulator: a machine set to one that the
    // simulator runs on ("x86_64", "i386"). The kernel's own machine never counts, since a
    // Linux PC is not that simulator.
    bool isSimulator() const;

    // When the system last booted. Default: the kernel's boot time (the wall clock less the
    // time since boot); nothing when the kernel cannot tell.
    std::optional<WallTime> bootTime() const;
    void setBootTime(std::optional<WallTime> bootTime);

    std::string systemName() const { return kSystemName; }
    // "major.minor", compared numerically by callers; kDefaultSystemVersion unless set.
    std::string systemVersion() const;
    void setSystemVersion(std::string version);

    // Made once and kept in the sandbox (analytics and identity rely on it staying the same);
    // without a configured sandbox, made once per process. Nothing when set so.
    std::optional<ns::UUID> identifierForVendor() const;
    void setIdentifierForVendor(std::optional<ns::UUID> identifier);

private:
    friend class ns::SharedInstance<DeviceFacts>;
    DeviceFacts() = default;
    static std::optional<WallTime> kernelBootTime();
    static std::string kernelMachine();
    ns::UUID keptVendorIdentifierLocked() const REQUIRES(mutex_);

    mutable dispatch::Mutex mutex_;
    mutable std::optional<std::string> machine_
        GUARDED_BY(mutex_);  // read from the kernel when first asked
    bool machineSet_ GUARDED_BY(mutex_) = false;
    bool bootTimeSet_ GUARDED_BY(mutex_) = false;
    std::optional<WallTime> bootTime_ GUARDED_BY(mutex_);
    std::string systemVersion_ GUARDED_BY(mutex_) = kDefaultSystemVersion;
    bool vendorIdentifierSet_ GUARDED_BY(mutex_) = false;
    std::optional<ns::UUID> vendorIdentifier_ GUARDED_BY(mutex_);
    // What was read or made for the sandbox of this generation.
    mutable std::optional<std::pair<uint64_t, ns::UUID>> keptVendorIdentifier_ GUARDED_BY(mutex_);
};

}  // namespace sys
