#include "sdk/instance_id/NEBInstanceIDAppEnvironmentUtil.h"

#include "platform/sys/DeviceFacts.h"

std::optional<std::string> NEBInstanceIDAppEnvironmentUtil::deviceModel() {
    std::string machine = sys::DeviceFacts::current().machine();
    if (machine.empty()) return std::nullopt;
    return machine;
}

bool NEBInstanceIDAppEnvironmentUtil::isSimulator() {
    auto model = deviceModel();
    return model && (*model == "x86_64" || *model == "i386");
}
