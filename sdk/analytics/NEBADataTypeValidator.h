#pragma once

#include <cstdint>
#include <string_view>

#include "platform/ns/Value.h"
#include "sdk/analytics/NEBAValue.h"

// Why a check failed; 0 is written first, so a caller always reads 0 on success.
enum NEBAValidationFailureCode : int64_t {
    kNEBAValidationValid = 0,
    kNEBAValidationMissing = 1,
    kNEBAValidationTooLong = 2,
    kNEBAValidationInvalidCharacter = 3,
    kNEBAValidationReserved = 4,
    kNEBAValidationWrongType = 5,
    kNEBAValidationNotForwarded = 6,
    kNEBAValidationTooShort = 7,
};

// What is checked: it picks the noun of each message and the level it is logged at.
enum NEBAValidatorType : int64_t {
    kNEBAValidatorEventName = 0,
    kNEBAValidatorEventOrigin = 1,
    kNEBAValidatorEventParameterName = 2,
    kNEBAValidatorEventParameterValue = 3,
    kNEBAValidatorUserPropertyName = 4,
    kNEBAValidatorUserPropertyValue = 5,
};

// The rules for every name, origin and value that enters the engine. Lengths are counted in
// UTF-16 code units; name characters are Unicode letters (Lu, Ll, Lt, Lm, Lo), decimal digits
// (Nd) and "_". Each check answers whether the input passes, writes the failure code, and logs
// at most one message. Free of shared state: any thread may call.
class NEBADataTypeValidator {
public:
    static bool isValidString(const ns::Value& object, int64_t minLength, int64_t maxLength,
                              int64_t type, int64_t* failureCode = nullptr);
    static bool isValidInternalName(const ns::Value& object, int64_t maxLength, int64_t type,
                                    int64_t* failureCode = nullptr);
    static bool isValidPublicName(const ns::Value& object, int64_t maxLength, int64_t type,
                                  int64_t* failureCode = nullptr);
    // Null is a missing value. Numbers always pass; strings are checked by length.
    static bool isValidValue(const NEBAValue* value, int64_t minLength, int64_t maxLength,
                             int64_t type, int64_t* failureCode = nullptr);

    static bool isValidPublicEventName(const ns::Value& name, int64_t* failureCode = nullptr);
    static bool isValidInternalEventName(const ns::Value& name, int64_t* failureCode = nullptr);
    static bool isValidInternalEventOrigin(const ns::Value& origin, int64_t* failureCode = nullptr);
    static bool isValidForwardedEventOrigin(const ns::Value& origin,
                                            int64_t* failureCode = nullptr);
    static bool isValidPublicEventParameterName(const ns::Value& name,
                                                int64_t* failureCode = nullptr);
    static bool isValidInternalEventParameterName(const ns::Value& name,
                                                  int64_t* failureCode = nullptr);
    static bool isValidPublicEventParameterValue(const NEBAValue* value,
                                                 int64_t* failureCode = nullptr);
    static bool isValidInternalEventParameterValue(const NEBAValue* value,
                                                   int64_t* failureCode = nullptr);
    static bool isValidPublicUserAttributeName(const ns::Value& name,
                                               int64_t* failureCode = nullptr);
    static bool isValidInternalUserAttributeName(const ns::Value& name,
                                                 int64_t* failureCode = nullptr);
    static bool isValidPublicUserAttributeValue(const NEBAValue* value,
                                                int64_t* failureCode = nullptr);
    static bool isValidInternalUserAttributeValue(const NEBAValue* value,
                                                  int64_t* failureCode = nullptr);

    // Whether every character is a name character, and whether the first UTF-16 unit is a
    // letter.
    static bool containsOnlyNameCharacters(std::string_view text);
    static bool startsWithLetter(std::string_view text);

    static constexpr const char* kReservedPrefix = "nebula_";
};
