#include "toolbox/Foundation/NSObject+TBXKeyValueObservingAdditions.h"

#include "platform/ns/Exception.h"
#include "toolbox/Foundation/NSDK_TBXKeyValueObservingCenter.h"

namespace {

void requireArguments(const void* observer, const std::string& keyPath,
                      const TBXKVOSelector& selector) {
    if (!observer || keyPath.empty() || !selector.isValid()) {
        throw ns::Exception(ns::kInternalInconsistencyException,
                            "Missing observer, keyPath, or selector");
    }
}

}  // namespace

void tbx_addObserver(const std::shared_ptr<ns::KeyValueObservable>& object,
                     const std::shared_ptr<ns::Object>& observer, const std::string& keyPath,
                     const TBXKVOSelector& selector, const ns::Value& userInfo, unsigned options) {
    requireArguments(observer.get(), keyPath, selector);
    if (!object) return;
    NSDK_TBXKeyValueObservingCenter::defaultCenter().addObserver(observer, object, keyPath,
                                                                 selector, userInfo, options);
}

void tbx_removeObserver(const std::shared_ptr<ns::KeyValueObservable>& object,
                        const ns::Object* observer, const std::string& keyPath,
                        const TBXKVOSelector& selector) {
    requireArguments(observer, keyPath, selector);
    if (!object) return;
    NSDK_TBXKeyValueObservingCenter::defaultCenter().removeObserver(observer, object.get(),
                                                                    &keyPath, &selector);
}

void tbx_stopObservingAllKeyPaths(const ns::Object* observer) {
    NSDK_TBXKeyValueObservingCenter::defaultCenter().removeObserver(observer, nullptr, nullptr,
                                                                    nullptr);
}
