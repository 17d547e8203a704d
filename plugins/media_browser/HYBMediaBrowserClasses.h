#pragma once

namespace rt {
class ClassRegistry;
}  // namespace rt

// The media and browser plug-ins under the class names config.xml uses.
class HYBMediaBrowserClasses {
public:
    static void registerClasses(rt::ClassRegistry& registry);
};
