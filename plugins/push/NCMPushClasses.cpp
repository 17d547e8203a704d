#include "plugins/push/NCMPushClasses.h"

#include "platform/rt/ClassRegistry.h"

void NCMPushClasses::registerClasses(rt::ClassRegistry& registry, std::shared_ptr<NCMPushPage> page,
                                     std::shared_ptr<NEBMessaging> messaging,
                                     NCMPlugin::TokenSource token) {
    registry.registerClass("NCMPlugin", "HYBPlugin", [page, messaging, token] {
        return std::make_shared<NCMPlugin>(page, messaging, token);
    });
}
