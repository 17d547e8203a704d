#pragma once

#include <memory>
#include <optional>
#include <string>

#include "toolbox/iPhone/NSDK_TBXABMultiValue.h"

// A multi-value that can change. Each change that succeeds counts one mutation, so that an
// enumeration running over it notices.
class NSDK_TBXABMutableMultiValue : public NSDK_TBXABMultiValue {
public:
    // An empty multi-value of the type; null for type 0 or one that is no multi-value type.
    static std::shared_ptr<NSDK_TBXABMutableMultiValue> valueWithPropertyType(
        svc::ABPropertyType type);
    static std::shared_ptr<NSDK_TBXABMutableMultiValue> initWithPropertyType(
        svc::ABPropertyType type) {
        return valueWithPropertyType(type);
    }
    // Wraps a mutable copy of the multi-value; null for none.
    static std::shared_ptr<NSDK_TBXABMutableMultiValue> initWithMultiValue(
        const std::shared_ptr<svc::ABMultiValue>& multiValue);
    // Wraps the given mutable multi-value itself; null for none or an immutable one.
    static std::shared_ptr<NSDK_TBXABMutableMultiValue> initWithMutableMultiValue(
        std::shared_ptr<svc::ABMultiValue> multiValue);

    using NSDK_TBXABMultiValue::NSDK_TBXABMultiValue;

    // A value the entries may hold: present and of the kind the type names.
    bool checkValueType(const std::optional<ns::Value>& value) const;

    // The new entry's identifier, or kABMultiValueInvalidIdentifier when the label or value
    // is missing or refused, or the index is beyond the count.
    svc::ABMultiValueIdentifier addValue(const std::optional<ns::Value>& value,
                                         const std::optional<std::string>& label);
    svc::ABMultiValueIdentifier insertValue(const std::optional<ns::Value>& value,
                                            const std::optional<std::string>& label, size_t index);
    bool removeValueAndLabelAtIndex(size_t index);
    bool replaceValueAtIndex(size_t index, const std::optional<ns::Value>& value);
    bool replaceLabelAtIndex(size_t index, const std::optional<std::string>& label);
};
