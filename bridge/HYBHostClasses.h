#pragma once

namespace rt {
class ClassRegistry;
}  // namespace rt

// The host's classes that are made by name: the plug-in base, the web view engine, the
// navigation filter and the small host plug-ins under the class names config.xml uses, and
// the host's application delegate.
class HYBHostClasses {
public:
    static void registerClasses(rt::ClassRegistry& registry);
};
