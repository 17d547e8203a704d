#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/KeyValueObserver.h"
#include "platform/ns/Object.h"
#include "platform/ns/Value.h"

namespace ns {

// An object whose properties others can observe. A subclass answers valueForKey() for its
// observable properties and brackets every change of one with willChangeValueForKey() and
// didChangeValueForKey(); observers of that key hear of it on the changing thread. A key path
// here names one key.
//
// Observers are held weakly: one that is gone is never called and its registrations are
// dropped. Observers may add and remove registrations while being called. Usable from any
// thread (must be owned by a shared_ptr).
class KeyValueObservable : public Object {
public:
    // Null for a key the object does not have.
    virtual Value valueForKey(std::string_view key) const;

    // With kKeyValueObservingOptionInitial the observer hears the current value at once.
    void addObserver(const std::shared_ptr<KeyValueObserver>& observer, std::string keyPath,
                     unsigned options, const void* context);
    // Removes the latest registration of that observer, key path and context; false when
    // there is none.
    bool removeObserver(const KeyValueObserver* observer, std::string_view keyPath,
                        const void* context);
    // How many live registrations the object has for the key path (for tests).
    size_t observationCount(std::string_view keyPath) const;

    void willChangeValueForKey(std::string_view key);
    void didChangeValueForKey(std::string_view key);

private:
    struct Registration {
        std::weak_ptr<KeyValueObserver> observer;
        const KeyValueObserver* identity;
        std::string keyPath;
        unsigned options;
        const void* context;
    };
    struct PendingChange {
        std::string key;
        Value oldValue;
    };

    // The live registrations for the key, dropping those whose observer is gone.
    std::vector<Registration> registrationsFor(std::string_view key);
    void notify(const std::vector<Registration>& registrations, std::string_view key,
                unsigned requiredOption, const Dictionary& change);

    mutable dispatch::Mutex mutex_;
    std::vector<Registration> registrations_ GUARDED_BY(mutex_);
    std::vector<PendingChange> pending_ GUARDED_BY(mutex_);
};

}  // namespace ns
