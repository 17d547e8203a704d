#pragma once

#include <memory>
#include <string>

#include "platform/ns/KeyValueObservable.h"
#include "toolbox/Foundation/TBXKVOSelector.h"

// `observer` hears of changes of `keyPath` of `object` through `selector`, with `userInfo` in
// each change notification. Throws ns::Exception (NSInternalInconsistencyException) "Missing
// observer, keyPath, or selector" when the observer or the selector is missing or the key path
// is empty.
void tbx_addObserver(const std::shared_ptr<ns::KeyValueObservable>& object,
                     const std::shared_ptr<ns::Object>& observer, const std::string& keyPath,
                     const TBXKVOSelector& selector, const ns::Value& userInfo, unsigned options);
// Removes that one registration; throws as tbx_addObserver does.
void tbx_removeObserver(const std::shared_ptr<ns::KeyValueObservable>& object,
                        const ns::Object* observer, const std::string& keyPath,
                        const TBXKVOSelector& selector);
// Removes every registration of the observer, whatever object, key path and selector.
void tbx_stopObservingAllKeyPaths(const ns::Object* observer);
