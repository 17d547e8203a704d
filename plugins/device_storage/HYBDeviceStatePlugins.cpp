#include "plugins/device_storage/HYBDeviceStatePlugins.h"

#include <memory>

#include "platform/rt/ClassRegistry.h"
#include "plugins/device_storage/HYBConnection.h"
#include "plugins/device_storage/HYBGlobalization.h"
#include "plugins/device_storage/HYBStatusBar.h"

namespace {

template <class Plugin>
void registerPlugin(rt::ClassRegistry& registry, const char* name) {
    registry.registerClass(name, "HYBPlugin", [] { return std::make_shared<Plugin>(); });
}

}  // namespace

void HYBDeviceStatePlugins::registerClasses(rt::ClassRegistry& registry) {
    registerPlugin<HYBGlobalization>(registry, "HYBGlobalization");
    registerPlugin<HYBConnection>(registry, "HYBConnection");
    registerPlugin<HYBStatusBar>(registry, "HYBStatusBar");
}
