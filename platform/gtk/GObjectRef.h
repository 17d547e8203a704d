#pragma once

#include <glib-object.h>

#include <utility>

namespace wk {

// Owns one reference to a GObject. adopt() takes over a reference the caller already holds
// (what a constructor or a "transfer full" getter returns); retain() adds one of its own.
template <class T>
class GObjectRef {
public:
    GObjectRef() = default;
    static GObjectRef adopt(T* object) { return GObjectRef(object); }
    static GObjectRef retain(T* object) {
        if (object) g_object_ref(object);
        return GObjectRef(object);
    }
    ~GObjectRef() { reset(); }
    GObjectRef(const GObjectRef& other) : object_(other.object_) {
        if (object_) g_object_ref(object_);
    }
    GObjectRef(GObjectRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    GObjectRef& operator=(GObjectRef other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }

    T* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    void reset() {
        if (auto* object = std::exchange(object_, nullptr)) g_object_unref(object);
    }

private:
    explicit GObjectRef(T* object) : object_(object) {}

    T* object_ = nullptr;
};

}  // namespace wk
