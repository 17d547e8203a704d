#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ns/Value.h"
#include "platform/svc/ABTypes.h"

namespace svc {

// An ordered list of labelled values of one property type, each entry with an identifier that
// stays with it (a person's phone numbers). Made mutable or not; only a mutable one changes.
class ABMultiValue {
public:
    struct Entry {
        ABMultiValueIdentifier identifier;
        std::string label;
        ns::Value value;
    };

    // Null for a type that is not a multi-value type.
    static std::shared_ptr<ABMultiValue> createMutable(ABPropertyType type);
    std::shared_ptr<ABMultiValue> mutableCopy() const;

    ABPropertyType propertyType() const { return type_; }
    bool isMutable() const { return mutable_; }
    void makeImmutable() { mutable_ = false; }

    size_t count() const { return entries_.size(); }
    const std::vector<Entry>& entries() const { return entries_; }
    // Nothing beyond the count.
    std::optional<ns::Value> valueAtIndex(size_t index) const;
    std::optional<std::string> labelAtIndex(size_t index) const;
    ABMultiValueIdentifier identifierAtIndex(size_t index) const;
    // Nothing for an unknown identifier.
    std::optional<size_t> indexForIdentifier(ABMultiValueIdentifier identifier) const;

    // The changes refuse an immutable multi-value, a value of another kind than the type's,
    // and an index beyond the count.
    std::optional<ABMultiValueIdentifier> insertValueAndLabelAtIndex(const ns::Value& value,
                                                                     std::string label,
                                                                     size_t index);
    bool removeValueAndLabelAtIndex(size_t index);
    bool replaceValueAtIndex(const ns::Value& value, size_t index);
    bool replaceLabelAtIndex(std::string label, size_t index);

    // Whether a value is of the kind that entries of a (single-value) type hold.
    static bool valueFitsType(const ns::Value& value, ABPropertyType singleType);

    // The stored form, and back (nothing for a form that is not one).
    ns::Value archive() const;
    static std::shared_ptr<ABMultiValue> unarchive(const ns::Value& archived);

    explicit ABMultiValue(ABPropertyType type) : type_(type) {}

private:
    ABPropertyType type_;
    bool mutable_ = true;
    std::vector<Entry> entries_;
    ABMultiValueIdentifier nextIdentifier_ = 0;
};

}  // namespace svc
