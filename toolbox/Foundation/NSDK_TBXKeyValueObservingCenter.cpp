#include "toolbox/Foundation/NSDK_TBXKeyValueObservingCenter.h"

#include <atomic>
#include <vector>

#include "platform/ns/Format.h"

NSDK_TBXKeyValueObservingCenter& NSDK_TBXKeyValueObservingCenter::defaultCenter() {
    static std::atomic<NSDK_TBXKeyValueObservingCenter*> shared{nullptr};
    NSDK_TBXKeyValueObservingCenter* current = shared.load(std::memory_order_acquire);
    if (current) return *current;
    auto* made = new NSDK_TBXKeyValueObservingCenter();
    if (shared.compare_exchange_strong(current, made, std::memory_order_acq_rel)) return *made;
    delete made;  // another thread installed its centre first
    return *current;
}

std::string NSDK_TBXKeyValueObservingCenter::dictionaryKeyForObserver(
    const void* observer, const ns::Object* object, const std::string* keyPath,
    const TBXKVOSelector* selector) {
    if (!object && !keyPath && !selector) return ns::format("%p:", observer);
    return ns::format("%p:%@:%@:%p", observer, keyPath ? *keyPath : std::string(),
                      selector ? selector->name : std::string(), static_cast<const void*>(object));
}

void NSDK_TBXKeyValueObservingCenter::addObserver(
    const std::shared_ptr<ns::Object>& observer,
    const std::shared_ptr<ns::KeyValueObservable>& object, const std::string& keyPath,
    const TBXKVOSelector& selector, const ns::Value& userInfo, unsigned options) {
    auto helper = NSDK_TBXKeyValueObservingHelper::create(observer, object, keyPath, selector,
                                                          userInfo, options);
    std::string key = dictionaryKeyForObserver(observer.get(), object.get(), &keyPath, &selector);
    std::vector<std::shared_ptr<NSDK_TBXKeyValueObservingHelper>> replaced;
    {
        dispatch::Lock lock(mutex_);
        // Registrations whose observer or object has gone can never be removed by their
        // owner, and a new object may reuse their address: drop them now.
        for (auto it = observerHelpers_.begin(); it != observerHelpers_.end();) {
            if (it->second->isOrphaned()) {
                replaced.push_back(std::move(it->second));
                it = observerHelpers_.erase(it);
            } else {
                ++it;
            }
        }
        auto& slot = observerHelpers_[key];
        if (slot) replaced.push_back(std::move(slot));
        slot = std::move(helper);
    }
    for (const auto& old : replaced) old->deregister();
}

void NSDK_TBXKeyValueObservingCenter::removeObserver(const void* observer, const ns::Object* object,
                                                     const std::string* keyPath,
                                                     const TBXKVOSelector* selector) {
    std::string key = dictionaryKeyForObserver(observer, object, keyPath, selector);
    // A whole key must match exactly: as a prefix, "0x2" would also take object "0x20".
    bool prefix = !object && !keyPath && !selector;
    std::vector<std::shared_ptr<NSDK_TBXKeyValueObservingHelper>> removed;
    {
        dispatch::Lock lock(mutex_);
        for (auto it = observerHelpers_.lower_bound(key); it != observerHelpers_.end();) {
            bool matches = prefix ? it->first.starts_with(key) : it->first == key;
            if (!matches) break;
            removed.push_back(std::move(it->second));
            it = observerHelpers_.erase(it);
        }
    }
    for (const auto& helper : removed) helper->deregister();
}

size_t NSDK_TBXKeyValueObservingCenter::registrationCount() const {
    dispatch::Lock lock(mutex_);
    return observerHelpers_.size();
}
