#include "sdk/analytics/NEBAErrorEvent.h"

#include "platform/ns/UTF16.h"
#include "sdk/analytics/NEBAMonitor.h"

std::string NEBAClassName(const ns::Value& value) {
    switch (value.type()) {
        case ns::Value::Type::Null:
            return "NSNull";
        case ns::Value::Type::String:
            return "NSString";
        case ns::Value::Type::Data:
            return "NSData";
        case ns::Value::Type::Date:
            return "NSDate";
        case ns::Value::Type::Array:
            return "NSArray";
        case ns::Value::Type::Dictionary:
            return "NSDictionary";
        default:
            return "NSNumber";
    }
}

std::string NEBAErrorEventQuote(const std::string& text, size_t limit) {
    if (ns::utf16Length(text) <= limit) return text;
    return text.substr(0, ns::utf8OffsetForUTF16Offset(text, limit)) + "...";
}

ns::Dictionary NEBAErrorEventParameters(int64_t code, const ns::Value& item, size_t limit,
                                        const std::optional<ns::Value>& lengthText) {
    std::string text = item.isNull()     ? std::string("(nil)")
                       : item.isString() ? *item.string()
                                         : NEBAClassName(item);
    ns::Dictionary parameters{{kNEBAErrorEventName, ns::Value(code)}};
    parameters.emplace("_ev", NEBAErrorEventQuote(text, limit));
    const ns::Value& measured = lengthText ? *lengthText : item;
    int64_t length = measured.isString() ? ns::utf16Length(*measured.string()) : 0;
    if (code == NEBAErrorCode::ParameterValueTooLong ||
        code == NEBAErrorCode::UserPropertyValueTooLong || static_cast<size_t>(length) > limit)
        parameters.emplace("_el", ns::Value(length));
    return parameters;
}

bool NEBAIsPublicName(std::string_view name) {
    if (name.empty()) {
        NEBAMonitor::error("Unable to check the name. Name is empty");
        return false;
    }
    return name.front() != '_';
}

bool NEBAIsErrorEventName(std::string_view name) {
    if (name.empty()) {
        NEBAMonitor::error("Unable to check the event name. Name is empty");
        return false;
    }
    return name == kNEBAErrorEventName;
}
