#pragma once

#include <memory>

#include "plugins/push/NCMPlugin.h"

namespace rt {
class ClassRegistry;
}

// Registers the push plug-in with the class registry (from the composition root): each
// instance is made on these.
class NCMPushClasses {
public:
    static void registerClasses(rt::ClassRegistry& registry, std::shared_ptr<NCMPushPage> page,
                                std::shared_ptr<NEBMessaging> messaging,
                                NCMPlugin::TokenSource token);
};
