#include "platform/sys/DeviceFacts.h"

#include <sys/utsname.h>
#include <time.h>

#include "platform/ns/AtomicFile.h"
#include "platform/ns/Sandbox.h"

namespace sys {

DeviceFacts& DeviceFacts::current() {
    return ns::SharedInstance<DeviceFacts>::get();
}

std::string DeviceFacts::kernelMachine() {
    utsname names{};
    if (::uname(&names) != 0 || names.machine[0] == '\0') return "unknown";
    return names.machine;
}

std::string DeviceFacts::machine() const {
    dispatch::Lock lock(mutex_);
    if (!machine_) machine_ = kernelMachine();
    return *machine_;
}

void DeviceFacts::setMachine(std::string machine) {
    dispatch::Lock lock(mutex_);
    machine_ = std::move(machine);
    machineSet_ = true;
}

bool DeviceFacts::isSimulator() const {
    dispatch::Lock lock(mutex_);
    return machineSet_ && (*machine_ == "x86_64" || *machine_ == "i386");
}

std::optional<WallTime> DeviceFacts::bootTime() const {
    {
        dispatch::Lock lock(mutex_);
        if (bootTimeSet_) return bootTime_;
    }
    return kernelBootTime();
}

void DeviceFacts::setBootTime(std::optional<WallTime> bootTime) {
    dispatch::Lock lock(mutex_);
    bootTime_ = bootTime;
    bootTimeSet_ = true;
}

std::string DeviceFacts::systemVersion() const {
    dispatch::Lock lock(mutex_);
    return systemVersion_;
}

void DeviceFacts::setSystemVersion(std::string version) {
    dispatch::Lock lock(mutex_);
    systemVersion_ = std::move(version);
}

std::optional<ns::UUID> DeviceFacts::identifierForVendor() const {
    dispatch::Lock lock(mutex_);
    if (vendorIdentifierSet_) return vendorIdentifier_;
    return keptVendorIdentifierLocked();
}

void DeviceFacts::setIdentifierForVendor(std::optional<ns::UUID> identifier) {
    dispatch::Lock lock(mutex_);
    vendorIdentifier_ = identifier;
    vendorIdentifierSet_ = true;
}

ns::UUID DeviceFacts::keptVendorIdentifierLocked() const {
    // Read again when the sandbox has been replaced (another installation, a reinstall).
    const bool sandboxed = ns::Sandbox::isConfigured();
    const uint64_t generation = sandboxed ? ns::Sandbox::generation() : 0;
    if (keptVendorIdentifier_ && keptVendorIdentifier_->first == generation) {
        return keptVendorIdentifier_->second;
    }
    ns::UUID identifier;
    if (sandboxed) {
        const std::string path = ns::Sandbox::libraryDirectory() + "/" + kVendorIdentifierFileName;
        auto stored = ns::readFile(path);
        auto parsed = stored ? ns::UUID::fromString(std::string(stored->chars())) : std::nullopt;
        if (parsed) {
            identifier = *parsed;
        } else {
            // Unwritable: the identifier still holds for this process.
            (void)ns::writeFileAtomically(path, identifier.UUIDString(), 0600);
        }
    }
    keptVendorIdentifier_.emplace(generation, identifier);
    return identifier;
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
