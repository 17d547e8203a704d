#include "sdk/analytics/NEBADataTypeValidator.h"

#include <unicode/uchar.h>
#include <unicode/uniset.h>
#include <unicode/unistr.h>

#include <climits>

#include <array>

#include "platform/ns/Format.h"
#include "platform/ns/UTF16.h"
#include "sdk/analytics/NEBAInternalNames.h"
#include "sdk/analytics/NEBAMonitor.h"

namespace {

constexpr const char* kPlusTbx = "+tbx";

const char* nounForType(int64_t type) {
    switch (type) {
        case kNEBAValidatorEventName:
            return "Event name";
        case kNEBAValidatorEventOrigin:
            return "Event origin";
        case kNEBAValidatorEventParameterName:
            return "Event parameter name";
        case kNEBAValidatorEventParameterValue:
            return "Event parameter value";
        case kNEBAValidatorUserPropertyName:
            return "User property name";
        case kNEBAValidatorUserPropertyValue:
            return "User property value";
        default:
            return "Object";
    }
}

bool isValueType(int64_t type) {
    return type == kNEBAValidatorEventParameterValue || type == kNEBAValidatorUserPropertyValue;
}

int64_t levelForType(int64_t type) {
    return isValueType(type) ? NEBALogLevel::Warning : NEBALogLevel::Error;
}

bool fail(int64_t* failureCode, int64_t code) {
    if (failureCode) *failureCode = code;
    return false;
}

bool isLetter(UChar32 c) {
    switch (u_charType(c)) {
        case U_UPPERCASE_LETTER:
        case U_LOWERCASE_LETTER:
        case U_TITLECASE_LETTER:
        case U_MODIFIER_LETTER:
        case U_OTHER_LETTER:
            return true;
        default:
            return false;
    }
}

// Names are nearly always ASCII: a table answers those without a call into ICU.
const std::array<bool, 128>& asciiNameCharacters() {
    static const std::array<bool, 128> table = [] {
        std::array<bool, 128> t{};
        for (int c = 0; c < 128; ++c) {
            t[static_cast<size_t>(c)] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                        (c >= '0' && c <= '9') || c == '_';
        }
        return t;
    }();
    return table;
}

// Letters (Lu, Ll, Lt, Lm, Lo), decimal digits and "_", built once and frozen: a frozen set
// is safe to read from any thread.
const icu::UnicodeSet& nameCharacterSet() {
    static const icu::UnicodeSet* set = [] {
        UErrorCode status = U_ZERO_ERROR;
        auto* made = new icu::UnicodeSet(
            icu::UnicodeString(u"[[:Lu:][:Ll:][:Lt:][:Lm:][:Lo:][:Nd:]_]"), status);
        if (U_FAILURE(status)) {
            // Without ICU's data only ASCII names pass.
            delete made;
            status = U_ZERO_ERROR;
            made = new icu::UnicodeSet(icu::UnicodeString(u"[a-zA-Z0-9_]"), status);
        }
        made->freeze();
        return made;
    }();
    return *set;
}

}  // namespace

bool NEBADataTypeValidator::containsOnlyNameCharacters(std::string_view text) {
    const auto& ascii = asciiNameCharacters();
    size_t i = 0;
    while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80) {
        if (!ascii[static_cast<unsigned char>(text[i])]) return false;
        ++i;
    }
    if (i == text.size()) return true;
    // The rest, from the first non-ASCII byte, through ICU's frozen set; ill-formed UTF-8 reads
    // as U+FFFD, which is no name character.
    auto rest = text.substr(i);
    if (rest.size() > static_cast<size_t>(INT32_MAX)) return false;
    auto length = static_cast<int32_t>(rest.size());
    return nameCharacterSet().spanUTF8(rest.data(), length, USET_SPAN_CONTAINED) == length;
}

