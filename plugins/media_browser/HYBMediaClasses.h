#pragma once

namespace rt {
class ClassRegistry;
}  // namespace rt

// The media plug-ins under the class names config.xml gives them.
class HYBMediaClasses {
public:
    static void registerClasses(rt::ClassRegistry& registry);
};
