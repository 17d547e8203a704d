#pragma once

#include <atomic>
#include <memory>
#include <utility>

#include "platform/dispatch/Mutex.h"

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

// A process-wide object that the program may replace (the composition root, a test): made by
// `make` on first use, or again after it was set to null; never destroyed. Any thread.
template <class T>
class ReplaceableShared {
public:
    template <class Make>
    static std::shared_ptr<T> get(Make&& make) {
        State& s = state();
        dispatch::Lock lock(s.mutex);
        if (!s.value) s.value = make();
        return s.value;
    }
    // Answers the object it replaces, so that the caller lets it go outside the lock.
    static std::shared_ptr<T> exchange(std::shared_ptr<T> value) {
        State& s = state();
        dispatch::Lock lock(s.mutex);
        return std::exchange(s.value, std::move(value));
    }

private:
    struct State {
        dispatch::Mutex mutex;
        std::shared_ptr<T> value GUARDED_BY(mutex);
    };
    static State& state() {
        static auto* s = new State;
        return *s;
    }
};

}  // namespace ns
