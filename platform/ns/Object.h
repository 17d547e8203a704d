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
    // This object as the class the caller knows it to be (T derives from Object); a const
    // object gives a pointer to const T. Only for an object already held by a shared pointer.
    template <class T>
    std::shared_ptr<T> sharedSelf() {
        return std::static_pointer_cast<T>(shared_from_this());
    }
    template <class T>
    std::shared_ptr<const T> sharedSelf() const {
        return std::static_pointer_cast<const T>(shared_from_this());
    }
    template <class T>
    std::weak_ptr<T> weakSelf() {
        return sharedSelf<T>();
    }
    template <class T>
    std::weak_ptr<const T> weakSelf() const {
        return sharedSelf<T>();
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
