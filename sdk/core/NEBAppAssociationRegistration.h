#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "platform/ns/Object.h"

// Attaches lazily created objects to a host object, once per host and key. A host's objects
// live as long as the host does. A creation block that asks for its own host and key again is
// a programming fault and meets an exception instead of a deadlock; asking for another key of
// the same host is fine.
class NEBAppAssociationRegistration {
public:
    using CreationBlock = std::function<std::shared_ptr<ns::Object>()>;

    // The object registered on the host under the key, made with the block on first request.
    // A block that answers null registers nothing, so the next request tries again.
    static std::shared_ptr<ns::Object> registeredObjectWithHost(
        const std::shared_ptr<ns::Object>& host, std::string_view key,
        const CreationBlock& creationBlock);

    template <class T>
    static std::shared_ptr<T> registeredObjectWithHost(
        const std::shared_ptr<ns::Object>& host, std::string_view key,
        const std::function<std::shared_ptr<T>()>& creationBlock) {
        return std::dynamic_pointer_cast<T>(registeredObjectWithHost(
            host, key,
            CreationBlock([&] { return std::shared_ptr<ns::Object>(creationBlock()); })));
    }
};
