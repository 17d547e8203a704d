#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/rt/Class.h"

namespace rt {

// The classes and protocols that code may find by name at run time. Optional parts of the
// program register themselves here from the composition root, so that a part that looks
// another up by name works whether or not that other part was linked in.
//
// Thread-safe. A class pointer handed out stays valid as long as the registry: classes are
// never removed.
class ClassRegistry {
public:
    ClassRegistry() = default;
    ClassRegistry(const ClassRegistry&) = delete;
    ClassRegistry& operator=(const ClassRegistry&) = delete;

    static ClassRegistry& shared();

    // Answers the new class, or null when a class of that name is already registered (the
    // first registration stays). The superclass is found by name whenever it is asked for.
    const Class* registerClass(std::string name, std::optional<std::string> superclass,
                               Class::Factory factory,
                               std::set<std::string, std::less<>> operations = {},
                               std::set<std::string, std::less<>> protocols = {});
    // Answers false when the protocol was already known.
    bool registerProtocol(std::string name);

    const Class* classNamed(std::string_view name) const;
    // A protocol has only a name here; the answer is that name, or nullopt when unknown.
    std::optional<std::string> protocolNamed(std::string_view name) const;
    // Whether a class of that name is registered.
    bool isPresent(std::string_view name) const;
    // Every registered class, in name order (for callers that walk all classes).
    std::vector<const Class*> allClasses() const;

private:
    mutable dispatch::SharedMutex mutex_;
    std::map<std::string, std::unique_ptr<Class>, std::less<>> classes_ GUARDED_BY(mutex_);
    std::set<std::string, std::less<>> protocols_ GUARDED_BY(mutex_);
};

}  // namespace rt