bool NEBADataTypeValidator::startsWithLetter(std::string_view text) {
    if (text.empty()) return false;
    size_t i = 0;
    char32_t c = ns::nextCodePoint(text, i);
    // The first UTF-16 unit of a character beyond the basic plane is a surrogate, no letter.
    if (c > 0xFFFF) return false;
    return isLetter(static_cast<UChar32>(c));
}

bool NEBADataTypeValidator::isValidString(const ns::Value& object, int64_t minLength,
                                          int64_t maxLength, int64_t type, int64_t* failureCode) {
    if (failureCode) *failureCode = kNEBAValidationValid;
    std::string noun = nounForType(type);
    int64_t level = levelForType(type);
    if (object.isNull()) {
        NEBAMonitor::log(level, noun + " is required and can't be nil");
        return fail(failureCode, kNEBAValidationMissing);
    }
    const auto* text = object.string();
    if (!text) {
        NEBAMonitor::log(level, noun + " must be of type NSString", {object});
        return fail(failureCode, kNEBAValidationWrongType);
    }
    if (minLength >= 1 && text->empty()) {
        if (!isValueType(type)) NEBAMonitor::log(level, noun + " is required and can't be empty");
        return fail(failureCode, kNEBAValidationMissing);
    }
    auto length = static_cast<int64_t>(ns::utf16Length(*text));
    if (length > maxLength) {
        NEBAMonitor::log(level,
                         ns::format("%@ is too long. The maximum supported length is %d", noun,
                                    static_cast<int>(maxLength)),
                         {object});
        return fail(failureCode, kNEBAValidationTooLong);
    }
    if (length < minLength) {
        NEBAMonitor::log(level,
                         ns::format("%@ is too short. The minimum supported length is %d", noun,
                                    static_cast<int>(minLength)),
                         {object});
        return fail(failureCode, kNEBAValidationTooShort);
    }
    return true;
}

bool NEBADataTypeValidator::isValidInternalName(const ns::Value& object, int64_t maxLength,
                                                int64_t type, int64_t* failureCode) {
    if (!isValidString(object, 1, maxLength, type, failureCode)) return false;
    if (!containsOnlyNameCharacters(*object.string())) {
        NEBAMonitor::error(
            std::string(nounForType(type)) + " must contain only letters, numbers, or underscores",
            {object});
        return fail(failureCode, kNEBAValidationInvalidCharacter);
    }
    return true;
}

bool NEBADataTypeValidator::isValidPublicName(const ns::Value& object, int64_t maxLength,
                                              int64_t type, int64_t* failureCode) {
    if (!isValidInternalName(object, maxLength, type, failureCode)) return false;
    if (!startsWithLetter(*object.string())) {
        NEBAMonitor::error(std::string(nounForType(type)) + " must start with a letter", {object});
        return fail(failureCode, kNEBAValidationInvalidCharacter);
    }
    return true;
}

bool NEBADataTypeValidator::isValidValue(const NEBAValue* value, int64_t minLength,
                                         int64_t maxLength, int64_t type, int64_t* failureCode) {
    if (failureCode) *failureCode = kNEBAValidationValid;
    if (!value) {
        NEBAMonitor::log(NEBALogLevel::WarningNotSampled,
                         std::string(nounForType(type)) + " cannot be nil");
        return fail(failureCode, kNEBAValidationMissing);
    }
    if (const auto* text = value->stringValue()) {
        return isValidString(ns::Value(*text), minLength, maxLength, type, failureCode);
    }
    return true;
}

bool NEBADataTypeValidator::isValidPublicEventName(const ns::Value& name, int64_t* failureCode) {
    if (!isValidPublicName(name, 32, kNEBAValidatorEventName, failureCode)) return false;
    const auto& text = *name.string();
    if (NEBAInternalNames::eventNameMap().count(text)) {
        NEBAMonitor::error("Event name is reserved. Ignoring event", {name});
        return fail(failureCode, kNEBAValidationReserved);
    }
    if (text.starts_with(kReservedPrefix)) {
        NEBAMonitor::error("Event name uses reserved prefix. Ignoring event", {name});
        return fail(failureCode, kNEBAValidationReserved);
    }
    return true;
}

