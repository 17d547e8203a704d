#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "platform/ns/SharedInstance.h"

namespace sys {

// A moment as the kernel reports boot times: whole seconds and microseconds since 1970.
struct WallTime {
    int64_t seconds = 0;
    int64_t microseconds = 0;
};

// Kernel facts about the device that the SDK reports and decides on: the hardware model
// identifier (the kernel's "machine") and the time of the last boot. (The system's name and
// version are ui::Device's.) A Linux host is not the phone these facts describe, so each is
// configuration with a documented default that the host may replace at start. Usable from any
// thread.
class DeviceFacts {
public:
    static DeviceFacts& current();

    // The hardware model identifier. Default "arm64", a device's architecture rather than the
    // host's: the platform takes "x86_64" and "i386" for its simulator, which every PC would
    // otherwise be. A host that stands in for a simulator sets one of those.
    std::string machine() const;
    void setMachine(std::string machine);
    // Whether the machine is one that the platform runs its simulator on.
    bool isSimulator() const;

    // When the system last booted. Default: the kernel's boot time (the wall clock less the
    // time since boot); nothing when the kernel cannot tell.
    std::optional<WallTime> bootTime() const;
    void setBootTime(std::optional<WallTime> bootTime);

private:
    friend class ns::SharedInstance<DeviceFacts>;
    DeviceFacts() = default;
    static std::optional<WallTime> kernelBootTime();

    mutable std::mutex mutex_;
    std::string machine_ = "arm64";
    bool bootTimeSet_ = false;
    std::optional<WallTime> bootTime_;
};

}  // namespace sys
