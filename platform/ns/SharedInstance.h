#pragma once

#include <atomic>
#include <memory>
#include <mutex>

namespace ns {

template <class T>
class ScopedSharedInstance;

// The one process-wide instance of T behind T's own `shared()` (or `current()`, `main()`):
// made on first use, thread-safely, and never destroyed, since parts of the program may still
// reach it while static objects go away. T befriends this class when its constructor is
// private.
//
// A test puts a fresh instance in its place for a scope (ScopedSharedInstance, in the testing
// library), and the previous one comes back when the scope ends; the class itself keeps no
// way to be reset.
template <class T>
class SharedInstance {
public:
    static T& get() {
        if (T* instance = slot().load(std::memory_order_acquire)) return *instance;
        static std::shared_ptr<T>* first = new std::shared_ptr<T>(make());
        T* expected = nullptr;
        slot().compare_exchange_strong(expected, first->get(), std::memory_order_acq_rel);
        return *slot().load(std::memory_order_acquire);
    }

private:
    friend class ScopedSharedInstance<T>;

    // Held through a shared pointer, so that classes that hand out shared pointers to
    // themselves can.
    static std::shared_ptr<T> make() { return std::shared_ptr<T>(new T()); }

    static std::atomic<T*>& slot() {
        static std::atomic<T*> instance{nullptr};
        return instance;
    }
};

}  // namespace ns
