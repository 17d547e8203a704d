#include "toolbox/iPhone/NSDK_TBXABMutableMultiValue.h"

std::shared_ptr<NSDK_TBXABMutableMultiValue> NSDK_TBXABMutableMultiValue::valueWithPropertyType(
    svc::ABPropertyType type) {
    return initWithMutableMultiValue(svc::ABMultiValue::createMutable(type));
}

std::shared_ptr<NSDK_TBXABMutableMultiValue> NSDK_TBXABMutableMultiValue::initWithMultiValue(
    const std::shared_ptr<svc::ABMultiValue>& multiValue) {
    if (!multiValue) return nullptr;
    return std::make_shared<NSDK_TBXABMutableMultiValue>(multiValue->mutableCopy());
}

std::shared_ptr<NSDK_TBXABMutableMultiValue> NSDK_TBXABMutableMultiValue::initWithMutableMultiValue(
    std::shared_ptr<svc::ABMultiValue> multiValue) {
    if (!multiValue || !multiValue->isMutable()) return nullptr;
    return std::make_shared<NSDK_TBXABMutableMultiValue>(std::move(multiValue));
}

bool NSDK_TBXABMutableMultiValue::checkValueType(const std::optional<ns::Value>& value) const {
    return value &&
           svc::ABMultiValue::valueFitsType(*value, propertyType() & ~svc::kABMultiValueMask);
}

svc::ABMultiValueIdentifier NSDK_TBXABMutableMultiValue::addValue(
    const std::optional<ns::Value>& value, const std::optional<std::string>& label) {
    return insertValue(value, label, count());
}

svc::ABMultiValueIdentifier NSDK_TBXABMutableMultiValue::insertValue(
    const std::optional<ns::Value>& value, const std::optional<std::string>& label, size_t index) {
    if (!label || !checkValueType(value) || index > count()) {
        return svc::kABMultiValueInvalidIdentifier;
    }
    auto identifier = multiValue_->insertValueAndLabelAtIndex(*value, *label, index);
    if (!identifier) return svc::kABMultiValueInvalidIdentifier;
    ++mutations_;
    return *identifier;
}

bool NSDK_TBXABMutableMultiValue::removeValueAndLabelAtIndex(size_t index) {
    if (index >= count() || !multiValue_->removeValueAndLabelAtIndex(index)) return false;
    ++mutations_;
    return true;
}

bool NSDK_TBXABMutableMultiValue::replaceValueAtIndex(size_t index,
                                                      const std::optional<ns::Value>& value) {
    if (index >= count() || !checkValueType(value) ||
        !multiValue_->replaceValueAtIndex(*value, index)) {
        return false;
    }
    ++mutations_;
    return true;
}

bool NSDK_TBXABMutableMultiValue::replaceLabelAtIndex(size_t index,
                                                      const std::optional<std::string>& label) {
    if (index >= count() || !label || !multiValue_->replaceLabelAtIndex(*label, index)) {
        return false;
    }
    ++mutations_;
    return true;
}
