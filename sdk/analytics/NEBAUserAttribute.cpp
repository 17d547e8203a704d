#include "sdk/analytics/NEBAUserAttribute.h"

#include "sdk/analytics/NEBADataTypeValidator.h"
#include "sdk/analytics/NEBAEvent.h"
#include "sdk/analytics/NEBAMonitor.h"

std::optional<NEBAUserAttribute> NEBAUserAttribute::initWithName(const std::string& name,
                                                                 const NEBAValue& value,
                                                                 double lastSetTimestamp) {
    if (!NEBADataTypeValidator::isValidInternalUserAttributeName(ns::Value(name)))
        return std::nullopt;
    if (!NEBADataTypeValidator::isValidInternalUserAttributeValue(&value)) return std::nullopt;
    if (!NEBAEvent::isValidTimestamp(lastSetTimestamp)) {
        NEBAMonitor::error("User property timestamp is not a valid time. Name", {ns::Value(name)});
        return std::nullopt;
    }
    return NEBAUserAttribute(name, value, lastSetTimestamp);
}

NEB_MEASUREMENT::ACPUserAttribute NEBAUserAttribute::protoUserAttribute() const {
    NEB_MEASUREMENT::ACPUserAttribute attribute;
    attribute.set_name(name_);
    if (value_.isDouble()) {
        attribute.set_double_value(value_.doubleValue());
    } else if (value_.isInt64()) {
        attribute.set_int_value(value_.int64Value());
    } else if (const auto* text = value_.stringValue()) {
        attribute.set_string_value(*text);
    }
    attribute.set_set_timestamp_millis(static_cast<int64_t>(lastSetTimestamp_ * 1000));
    return attribute;
}
