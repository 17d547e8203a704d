#include "plugins/device_storage/HYBFileClasses.h"

#include "platform/rt/ClassRegistry.h"
#include "plugins/device_storage/HYBFile.h"

void HYBFileClasses::registerClasses(rt::ClassRegistry& registry) {
    HYBPlugin::registerPluginClass<HYBFile>(registry, HYBFile::kClassName);
}
