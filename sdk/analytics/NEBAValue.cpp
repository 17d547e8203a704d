#include "sdk/analytics/NEBAValue.h"

#include <cmath>
#include <functional>

#include "sdk/analytics/NEBAMonitor.h"

std::optional<NEBAValue> NEBAValue::valueFromObject(const ns::Value& object) {
    if (object.isNull()) {
        NEBAMonitor::log(NEBALogLevel::ErrorNotSampled, "Cannot create Value type with nil value");
        return std::nullopt;
    }
    if (const auto* text = object.string()) return NEBAValue(*text);
    if (object.isDouble()) return NEBAValue(object.doubleValue());
    if (object.isBool()) return NEBAValue(int64_t{object.boolValue() ? 1 : 0});
    if (object.isInteger()) {
        // Above INT64_MAX the value saturates rather than wrapping to a negative one.
        auto exact = object.int64();
        return NEBAValue(exact ? *exact : INT64_MAX);
    }
    NEBAMonitor::log(NEBALogLevel::ErrorNotSampled,
                     "Cannot create Value type with unsupported value. The Value has to be "
                     "NSNumber or NSString. Value",
                     {object});
    return std::nullopt;
}

std::optional<NEBAValue> NEBAValue::initWithString(const ns::Value& object) {
    if (object.isNull()) {
        NEBAMonitor::log(NEBALogLevel::ErrorNotSampled, "Cannot create String value with nil");
        return std::nullopt;
    }
    if (const auto* text = object.string()) return NEBAValue(*text);
    NEBAMonitor::log(NEBALogLevel::ErrorNotSampled,
                     "Cannot create String value with non-string value. Value", {object});
    return std::nullopt;
}

ns::Value NEBAValue::object() const {
    switch (value_.index()) {
        case kDouble:
            return ns::Value(std::get<double>(value_));
        case kInt64:
            return ns::Value(static_cast<long long>(std::get<int64_t>(value_)));
        default:
            return ns::Value(std::get<std::string>(value_));
    }
}

std::string NEBAValue::description() const {
    return object().description();
}

size_t NEBAValue::hash() const {
    size_t wrapped = 0;
    switch (value_.index()) {
        case kDouble:
            wrapped = std::hash<double>()(std::get<double>(value_));
            break;
        case kInt64:
            wrapped = std::hash<int64_t>()(std::get<int64_t>(value_));
            break;
        default:
            wrapped = std::hash<std::string>()(std::get<std::string>(value_));
            break;
    }
    return wrapped ^ (static_cast<size_t>(valueType()) * 31);
}
