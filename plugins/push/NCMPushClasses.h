#pragma once

namespace rt {
class ClassRegistry;
}

// Registers the push plug-in with the class registry (from the composition root).
class NCMPushClasses {
public:
    static void registerClasses(rt::ClassRegistry& registry);
};
