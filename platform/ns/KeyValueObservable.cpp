#include "platform/ns/KeyValueObservable.h"

#include <algorithm>

namespace ns {

Value KeyValueObservable::valueForKey(std::string_view /*key*/) const {
    return {};
}

void KeyValueObservable::addObserver(const std::shared_ptr<KeyValueObserver>& observer,
                                     std::string keyPath, unsigned options, const void* context) {
    if (!observer) return;
    Registration registration{observer, observer.get(), std::move(keyPath), options, context};
    {
        dispatch::Lock lock(mutex_);
        registrations_.push_back(registration);
    }
    if (options & kKeyValueObservingOptionInitial) {
        Dictionary change{{kKeyValueChangeKindKey, Value(kKeyValueChangeSetting)}};
        if (options & kKeyValueObservingOptionNew) {
            change.emplace(kKeyValueChangeNewKey, valueForKey(registration.keyPath));
        }
        observer->observeValueForKeyPath(registration.keyPath, shared_from_this(), change, context);
    }
}

bool KeyValueObservable::removeObserver(const KeyValueObserver* observer, std::string_view keyPath,
                                        const void* context) {
    dispatch::Lock lock(mutex_);
    for (auto it = registrations_.rbegin(); it != registrations_.rend(); ++it) {
        if (it->identity == observer && it->keyPath == keyPath && it->context == context) {
            registrations_.erase(std::next(it).base());
            return true;
        }
    }
    return false;
}

size_t KeyValueObservable::observationCount(std::string_view keyPath) const {
    dispatch::Lock lock(mutex_);
    return static_cast<size_t>(std::count_if(
        registrations_.begin(), registrations_.end(),
        [&](const Registration& r) { return r.keyPath == keyPath && !r.observer.expired(); }));
}

std::vector<KeyValueObservable::Registration> KeyValueObservable::registrationsFor(
    std::string_view key) {
    dispatch::Lock lock(mutex_);
    std::erase_if(registrations_, [](const Registration& r) { return r.observer.expired(); });
    std::vector<Registration> matching;
    for (const auto& registration : registrations_) {
        if (registration.keyPath == key) matching.push_back(registration);
    }
    return matching;
}

void KeyValueObservable::notify(const std::vector<Registration>& registrations,
                                std::string_view key, unsigned requiredOption,
                                const Dictionary& change) {
    std::shared_ptr<Object> self;
    for (const auto& registration : registrations) {
        if (requiredOption && !(registration.options & requiredOption)) continue;
        auto observer = registration.observer.lock();
        if (!observer) continue;
        // A registration removed by an earlier observer of this change is not called.
        {
            dispatch::Lock lock(mutex_);
            bool stillThere = std::any_of(
                registrations_.begin(), registrations_.end(), [&](const Registration& r) {
                    return r.identity == registration.identity && r.keyPath == key &&
                           r.context == registration.context;
                });
            if (!stillThere) continue;
        }
        Dictionary filtered{{kKeyValueChangeKindKey, Value(kKeyValueChangeSetting)}};
        for (const auto& [name, value] : change) {
            if (name == kKeyValueChangeNewKey &&
                !(registration.options & kKeyValueObservingOptionNew)) {
                continue;
            }
            if (name == kKeyValueChangeOldKey &&
                !(registration.options & kKeyValueObservingOptionOld)) {
                continue;
            }
            filtered.insert_or_assign(name, value);
        }
        if (!self) self = shared_from_this();
        observer->observeValueForKeyPath(std::string(key), self, filtered, registration.context);
    }
}

void KeyValueObservable::willChangeValueForKey(std::string_view key) {
    Value old = valueForKey(key);
    {
        dispatch::Lock lock(mutex_);
        pending_.push_back({std::string(key), old});
    }
    auto registrations = registrationsFor(key);
    Dictionary change{{kKeyValueChangeOldKey, old},
                      {kKeyValueChangeNotificationIsPriorKey, Value(true)}};
    notify(registrations, key, kKeyValueObservingOptionPrior, change);
}

void KeyValueObservable::didChangeValueForKey(std::string_view key) {
    Value old;
    {
        dispatch::Lock lock(mutex_);
        for (auto it = pending_.rbegin(); it != pending_.rend(); ++it) {
            if (it->key == key) {
                old = std::move(it->oldValue);
                pending_.erase(std::next(it).base());
                break;
            }
        }
    }
    auto registrations = registrationsFor(key);
    Dictionary change{{kKeyValueChangeOldKey, old}, {kKeyValueChangeNewKey, valueForKey(key)}};
    notify(registrations, key, 0, change);
}

}  // namespace ns
