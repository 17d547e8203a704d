#include "plugins/device_storage/HYBFileClasses.h"

#include <memory>

#include "platform/rt/ClassRegistry.h"
#include "plugins/device_storage/HYBFile.h"

void HYBFileClasses::registerClasses(rt::ClassRegistry& registry) {
    registry.registerClass(HYBFile::kClassName, "HYBPlugin",
                           [] { return std::make_shared<HYBFile>(); });
}
