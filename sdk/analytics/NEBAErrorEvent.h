#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Value.h"

// The internal event that analytics logs about input it refused: "_err" with the code, and
// for most codes the offending item ("_ev") and its length ("_el").
inline constexpr const char* kNEBAErrorEventName = "_err";

struct NEBAErrorCode {
    enum : int64_t {
        InvalidEventName = 2,
        InvalidParameterName = 3,
        ParameterValueTooLong = 4,
        TooManyParameters = 5,
        InvalidUserPropertyName = 6,
        UserPropertyValueTooLong = 7,
        TooManyEventNames = 8,
        TooManyUserProperties = 9,
        // Not an error: what a cleared conversion flag leaves behind.
        ConversionCleared = 10,
        RejectedEvent = 11,
        ReservedEventName = 13,
        ReservedParameterName = 14,
        ReservedUserPropertyName = 15,
        PublicEventsOverDailyLimit = 16
    };
};

// How many UTF-16 units of the offending item an "_err" event quotes.
struct NEBAErrorItemLimit {
    enum : size_t { UserPropertyName = 24, EventName = 32, CountedEventName = 40 };
};

// The platform's class name of a value ("NSString", "NSNumber" ...), as messages name types.
std::string NEBAClassName(const ns::Value& value);

// The text as "_ev" quotes it: cut to its first `limit` UTF-16 units plus "..." when longer,
// never between the halves of a surrogate pair.
std::string NEBAErrorEventQuote(const std::string& text, size_t limit);

// The parameters of an "_err" event: the code, the item cut to `limit` UTF-16 units ("..."
// appended; a non-text item by its class name, "(nil)" when absent), and the length of
// `lengthText` (the item when absent) for codes 4 and 7 or when it is over the limit.
ns::Dictionary NEBAErrorEventParameters(int64_t code, const ns::Value& item, size_t limit,
                                        const std::optional<ns::Value>& lengthText = std::nullopt);

// Whether a name is public: it does not begin with "_". An empty name cannot be checked: that is
// logged, and it counts as internal.
bool NEBAIsPublicName(std::string_view name);

// Whether an event of this name is the "_err" event. An empty name cannot be checked: that is
// logged, and it is not.
bool NEBAIsErrorEventName(std::string_view name);
