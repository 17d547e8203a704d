#pragma once

namespace rt {
class ClassRegistry;
}  // namespace rt

// The file plug-in under the class name config.xml gives it.
class HYBFileClasses {
public:
    static void registerClasses(rt::ClassRegistry& registry);
};
