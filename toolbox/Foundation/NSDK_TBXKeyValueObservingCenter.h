#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/KeyValueObservable.h"
#include "toolbox/Foundation/NSDK_TBXKeyValueObservingHelper.h"
#include "toolbox/Foundation/TBXKVOSelector.h"

// Lets any object observe a key path of another with a selector of its own and a user
// information value, through helper objects that this centre keeps, so that registrations
// can be removed by observer, object, key path and selector, or all of an observer's at once.
// Registering the same four again replaces the earlier registration. Any thread.
class NSDK_TBXKeyValueObservingCenter {
public:
    static NSDK_TBXKeyValueObservingCenter& defaultCenter();

    NSDK_TBXKeyValueObservingCenter() = default;
    NSDK_TBXKeyValueObservingCenter(const NSDK_TBXKeyValueObservingCenter&) = delete;
    NSDK_TBXKeyValueObservingCenter& operator=(const NSDK_TBXKeyValueObservingCenter&) = delete;

    void addObserver(const std::shared_ptr<ns::Object>& observer,
                     const std::shared_ptr<ns::KeyValueObservable>& object,
                     const std::string& keyPath, const TBXKVOSelector& selector,
                     const ns::Value& userInfo, unsigned options);
    // With no object, key path and selector: every registration of the observer. Otherwise
    // exactly that registration.
    void removeObserver(const void* observer, const ns::Object* object, const std::string* keyPath,
                        const TBXKVOSelector* selector);

    // "observer:keyPath:selector:object" with addresses for the objects and the selector's
    // name; only "observer:" when object, key path and selector are all missing.
    static std::string dictionaryKeyForObserver(const void* observer, const ns::Object* object,
                                                const std::string* keyPath,
                                                const TBXKVOSelector* selector);

    // How many registrations the centre keeps (for tests).
    size_t registrationCount() const;

private:
    mutable dispatch::Mutex mutex_;
    std::map<std::string, std::shared_ptr<NSDK_TBXKeyValueObservingHelper>> observerHelpers_
        GUARDED_BY(mutex_);
};
