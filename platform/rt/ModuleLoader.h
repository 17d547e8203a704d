#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "platform/dispatch/Mutex.h"
#include "platform/rt/Class.h"

namespace rt {

// Optional parts that bring large libraries of their own (the media libraries, the barcode
// libraries) and live in shared modules beside the program: a module is loaded the first time
// one of its classes is asked for, so that a run that needs none of them never maps it nor
// what it links. Such a part announces its classes here as its objects start (when the
// program starts, if it is linked in; when its module loads, otherwise), and they enter the
// shared class registry when first asked for. A module holds none of the platform's code: its
// references to it (this loader among them) resolve against the program, which exports them,
// so that the program has one copy of every shared object.
//
// Thread-safe; a module once loaded stays loaded.
class ModuleLoader {
public:
    ModuleLoader() = default;
    ModuleLoader(const ModuleLoader&) = delete;
    ModuleLoader& operator=(const ModuleLoader&) = delete;

    static ModuleLoader& shared();

    // The class `className` is in the module at `path`. A module that loads but does not
    // announce it (a module of another build) is reported once, with the class it lacks.
    void provide(std::string className, std::string path);
    // A part announces one of its classes (from a static initialiser of its own).
    void announce(std::string className, Class::Factory factory);

    // The class of that name in the shared class registry, registered there from what its
    // part announced (after loading the module that provides it, when needed); null when
    // there is no such class (a module that cannot be loaded, missing or shorter than its
    // headers say, is logged once and not tried again).
    const Class* classNamed(std::string_view className);

    // An instance of the class of that name as a T, or null when the class is missing or is
    // no T.
    template <class T>
    std::shared_ptr<T> create(std::string_view className) {
        const Class* found = classNamed(className);
        return found ? std::dynamic_pointer_cast<T>(found->create()) : nullptr;
    }

private:
    Class::Factory announced(std::string_view className);
    void loadModuleOf(std::string_view className);

    dispatch::Mutex announcedMutex_;
    std::map<std::string, Class::Factory, std::less<>> announced_ GUARDED_BY(announcedMutex_);
    // Loading runs the module's initialisers, which announce under the other lock.
    dispatch::Mutex loadMutex_;
    std::map<std::string, std::string, std::less<>> modules_
        GUARDED_BY(loadMutex_);                                  // class name → module path
    std::map<std::string, bool> loaded_ GUARDED_BY(loadMutex_);  // module path → loaded
    std::set<std::string, std::less<>> lacking_ GUARDED_BY(loadMutex_);  // reported classes
};

}  // namespace rt
