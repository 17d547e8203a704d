#include "platform/svc/ABMultiValue.h"

#include <limits>

namespace svc {

std::shared_ptr<ABMultiValue> ABMultiValue::createMutable(ABPropertyType type) {
    if (!(type & kABMultiValueMask)) return nullptr;
    ABPropertyType single = type & ~kABMultiValueMask;
    if (single < kABStringPropertyType || single > kABDictionaryPropertyType) return nullptr;
    return std::make_shared<ABMultiValue>(type);
}

std::shared_ptr<ABMultiValue> ABMultiValue::mutableCopy() const {
    auto copy = std::make_shared<ABMultiValue>(*this);
    copy->mutable_ = true;
    return copy;
}

std::optional<ns::Value> ABMultiValue::valueAtIndex(size_t index) const {
    if (index >= entries_.size()) return std::nullopt;
    return entries_[index].value;
}

std::optional<std::string> ABMultiValue::labelAtIndex(size_t index) const {
    if (index >= entries_.size()) return std::nullopt;
    return entries_[index].label;
}

ABMultiValueIdentifier ABMultiValue::identifierAtIndex(size_t index) const {
    if (index >= entries_.size()) return kABMultiValueInvalidIdentifier;
    return entries_[index].identifier;
}

std::optional<size_t> ABMultiValue::indexForIdentifier(ABMultiValueIdentifier identifier) const {
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].identifier == identifier) return i;
    }
    return std::nullopt;
}

bool ABMultiValue::valueFitsType(const ns::Value& value, ABPropertyType singleType) {
    switch (singleType) {
        case kABStringPropertyType:
            return value.isString();
        case kABIntegerPropertyType:
        case kABRealPropertyType:
            return value.isNumber() || value.isBool();
        case kABDateTimePropertyType:
            return value.isDate();
        case kABDictionaryPropertyType:
            return value.isDictionary();
        default:
            return false;
    }
}

std::optional<ABMultiValueIdentifier> ABMultiValue::insertValueAndLabelAtIndex(
    const ns::Value& value, std::string label, size_t index) {
    if (!mutable_ || index > entries_.size() || !valueFitsType(value, type_ & ~kABMultiValueMask) ||
        nextIdentifier_ == std::numeric_limits<ABMultiValueIdentifier>::max()) {
        return std::nullopt;
    }
    ABMultiValueIdentifier identifier = nextIdentifier_++;
    entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(index),
                    {identifier, std::move(label), value});
    return identifier;
}

bool ABMultiValue::removeValueAndLabelAtIndex(size_t index) {
    if (!mutable_ || index >= entries_.size()) return false;
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

bool ABMultiValue::replaceValueAtIndex(const ns::Value& value, size_t index) {
    if (!mutable_ || index >= entries_.size() ||
        !valueFitsType(value, type_ & ~kABMultiValueMask)) {
        return false;
    }
    entries_[index].value = value;
    return true;
}

bool ABMultiValue::replaceLabelAtIndex(std::string label, size_t index) {
    if (!mutable_ || index >= entries_.size()) return false;
    entries_[index].label = std::move(label);
    return true;
}

ns::Value ABMultiValue::archive() const {
    ns::Array entries;
    for (const auto& entry : entries_) {
        entries.push_back(ns::Value::dict(
            {{"id", entry.identifier}, {"label", entry.label}, {"value", entry.value}}));
    }
    return ns::Value::dict({{"type", static_cast<int64_t>(type_)},
                            {"next", nextIdentifier_},
                            {"entries", ns::Value(std::move(entries))}});
}

std::shared_ptr<ABMultiValue> ABMultiValue::unarchive(const ns::Value& archived) {
    auto type = archived["type"].int64();
    auto next = archived["next"].int64();
    const ns::Array* entries = archived["entries"].array();
    if (!type || !next || !entries || *type < 0 || *type > 0xFFFF || *next < 0 ||
        *next > std::numeric_limits<ABMultiValueIdentifier>::max()) {
        return nullptr;
    }
    auto multi = createMutable(static_cast<ABPropertyType>(*type));
    if (!multi) return nullptr;
    multi->nextIdentifier_ = static_cast<ABMultiValueIdentifier>(*next);
    for (const auto& entry : *entries) {
        auto identifier = entry["id"].int64();
        const std::string* label = entry["label"].string();
        const ns::Value& value = entry["value"];
        if (!identifier || !label || *identifier < 0 || *identifier >= *next ||
            !valueFitsType(value, multi->type_ & ~kABMultiValueMask) ||
            multi->indexForIdentifier(static_cast<ABMultiValueIdentifier>(*identifier))) {
            return nullptr;
        }
        multi->entries_.push_back(
            {static_cast<ABMultiValueIdentifier>(*identifier), *label, value});
    }
    return multi;
}

}  // namespace svc
