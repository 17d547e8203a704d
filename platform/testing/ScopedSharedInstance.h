#pragma once

#include <memory>

#include "platform/ns/SharedInstance.h"

namespace ns {

// For the life of this object, T's shared instance is a fresh one, in its initial state; the
// one before comes back when it goes. Held by a test or a fixture, so that nothing a test
// does to a process-wide object reaches the next test. Scopes nest.
template <class T>
class ScopedSharedInstance {
public:
    ScopedSharedInstance() : instance_(SharedInstance<T>::make()) {
        previous_ = SharedInstance<T>::slot().exchange(instance_.get());
    }
    ~ScopedSharedInstance() { SharedInstance<T>::slot().store(previous_); }
    ScopedSharedInstance(const ScopedSharedInstance&) = delete;
    ScopedSharedInstance& operator=(const ScopedSharedInstance&) = delete;

    T& operator*() const { return *instance_; }
    T* operator->() const { return instance_.get(); }

private:
    std::shared_ptr<T> instance_;
    T* previous_ = nullptr;
};

}  // namespace ns
