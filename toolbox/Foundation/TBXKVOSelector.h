#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/ns/Object.h"

class NSDK_TBXKeyValueChangeNotification;

// The observer's operation that receives changes. It is identified by its name, as a
// selector is, so a registration can be removed by naming the operation again.
struct TBXKVOSelector {
    using Method = std::function<void(ns::Object& observer,
                                      const std::shared_ptr<NSDK_TBXKeyValueChangeNotification>&)>;

    std::string name;
    Method method;

    // The member function of T named `name`; T must be the observer's class or a base of it.
    template <class T>
    static TBXKVOSelector of(
        std::string name,
        void (T::*member)(const std::shared_ptr<NSDK_TBXKeyValueChangeNotification>&)) {
        return {std::move(name),
                [member](ns::Object& observer,
                         const std::shared_ptr<NSDK_TBXKeyValueChangeNotification>& change) {
                    if (auto* typed = dynamic_cast<T*>(&observer)) (typed->*member)(change);
                }};
    }

    bool isValid() const { return !name.empty() && static_cast<bool>(method); }
};
