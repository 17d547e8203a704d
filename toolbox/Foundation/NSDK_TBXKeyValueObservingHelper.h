#pragma once

#include <memory>
#include <string>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/KeyValueObservable.h"
#include "platform/ns/KeyValueObserver.h"
#include "toolbox/Foundation/TBXKVOSelector.h"

// Stands between an observed object and an observer: receives the platform's change
// callbacks and performs the observer's selector with a change notification. The observer
// and the observed object are held weakly; a change after the observer has gone calls
// nobody.
class NSDK_TBXKeyValueObservingHelper : public ns::Object, public ns::KeyValueObserver {
public:
    // Made and registered with the observed object at once.
    static std::shared_ptr<NSDK_TBXKeyValueObservingHelper> create(
        const std::shared_ptr<ns::Object>& observer,
        const std::shared_ptr<ns::KeyValueObservable>& object, std::string keyPath,
        TBXKVOSelector selector, ns::Value userInfo, unsigned options);

    NSDK_TBXKeyValueObservingHelper(const std::shared_ptr<ns::Object>& observer,
                                    const std::shared_ptr<ns::KeyValueObservable>& object,
                                    std::string keyPath, TBXKVOSelector selector,
                                    ns::Value userInfo);
    // A helper that ends while registered deregisters itself.
    ~NSDK_TBXKeyValueObservingHelper() override;

    void observeValueForKeyPath(const std::string& keyPath,
                                const std::shared_ptr<ns::Object>& object,
                                const ns::Dictionary& change, const void* context) override;
    // Removes the platform registration and forgets the observed object.
    void deregister();

    // Whether the observer or the observed object has gone.
    bool isOrphaned() const;
    std::string description() const override;

private:
    std::weak_ptr<ns::Object> observer_;
    const void* observerIdentity_;
    TBXKVOSelector selector_;
    ns::Value userInfo_;
    mutable dispatch::Mutex mutex_;
    std::weak_ptr<ns::KeyValueObservable> target_ GUARDED_BY(mutex_);
    const std::string keyPath_;
};
