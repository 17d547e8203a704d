#pragma once

#include <memory>
#include <string>

#include "platform/ns/Object.h"
#include "platform/ns/Value.h"

namespace ns {

// What key-value observing options ask for (bit values of the platform's options).
enum KeyValueObservingOptions : unsigned {
    kKeyValueObservingOptionNew = 1,
    kKeyValueObservingOptionOld = 2,
    kKeyValueObservingOptionInitial = 4,
    kKeyValueObservingOptionPrior = 8,
};

// Keys of a change dictionary.
inline constexpr const char* kKeyValueChangeKindKey = "kind";
inline constexpr const char* kKeyValueChangeNewKey = "new";
inline constexpr const char* kKeyValueChangeOldKey = "old";
inline constexpr const char* kKeyValueChangeNotificationIsPriorKey = "notificationIsPrior";
// The one kind of change here: a property was set.
inline constexpr int64_t kKeyValueChangeSetting = 1;

// Receives the changes of the key paths it observes.
class KeyValueObserver {
public:
    virtual ~KeyValueObserver() = default;
    virtual void observeValueForKeyPath(const std::string& keyPath,
                                        const std::shared_ptr<Object>& object,
                                        const Dictionary& change, const void* context) = 0;
};

}  // namespace ns
