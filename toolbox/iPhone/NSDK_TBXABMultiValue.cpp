#include "toolbox/iPhone/NSDK_TBXABMultiValue.h"

#include <functional>

#include "platform/ns/Format.h"
#include "toolbox/iPhone/NSDK_TBXABMultiValueEnumerator.h"
#include "toolbox/iPhone/NSDK_TBXABMutableMultiValue.h"

std::shared_ptr<NSDK_TBXABMultiValue> NSDK_TBXABMultiValue::initWithMultiValue(
    std::shared_ptr<svc::ABMultiValue> multiValue) {
    if (!multiValue) return nullptr;
    return std::make_shared<NSDK_TBXABMultiValue>(std::move(multiValue));
}

std::shared_ptr<NSDK_TBXABMultiValue> NSDK_TBXABMultiValue::copy() const {
    return std::make_shared<NSDK_TBXABMultiValue>(multiValue_);
}

std::shared_ptr<NSDK_TBXABMutableMultiValue> NSDK_TBXABMultiValue::mutableCopy() const {
    return NSDK_TBXABMutableMultiValue::initWithMultiValue(multiValue_);
}

std::optional<ns::Value> NSDK_TBXABMultiValue::valueAtIndex(size_t index) const {
    return multiValue_->valueAtIndex(index);
}

std::optional<std::string> NSDK_TBXABMultiValue::labelAtIndex(size_t index) const {
    return multiValue_->labelAtIndex(index);
}

svc::ABMultiValueIdentifier NSDK_TBXABMultiValue::identifierAtIndex(size_t index) const {
    return multiValue_->identifierAtIndex(index);
}

int64_t NSDK_TBXABMultiValue::indexForIdentifier(svc::ABMultiValueIdentifier identifier) const {
    auto index = multiValue_->indexForIdentifier(identifier);
    return index ? static_cast<int64_t>(*index) : kTBXABNotFound;
}

std::optional<ns::Value> NSDK_TBXABMultiValue::valueForIdentifier(
    svc::ABMultiValueIdentifier identifier) const {
    int64_t index = indexForIdentifier(identifier);
    if (index == kTBXABNotFound) return std::nullopt;
    return valueAtIndex(static_cast<size_t>(index));
}

std::optional<std::string> NSDK_TBXABMultiValue::labelForIdentifier(
    svc::ABMultiValueIdentifier identifier) const {
    int64_t index = indexForIdentifier(identifier);
    if (index == kTBXABNotFound) return std::nullopt;
    return labelAtIndex(static_cast<size_t>(index));
}

bool NSDK_TBXABMultiValue::isEqual(const NSDK_TBXABMultiValue* other) const {
    if (!other) return false;
    if (other->multiValue_ == multiValue_) return true;
    if (other->count() != count()) return false;
    for (size_t i = 0; i < count(); ++i) {
        if (labelAtIndex(i) != other->labelAtIndex(i) ||
            valueAtIndex(i) != other->valueAtIndex(i)) {
            return false;
        }
    }
    return true;
}

size_t NSDK_TBXABMultiValue::hash() const {
    std::hash<std::string> text;
    size_t sum = 0;
    for (const auto& entry : multiValue_->entries()) {
        sum += text(entry.label) + text(entry.value.description());
    }
    return sum;
}

std::shared_ptr<NSDK_TBXABMultiValueEnumerator> NSDK_TBXABMultiValue::valueEnumerator() {
    return NSDK_TBXABMultiValueEnumerator::valueEnumeratorFor(sharedSelf<NSDK_TBXABMultiValue>());
}

std::shared_ptr<NSDK_TBXABMultiValueEnumerator> NSDK_TBXABMultiValue::labelEnumerator() {
    return NSDK_TBXABMultiValueEnumerator::labelEnumeratorFor(sharedSelf<NSDK_TBXABMultiValue>());
}

std::string NSDK_TBXABMultiValue::description() const {
    std::string entries;
    for (const auto& entry : multiValue_->entries()) {
        if (!entries.empty()) entries += ", ";
        entries += ns::format("%@: %@", entry.label, entry.value);
    }
    return ns::format("<NSDK_TBXABMultiValue: %p> {%@}", static_cast<const void*>(this), entries);
}
