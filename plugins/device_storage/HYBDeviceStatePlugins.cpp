#include "plugins/device_storage/HYBDeviceStatePlugins.h"

#include "platform/rt/ClassRegistry.h"
#include "plugins/device_storage/HYBConnection.h"
#include "plugins/device_storage/HYBGlobalization.h"
#include "plugins/device_storage/HYBStatusBar.h"

void HYBDeviceStatePlugins::registerClasses(rt::ClassRegistry& registry) {
    HYBPlugin::registerPluginClass<HYBGlobalization>(registry, "HYBGlobalization");
    HYBPlugin::registerPluginClass<HYBConnection>(registry, "HYBConnection");
    HYBPlugin::registerPluginClass<HYBStatusBar>(registry, "HYBStatusBar");
}
