#include "platform/rt/ClassRegistry.h"

#include "platform/ns/SharedInstance.h"

namespace rt {

ClassRegistry& ClassRegistry::shared() {
    return ns::SharedInstance<ClassRegistry>::get();
}

const Class* ClassRegistry::registerClass(std::string name, std::optional<std::string> superclass,
                                          Class::Factory factory,
                                          std::set<std::string, std::less<>> operations,
                                          std::set<std::string, std::less<>> protocols) {
    dispatch::ScopedLock lock(mutex_);
    if (classes_.contains(name)) return nullptr;
    auto cls = std::make_unique<Class>(*this, name, std::move(superclass), std::move(factory),
                                       std::move(operations), std::move(protocols));
    const Class* result = cls.get();
    classes_.emplace(std::move(name), std::move(cls));
    return result;
}

bool ClassRegistry::registerProtocol(std::string name) {
    dispatch::ScopedLock lock(mutex_);
    return protocols_.insert(std::move(name)).second;
}

const Class* ClassRegistry::classNamed(std::string_view name) const {
    dispatch::SharedLock lock(mutex_);
    auto it = classes_.find(name);
    return it == classes_.end() ? nullptr : it->second.get();
}

std::optional<std::string> ClassRegistry::protocolNamed(std::string_view name) const {
    dispatch::SharedLock lock(mutex_);
    auto it = protocols_.find(name);
    if (it == protocols_.end()) return std::nullopt;
    return *it;
}

bool ClassRegistry::isPresent(std::string_view name) const {
    return classNamed(name) != nullptr;
}

std::vector<const Class*> ClassRegistry::allClasses() const {
    dispatch::SharedLock lock(mutex_);
    std::vector<const Class*> result;
    result.reserve(classes_.size());
    for (const auto& [name, cls] : classes_) result.push_back(cls.get());
    return result;
}

}  // namespace rt
