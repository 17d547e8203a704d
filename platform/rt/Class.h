#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "platform/ns/Object.h"

namespace rt {

class ClassRegistry;

// One class known to the run time: what code that finds classes by name may ask of it.
// Instances are owned by their registry and stay valid until they are removed from it.
class Class {
public:
    using Factory = std::function<std::shared_ptr<ns::Object>()>;

    Class(const ClassRegistry& registry, std::string name, std::optional<std::string> superclass,
          Factory factory, std::set<std::string, std::less<>> operations,
          std::set<std::string, std::less<>> protocols);

    const std::string& name() const { return name_; }
    const std::optional<std::string>& superclassName() const { return superclassName_; }
    // The superclass as the registry knows it now; null for a root class or one whose
    // superclass is not (or no longer) registered.
    const Class* superclass() const;

    // An abstract class has no factory and creates nothing.
    bool isAbstract() const { return !factory_; }
    std::shared_ptr<ns::Object> create() const;

    // A class counts as a subclass of itself, as the platform's query does.
    bool isSubclassOf(std::string_view otherName) const;
    // Both walk the superclass chain: inherited operations and adopted protocols count.
    bool instancesRespondTo(std::string_view operation) const;
    bool conformsTo(std::string_view protocol) const;

private:
    template <class Predicate>
    bool anyInChain(Predicate predicate) const;

    const ClassRegistry& registry_;
    std::string name_;
    std::optional<std::string> superclassName_;
    Factory factory_;
    std::set<std::string, std::less<>> operations_;
    std::set<std::string, std::less<>> protocols_;
};

}  // namespace rt
