#include "plugins/push/NCMPushClasses.h"

#include <memory>

#include "platform/rt/ClassRegistry.h"
#include "plugins/push/NCMPlugin.h"

void NCMPushClasses::registerClasses(rt::ClassRegistry& registry) {
    registry.registerClass("NCMPlugin", "HYBPlugin", [] { return std::make_shared<NCMPlugin>(); });
}
