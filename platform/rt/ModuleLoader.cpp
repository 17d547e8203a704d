#include "platform/rt/ModuleLoader.h"

#include <dlfcn.h>

#include "platform/ns/Log.h"
#include "platform/ns/SharedInstance.h"
#include "platform/rt/ClassRegistry.h"

namespace rt {

ModuleLoader& ModuleLoader::shared() {
    return ns::SharedInstance<ModuleLoader>::get();
}

void ModuleLoader::provide(std::string className, std::string path) {
    dispatch::Lock lock(loadMutex_);
    modules_.insert_or_assign(std::move(className), std::move(path));
}

void ModuleLoader::announce(std::string className, Class::Factory factory) {
    dispatch::Lock lock(announcedMutex_);
    announced_.insert_or_assign(std::move(className), std::move(factory));
}

const Class* ModuleLoader::classNamed(std::string_view className) {
    ClassRegistry& registry = ClassRegistry::shared();
    if (const Class* found = registry.classNamed(className)) return found;
    Class::Factory factory = announced(className);
    if (!factory) {
        loadModuleOf(className);
        factory = announced(className);
        if (!factory) return nullptr;
    }
    // Another thread may register it first; either way the registry's class is the answer.
    registry.registerClass(std::string(className), std::nullopt, std::move(factory));
    return registry.classNamed(className);
}

Class::Factory ModuleLoader::announced(std::string_view className) {
    dispatch::Lock lock(announcedMutex_);
    const auto found = announced_.find(className);
    return found == announced_.end() ? nullptr : found->second;
}

void ModuleLoader::loadModuleOf(std::string_view className) {
    dispatch::Lock lock(loadMutex_);
    const auto module = modules_.find(className);
    if (module == modules_.end()) return;
    const std::string& path = module->second;
    if (!loaded_.contains(path)) {
        // Every symbol is bound now, so that a module that does not fit the program fails
        // here rather than at its first call; its own symbols stay out of the program's scope.
        const bool loaded = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL) != nullptr;
        if (!loaded) ns::nslog("Cannot load the module %@: %s", path, ::dlerror());
        loaded_[path] = loaded;
    }
    // What needs the class fails without it, every time it is asked for and in words of its
    // own: one line says where the fault is.
    if (loaded_[path] && !announced(className) && lacking_.emplace(className).second) {
        ns::nslog("The module %@ does not provide %@: what needs it is unavailable.", path,
                  std::string(className));
    }
}

}  // namespace rt
