#include "toolbox/iPhone/NSDK_TBXABRecord.h"

#include <functional>

namespace {

bool valueFits(const NSDK_TBXABPropertyValue& value, svc::ABPropertyType type) {
    switch (type) {
        case svc::kABStringPropertyType:
        case svc::kABIntegerPropertyType:
        case svc::kABRealPropertyType:
        case svc::kABDateTimePropertyType:
        case svc::kABDictionaryPropertyType: {
            const ns::Value* plain = std::get_if<ns::Value>(&value);
            return plain && svc::ABMultiValue::valueFitsType(*plain, type);
        }
        case svc::kABMultiStringPropertyType:
        case svc::kABMultiRealPropertyType:
        case svc::kABMultiDateTimePropertyType:
        case svc::kABMultiDictionaryPropertyType: {
            const auto* multi = std::get_if<std::shared_ptr<NSDK_TBXABMultiValue>>(&value);
            return multi && *multi;
        }
        default:
            return false;
    }
}

}  // namespace

bool NSDK_TBXABRecord::isEqual(const NSDK_TBXABRecord* other) const {
    return other && other->record_ == record_;
}

size_t NSDK_TBXABRecord::hash() const {
    return std::hash<const void*>{}(record_.get());
}

std::optional<NSDK_TBXABPropertyValue> NSDK_TBXABRecord::valueForProperty(
    svc::ABPropertyID property) const {
    auto value = record_->copyValue(property);
    if (!value) return std::nullopt;
    if (auto* multi = std::get_if<std::shared_ptr<svc::ABMultiValue>>(&*value)) {
        return NSDK_TBXABPropertyValue(NSDK_TBXABMultiValue::initWithMultiValue(*multi));
    }
    return NSDK_TBXABPropertyValue(std::get<ns::Value>(*value));
}

bool NSDK_TBXABRecord::setValue(const std::optional<NSDK_TBXABPropertyValue>& value,
                                svc::ABPropertyID property) {
    if (!value || !valueFits(*value, typeOfPropertyOfRecord(property))) return false;
    if (const auto* multi = std::get_if<std::shared_ptr<NSDK_TBXABMultiValue>>(&*value)) {
        return record_->setValue(property, (*multi)->multiValueRef());
    }
    return record_->setValue(property, std::get<ns::Value>(*value));
}

bool NSDK_TBXABRecord::removeValueForProperty(svc::ABPropertyID property) {
    if (!record_->copyValue(property)) return false;
    return record_->removeValue(property);
}
