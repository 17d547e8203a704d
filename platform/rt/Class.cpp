#include "platform/rt/Class.h"

#include <unordered_set>

#include "platform/rt/ClassRegistry.h"

namespace rt {

Class::Class(const ClassRegistry& registry, std::string name, std::optional<std::string> superclass,
             Factory factory, std::set<std::string, std::less<>> operations,
             std::set<std::string, std::less<>> protocols)
    : registry_(registry),
      name_(std::move(name)),
      superclassName_(std::move(superclass)),
      factory_(std::move(factory)),
      operations_(std::move(operations)),
      protocols_(std::move(protocols)) {}

const Class* Class::superclass() const {
    return superclassName_ ? registry_.classNamed(*superclassName_) : nullptr;
}

std::shared_ptr<ns::Object> Class::create() const {
    return factory_ ? factory_() : nullptr;
}

template <class Predicate>
bool Class::anyInChain(Predicate predicate) const {
    // Superclasses are resolved by name at query time, so a chain could in principle loop
    // (A -> B -> A after a remove and re-register); the visited set keeps the walk finite.
    std::unordered_set<const Class*> visited;
    for (const Class* c = this; c && visited.insert(c).second; c = c->superclass()) {
        if (predicate(*c)) return true;
    }
    return false;
}

bool Class::isSubclassOf(std::string_view otherName) const {
    return anyInChain([&](const Class& c) { return c.name_ == otherName; });
}

bool Class::instancesRespondTo(std::string_view operation) const {
    return anyInChain([&](const Class& c) { return c.operations_.contains(operation); });
}

bool Class::conformsTo(std::string_view protocol) const {
    return anyInChain([&](const Class& c) { return c.protocols_.contains(protocol); });
}

}  // namespace rt
