#include "platform/sys/DeviceFacts.h"

#include <time.h>

namespace sys {

DeviceFacts& DeviceFacts::current() {
    return ns::SharedInstance<DeviceFacts>::get();
}

std::string DeviceFacts::machine() const {
    std::lock_guard lock(mutex_);
    return machine_;
}

void DeviceFacts::setMachine(std::string machine) {
    std::lock_guard lock(mutex_);
    machine_ = std::move(machine);
}

bool DeviceFacts::isSimulator() const {
    auto name = machine();
    return name == "x86_64" || name == "i386";
}

std::optional<WallTime> DeviceFacts::bootTime() const {
    {
        std::lock_guard lock(mutex_);
        if (bootTimeSet_) return bootTime_;
    }
    return kernelBootTime();
}

void DeviceFacts::setBootTime(std::optional<WallTime> bootTime) {
    std::lock_guard lock(mutex_);
    bootTime_ = bootTime;
    bootTimeSet_ = true;
}

std::optional<WallTime> DeviceFacts::kernelBootTime() {
    timespec wall{}, sinceBoot{};
    if (clock_gettime(CLOCK_REALTIME, &wall) != 0) return std::nullopt;
    if (clock_gettime(CLOCK_BOOTTIME, &sinceBoot) != 0) return std::nullopt;
    int64_t micros = (int64_t{wall.tv_sec} - sinceBoot.tv_sec) * 1000000 +
                     (int64_t{wall.tv_nsec} - sinceBoot.tv_nsec) / 1000;
    if (micros <= 0) return std::nullopt;
    return WallTime{micros / 1000000, micros % 1000000};
}

}  // namespace sys