bool NEBADataTypeValidator::isValidInternalEventName(const ns::Value& name, int64_t* failureCode) {
    return isValidInternalName(name, 32, kNEBAValidatorEventName, failureCode);
}

bool NEBADataTypeValidator::isValidInternalEventOrigin(const ns::Value& origin,
                                                       int64_t* failureCode) {
    return isValidInternalName(origin, 32, kNEBAValidatorEventOrigin, failureCode);
}

bool NEBADataTypeValidator::isValidForwardedEventOrigin(const ns::Value& origin,
                                                        int64_t* failureCode) {
    if (failureCode) *failureCode = kNEBAValidationValid;
    const auto* text = origin.string();
    if (!text || text->empty()) return fail(failureCode, kNEBAValidationMissing);
    const std::string_view suffix = kPlusTbx;
    if (!text->ends_with(suffix)) return fail(failureCode, kNEBAValidationNotForwarded);
    return isValidInternalName(ns::Value(text->substr(0, text->size() - suffix.size())), 32,
                               kNEBAValidatorEventOrigin, failureCode);
}

bool NEBADataTypeValidator::isValidPublicEventParameterName(const ns::Value& name,
                                                            int64_t* failureCode) {
    if (!isValidPublicName(name, 24, kNEBAValidatorEventParameterName, failureCode)) return false;
    if (name.string()->starts_with(kReservedPrefix)) {
        NEBAMonitor::error("Parameter name uses reserved prefix. Ignoring parameter", {name});
        return fail(failureCode, kNEBAValidationReserved);
    }
    return true;
}

bool NEBADataTypeValidator::isValidInternalEventParameterName(const ns::Value& name,
                                                              int64_t* failureCode) {
    return isValidInternalName(name, 24, kNEBAValidatorEventParameterName, failureCode);
}

bool NEBADataTypeValidator::isValidPublicEventParameterValue(const NEBAValue* value,
                                                             int64_t* failureCode) {
    return isValidValue(value, 0, 36, kNEBAValidatorEventParameterValue, failureCode);
}

bool NEBADataTypeValidator::isValidInternalEventParameterValue(const NEBAValue* value,
                                                               int64_t* failureCode) {
    return isValidValue(value, 0, 256, kNEBAValidatorEventParameterValue, failureCode);
}

bool NEBADataTypeValidator::isValidPublicUserAttributeName(const ns::Value& name,
                                                           int64_t* failureCode) {
    if (!isValidPublicName(name, 24, kNEBAValidatorUserPropertyName, failureCode)) return false;
    const auto& text = *name.string();
    if (NEBAInternalNames::userPropertyNameMap().count(text)) {
        NEBAMonitor::error("User property name is reserved. Ignoring user property", {name});
        return fail(failureCode, kNEBAValidationReserved);
    }
    if (text.starts_with(kReservedPrefix)) {
        NEBAMonitor::error("User property name uses reserved prefix. Ignoring user property",
                           {name});
        return fail(failureCode, kNEBAValidationReserved);
    }
    return true;
}

bool NEBADataTypeValidator::isValidInternalUserAttributeName(const ns::Value& name,
                                                             int64_t* failureCode) {
    return isValidInternalName(name, 24, kNEBAValidatorUserPropertyName, failureCode);
}

bool NEBADataTypeValidator::isValidPublicUserAttributeValue(const NEBAValue* value,
                                                            int64_t* failureCode) {
    return isValidValue(value, 1, 36, kNEBAValidatorUserPropertyValue, failureCode);
}

bool NEBADataTypeValidator::isValidInternalUserAttributeValue(const NEBAValue* value,
                                                              int64_t* failureCode) {
    return isValidValue(value, 1, 36, kNEBAValidatorUserPropertyValue, failureCode);
}
