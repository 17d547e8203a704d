#include "sdk/instance_id/NEBInstanceIDAppEnvironmentUtil.h"

#include "platform/sys/DeviceFacts.h"

std::optional<std::string> NEBInstanceIDAppEnvironmentUtil::deviceModel() {
    std::string machine = sys::DeviceFacts::current().machine();
    if (machine.empty()) return std::nullopt;
    return machine;
}

bool NEBInstanceIDAppEnvironmentUtil::isSimulator() {
    // The facts decide: the kernel's own machine is a PC, not the platform's simulator.
    return sys::DeviceFacts::current().isSimulator();
}
