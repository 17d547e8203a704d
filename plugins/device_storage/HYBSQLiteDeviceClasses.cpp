#include "plugins/device_storage/HYBSQLiteDeviceClasses.h"

#include "platform/rt/ClassRegistry.h"
#include "plugins/device_storage/HYBDevice.h"
#include "plugins/device_storage/SQLitePlugin.h"

void HYBSQLiteDeviceClasses::registerClasses(rt::ClassRegistry& registry) {
    HYBPlugin::registerPluginClass<SQLitePlugin>(registry, "SQLitePlugin");
    HYBPlugin::registerPluginClass<HYBDevice>(registry, "HYBDevice");
}
