#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/ns/Object.h"
#include "platform/ns/Value.h"
#include "platform/svc/ABMultiValue.h"

class NSDK_TBXABMutableMultiValue;
class NSDK_TBXABMultiValueEnumerator;

// The index answered for an identifier that is not there.
inline constexpr int64_t kTBXABNotFound = std::numeric_limits<int64_t>::max();

// A wrapper of an address-book multi-value: an ordered list of labelled values of one type.
class NSDK_TBXABMultiValue : public ns::Object {
public:
    // Null for no multi-value.
    static std::shared_ptr<NSDK_TBXABMultiValue> initWithMultiValue(
        std::shared_ptr<svc::ABMultiValue> multiValue);
    explicit NSDK_TBXABMultiValue(std::shared_ptr<svc::ABMultiValue> multiValue)
        : multiValue_(std::move(multiValue)) {}

    // An immutable wrapper of the same multi-value.
    std::shared_ptr<NSDK_TBXABMultiValue> copy() const;
    // A mutable wrapper of a copy.
    std::shared_ptr<NSDK_TBXABMutableMultiValue> mutableCopy() const;

    const std::shared_ptr<svc::ABMultiValue>& multiValueRef() const { return multiValue_; }
    size_t count() const { return multiValue_->count(); }
    svc::ABPropertyType propertyType() const { return multiValue_->propertyType(); }

    // Nothing beyond the count.
    std::optional<ns::Value> valueAtIndex(size_t index) const;
    std::optional<std::string> labelAtIndex(size_t index) const;
    // kABMultiValueInvalidIdentifier beyond the count.
    svc::ABMultiValueIdentifier identifierAtIndex(size_t index) const;
    // kTBXABNotFound for an unknown identifier.
    int64_t indexForIdentifier(svc::ABMultiValueIdentifier identifier) const;
    std::optional<ns::Value> valueForIdentifier(svc::ABMultiValueIdentifier identifier) const;
    std::optional<std::string> labelForIdentifier(svc::ABMultiValueIdentifier identifier) const;

    // The same multi-value, or the same labels and values in the same order.
    bool isEqual(const NSDK_TBXABMultiValue* other) const;
    size_t hash() const;

    // How many changes the wrapper has made; never changes for an immutable one. The address
    // stays valid while the wrapper lives, for enumerations that watch it.
    const uint64_t& mutations() const { return mutations_; }

    std::shared_ptr<NSDK_TBXABMultiValueEnumerator> valueEnumerator();
    std::shared_ptr<NSDK_TBXABMultiValueEnumerator> labelEnumerator();

    std::string description() const override;

protected:
    std::shared_ptr<svc::ABMultiValue> multiValue_;
    uint64_t mutations_ = 0;
};
