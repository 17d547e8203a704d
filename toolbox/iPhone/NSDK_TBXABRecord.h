#pragma once

#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "platform/ns/Object.h"
#include "platform/ns/Value.h"
#include "platform/svc/ABRecord.h"
#include "toolbox/iPhone/NSDK_TBXABMultiValue.h"

// What a record property holds: a plain value, or a multi-value for the multi-value types.
using NSDK_TBXABPropertyValue = std::variant<ns::Value, std::shared_ptr<NSDK_TBXABMultiValue>>;

// A wrapper of an address-book record with typed, checked property access. Abstract: a
// person or a group.
class NSDK_TBXABRecord : public ns::Object {
public:
    const std::shared_ptr<svc::ABRecord>& recordRef() const { return record_; }
    svc::ABRecordID recordID() const { return record_->recordID(); }
    // Wrappers of the same record are equal.
    bool isEqual(const NSDK_TBXABRecord* other) const;
    size_t hash() const;

    // A multi-value comes wrapped; nothing when unset.
    std::optional<NSDK_TBXABPropertyValue> valueForProperty(svc::ABPropertyID property) const;
    // Refuses no value and a value of the wrong kind for the property's type: a string for
    // 1, a number for 2 and 3, a date for 4, a dictionary for 5, a multi-value for the multi
    // types other than multi-integer; every other type is refused.
    bool setValue(const std::optional<NSDK_TBXABPropertyValue>& value, svc::ABPropertyID property);
    // False when the property has no value.
    bool removeValueForProperty(svc::ABPropertyID property);

    std::string compositeName() const { return record_->compositeName(); }
    // The record class's typeOfProperty / localizedPropertyName.
    svc::ABPropertyType typeOfPropertyOfRecord(svc::ABPropertyID property) const {
        return typeOf_(property);
    }
    std::string localizedPropertyNameOfRecord(svc::ABPropertyID property) const {
        return nameOf_(property);
    }

protected:
    using TypeOfProperty = svc::ABPropertyType (*)(svc::ABPropertyID);
    using PropertyName = std::string (*)(svc::ABPropertyID);

    // Only people and groups are records.
    NSDK_TBXABRecord(std::shared_ptr<svc::ABRecord> record, TypeOfProperty typeOf,
                     PropertyName nameOf)
        : record_(std::move(record)), typeOf_(typeOf), nameOf_(nameOf) {}

    std::shared_ptr<svc::ABRecord> record_;

private:
    TypeOfProperty typeOf_;
    PropertyName nameOf_;
};
