#include "plugins/device_storage/HYBSQLiteDeviceClasses.h"

#include <memory>

#include "platform/rt/ClassRegistry.h"
#include "plugins/device_storage/HYBDevice.h"
#include "plugins/device_storage/SQLitePlugin.h"

void HYBSQLiteDeviceClasses::registerClasses(rt::ClassRegistry& registry) {
    registry.registerClass("SQLitePlugin", "HYBPlugin",
                           [] { return std::make_shared<SQLitePlugin>(); });
    registry.registerClass("HYBDevice", "HYBPlugin", [] { return std::make_shared<HYBDevice>(); });
}
