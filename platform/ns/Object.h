#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace ns {

// Base of the reference-counted objects that travel untyped through the platform: the sender
// of a notification, an object created from a class name, an object associated with a result.
// Typed code recovers the concrete type with std::dynamic_pointer_cast.
class Object : public std::enable_shared_from_this<Object> {
public:
    virtual ~Object() = default;
    // What `%@` prints for the object.
    virtual std::string description() const {
        char buf[48];
        std::snprintf(buf, sizeof buf, "<Object: %p>", static_cast<const void*>(this));
        return buf;
    }
};

// Carries a plain value where an ns::Object is expected (e.g. a URL as a notification's object).
template <class T>
class Box final : public Object {
public:
    explicit Box(T value) : value_(std::move(value)) {}
    const T& value() const { return value_; }

private:
    T value_;
};

}  // namespace ns
