#include "plugins/device_storage/HYBGlobalization.h"

#include <unicode/ucal.h>
#include <unicode/ucurr.h>
#include <unicode/udat.h>
#include <unicode/unum.h>

#include <cmath>
#include <memory>
#include <optional>

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBPluginResult.h"
#include "platform/dispatch/QueueContract.h"
#include "platform/ns/Date.h"
#include "platform/ns/Locale.h"
#include "platform/ns/UTF16.h"

namespace {

constexpr const char* kNoOptionsGiven = "no options given";

// Formatter styles as the page chooses them: 0 none, 1 short, 2 medium, 3 long, 4 full.
struct DateStyles {
    int date = 1;
    int time = 1;
};

UDateFormatStyle icuDateStyle(int style) {
    switch (style) {
        case 1:
            return UDAT_SHORT;
        case 2:
            return UDAT_MEDIUM;
        case 3:
            return UDAT_LONG;
        case 4:
            return UDAT_FULL;
        default:
            return UDAT_NONE;
    }
}

// The styles the request's "options" ask for. Entries are visited in key order, so
// "formatLength" is always seen before the "selector" that takes its length.
DateStyles dateStylesFrom(const ns::Value& request) {
    DateStyles styles;
    const ns::Dictionary* options = request["options"].dictionary();
    if (!options) return styles;
    int length = 1;
    for (const auto& [key, value] : *options) {
        const std::string* text = value.string();
        if (!text) continue;
        if (key == "formatLength") {
            if (*text == "short") length = 1;
            if (*text == "medium") length = 2;
            if (*text == "long") length = 3;
            if (*text == "full") length = 4;
        } else if (key == "selector") {
            if (*text == "date") styles = {length, 0};
            if (*text == "time") styles = {0, length};
            if (*text == "date and time") styles = {length, length};
        }
    }
    return styles;
}

UNumberFormatStyle numberStyleFrom(const ns::Value& request) {
    const std::string* type = request["options"]["type"].string();
    if (type && *type == "currency") return UNUM_CURRENCY;
    if (type && *type == "percent") return UNUM_PERCENT;
    return UNUM_DECIMAL;
}

// The text an ICU call writes; nothing when the call fails.
template <class Fill>
std::optional<std::string> icuText(Fill fill) {
    std::u16string buffer(64, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = fill(buffer.data(), static_cast<int32_t>(buffer.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR && length > 0) {
        buffer.assign(static_cast<size_t>(length), u'\0');
        status = U_ZERO_ERROR;
        length = fill(buffer.data(), length, &status);
    }
    if (U_FAILURE(status) || length < 0) return std::nullopt;
    buffer.resize(static_cast<size_t>(length));
    return ns::fromUTF16(buffer);
}

icu::LocalUDateFormatPointer openDateFormat(const std::string& locale, DateStyles styles) {
    UErrorCode status = U_ZERO_ERROR;
    icu::LocalUDateFormatPointer format(udat_open(icuDateStyle(styles.time),
                                                  icuDateStyle(styles.date), locale.c_str(),
                                                  nullptr, -1, nullptr, 0, &status));
    if (U_FAILURE(status)) format.adoptInstead(nullptr);
    return format;
}

icu::LocalUNumberFormatPointer openNumberFormat(const std::string& locale,
                                                UNumberFormatStyle style) {
    UErrorCode status = U_ZERO_ERROR;
    icu::LocalUNumberFormatPointer format(
        unum_open(style, nullptr, 0, locale.c_str(), nullptr, &status));
    if (U_FAILURE(status)) format.adoptInstead(nullptr);
    return format;
}

// The user's calendar in the user's time zone, set to the instant (milliseconds since 1970).
icu::LocalUCalendarPointer openUserCalendar(std::optional<UDate> at = std::nullopt) {
    UErrorCode status = U_ZERO_ERROR;
    const std::string locale = ns::Locale::currentLocaleIdentifier();
    icu::LocalUCalendarPointer calendar(
        ucal_open(nullptr, 0, locale.c_str(), UCAL_DEFAULT, &status));
    if (U_SUCCESS(status) && at) ucal_setMillis(calendar.getAlias(), *at, &status);
    if (U_FAILURE(status)) calendar.adoptInstead(nullptr);
    return calendar;
}

std::string symbol(const UNumberFormat* format, UNumberFormatSymbol which) {
    return icuText([&](UChar* buffer, int32_t capacity, UErrorCode* status) {
               return unum_getSymbol(format, which, buffer, capacity, status);
           })
        .value_or("");
}

std::optional<std::string> numberPattern(const UNumberFormat* format) {
    return icuText([&](UChar* buffer, int32_t capacity, UErrorCode* status) {
        return unum_toPattern(format, false, buffer, capacity, status);
    });
}

bool isASCIILetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::u16string upperCaseCurrencyCode(const std::string& code) {
    std::u16string upper;
    for (char c : code) upper.push_back(static_cast<char16_t>(c >= 'a' ? c - ('a' - 'A') : c));
    return upper;
}

}  // namespace

HYBGlobalization::HYBGlobalization() {
    registerAction("getPreferredLanguage", &HYBGlobalization::getPreferredLanguage);
    registerAction("getLocaleName", &HYBGlobalization::getLocaleName);
    registerAction("dateToString", &HYBGlobalization::dateToString);
    registerAction("stringToDate", &HYBGlobalization::stringToDate);
    registerAction("getDatePattern", &HYBGlobalization::getDatePattern);
    registerAction("getDateNames", &HYBGlobalization::getDateNames);
    registerAction("isDayLightSavingsTime", &HYBGlobalization::isDayLightSavingsTime);
    registerAction("getFirstDayOfWeek", &HYBGlobalization::getFirstDayOfWeek);
    registerAction("numberToString", &HYBGlobalization::numberToString);
    registerAction("stringToNumber", &HYBGlobalization::stringToNumber);
    registerAction("getNumberPattern", &HYBGlobalization::getNumberPattern);
    registerAction("getCurrencyPattern", &HYBGlobalization::getCurrencyPattern);
}

void HYBGlobalization::pluginInitialize() {
    currentLocale_ = ns::Locale::currentLocaleIdentifier();
}

// --- Answers ------------------------------------------------------------------------------

const ns::Value* HYBGlobalization::requestOrRefuse(const HYBInvokedUrlCommand& command) {
    const ns::Array& arguments = command.arguments();
    if (arguments.empty() || arguments.front().isNull()) {
        sendToPage(
            HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusError, kNoOptionsGiven),
            command.callbackId());
        return nullptr;
    }
    return &arguments.front();
}

void HYBGlobalization::sendObject(const HYBInvokedUrlCommand& command, ns::Dictionary object) {
    sendToPage(
        HYBPluginResult::resultWithStatusMessageAsDictionary(HYBResultStatusOK, std::move(object)),
        command.callbackId());
}

void HYBGlobalization::sendValue(const HYBInvokedUrlCommand& command, ns::Value value) {
    sendObject(command, {{"value", std::move(value)}});
}

void HYBGlobalization::sendTextOrError(const HYBInvokedUrlCommand& command,
                                       const std::optional<std::string>& text,
                                       const char* message) {
    if (!text || text->empty()) {
        sendError(command, FORMATTING_ERROR, message);
        return;
    }
    sendValue(command, *text);
}

void HYBGlobalization::sendError(const HYBInvokedUrlCommand& command, ErrorCode code,
                                 const char* message) {
    sendToPage(HYBPluginResult::resultWithStatusMessageAsDictionary(
                   HYBResultStatusError, {{"code", static_cast<int>(code)}, {"message", message}}),
               command.callbackId());
}

// --- Language and locale ----------------------------------------------------------------

std::string HYBGlobalization::languageTagWithRegion(const std::string& language,
                                                    const std::string& localeIdentifier) {
    std::string tag = language;
    if (tag.size() < 3) {
        // Only the part before the keywords names the region: an "_" inside a keyword value
        // ("@collation=phone_book") is no region separator.
        const std::string base = localeIdentifier.substr(0, localeIdentifier.find('@'));
        if (auto underscore = base.rfind('_'); underscore != std::string::npos) {
            tag += base.substr(underscore);
        }
    }
    for (char& c : tag) {
        if (c == '_') c = '-';
    }
    return tag;
}

void HYBGlobalization::getPreferredLanguage(const HYBInvokedUrlCommand& command) {
    HYB_EXPECT_MAIN_THREAD();
    const std::vector<std::string> languages = ns::Locale::preferredLanguages();
    if (languages.empty() || languages.front().empty()) {
        sendError(command, UNKNOWN_ERROR, "Unknown error");
        return;
    }
    sendValue(command,
              languageTagWithRegion(languages.front(), ns::Locale::currentLocaleIdentifier()));
}

void HYBGlobalization::getLocaleName(const HYBInvokedUrlCommand& command) {
    HYB_EXPECT_MAIN_THREAD();
    std::string identifier = ns::Locale::currentLocaleIdentifier();
    if (identifier.empty()) {
        sendError(command, UNKNOWN_ERROR, "Unknown error");
        return;
    }
    for (char& c : identifier) {
        if (c == '_') c = '-';
    }
    sendValue(command, identifier);
}

// --- Dates -------------------------------------------------------------------------------

void HYBGlobalization::dateToString(const HYBInvokedUrlCommand& command) {
    HYB_EXPECT_MAIN_THREAD();
    const ns::Value* request = requestOrRefuse(command);
    if (!request) return;
    std::optional<double> milliseconds = (*request)["date"].number();
    auto format = openDateFormat(currentLocale_, dateStylesFrom(*request));
    std::optional<std::string> text;
    if (milliseconds && format.isValid()) {
        text = icuText([&](UChar* buffer, int32_t capacity, UErrorCode* status) {
            return udat_format(format.getAlias(), *milliseconds, buffer, capacity, nullptr, status);
        });
    }
    sendTextOrError(command, text, "Formatting error");
}

void HYBGlobalization::stringToDate(const HYBInvokedUrlCommand& command) {
    HYB_EXPECT_MAIN_THREAD();
    const ns::Value* request = requestOrRefuse(command);
    if (!request) return;
    const std::string* text = (*request)["dateString"].string();
    auto format = openDateFormat(currentLocale_, dateStylesFrom(*request));
    std::optional<UDate> date;
    if (text && format.isValid()) {
        udat_setLenient(format.getAlias(), true);
        const std::u16string utf16 = ns::toUTF16(*text);
        UErrorCode status = U_ZERO_ERROR;
        int32_t position = 0;
        UDate parsed = udat_parse(format.getAlias(), utf16.data(),
                                  static_cast<int32_t>(utf16.size()), &position, &status);
        // A date followed by anything else is no date: the whole text must be read.
        if (U_SUCCESS(status) && position == static_cast<int32_t>(utf16.size())) date = parsed;
    }
    auto calendar = date ? openUserCalendar(*date) : icu::LocalUCalendarPointer();
    if (!calendar.isValid()) {
        sendError(command, PARSING_ERROR, "unable to parse");
        return;
    }
    UErrorCode status = U_ZERO_ERROR;
    auto field = [&](UCalendarDateFields which) {
        return ucal_get(calendar.getAlias(), which, &status);
    };
    ns::Dictionary parts = {
        {"year", field(UCAL_YEAR)},
        {"month", field(UCAL_MONTH)},
        {"day", field(UCAL_DATE)},
        {"hour", field(UCAL_HOUR_OF_DAY)},
        {"minute", field(UCAL_MINUTE)},
        {"second", field(UCAL_SECOND)},
        {"millisecond", 0},
    };
    if (U_FAILURE(status)) {
        sendError(command, PARSING_ERROR, "unable to parse");
        return;
    }
    sendObject(command, std::move(parts));
}

void HYBGlobalization::getDatePattern(const HYBInvokedUrlCommand& command) {
    HYB_EXPECT_MAIN_THREAD();
    const ns::Value* request = requestOrRefuse(command);
    if (!request) return;
    auto format = openDateFormat(currentLocale_, dateStylesFrom(*request));
    std::optional<std::string> pattern;
    icu::LocalUCalendarPointer calendar;
    if (format.isValid()) {
        pattern = icuText([&](UChar* buffer, int32_t capacity, UErrorCode* status) {
            return udat_toPattern(format.getAlias(), false, buffer, capacity, status);
        });
        UErrorCode status = U_ZERO_ERROR;
        calendar.adoptInstead(ucal_clone(udat_getCalendar(format.getAlias()), &status));
        if (U_SUCCESS(status) && calendar.isValid()) {
            ucal_setMillis(calendar.getAlias(), ns::Date::now().timeIntervalSince1970() * 1000.0,
                           &status);
        }
        if (U_FAILURE(status)) calendar.adoptInstead(nullptr);
    }
    if (!pattern || pattern->empty() || !calendar.isValid()) {
        sendError(command, PATTERN_ERROR, "Pattern error");
        return;
    }
    UCalendar* cal = calendar.getAlias();
    UErrorCode status = U_ZERO_ERROR;
    const bool daylight = ucal_inDaylightTime(cal, &status);
    const int32_t zoneOffset = ucal_get(cal, UCAL_ZONE_OFFSET, &status);
    const int32_t dstOffset = ucal_get(cal, UCAL_DST_OFFSET, &status);
    auto abbreviation = icuText([&](UChar* buffer, int32_t capacity, UErrorCode* s) {
        return ucal_getTimeZoneDisplayName(cal, daylight ? UCAL_SHORT_DST : UCAL_SHORT_STANDARD,
                                           currentLocale_.c_str(), buffer, capacity, s);
    });
    auto identifier = icuText([&](UChar* buffer, int32_t capacity, UErrorCode* s) {
        return ucal_getTimeZoneID(cal, buffer, capacity, s);
    });
    if (U_FAILURE(status) || !abbreviation || !identifier) {
        sendError(command, PATTERN_ERROR, "Pattern error");
        return;
    }
    sendObject(command, {{"pattern", *pattern},
                         {"timezone", *abbreviation},
                         {"iana_timezone", *identifier},
                         {"utc_offset", (zoneOffset + dstOffset) / 1000},
                         {"dst_offset", dstOffset / 1000.0}});
}

void HYBGlobalization::getDateNames(const HYBInvokedUrlCommand& command) {
    HYB_EXPECT_MAIN_THREAD();
    const ns::Value* request = requestOrRefuse(command);
    if (!request) return;
    const ns::Value& options = (*request)["options"];
    const std::string* type = options["type"].string();
    const std::string* item = options["item"].string();
    const bool narrow = type && *type == "narrow";
    const bool days = item && *item == "days";
    UDateFormatSymbolType symbols = days ? (narrow ? UDAT_SHORT_WEEKDAYS : UDAT_WEEKDAYS)
                                         : (narrow ? UDAT_SHORT_MONTHS : UDAT_MONTHS);
    auto format = openDateFormat(currentLocale_, {4, 4});
    ns::Array names;
    if (format.isValid()) {
        const int32_t count = udat_countSymbols(format.getAlias(), symbols);
        // Weekday tables keep an empty entry before Sunday, which is 1.
        for (int32_t i = days ? UCAL_SUNDAY : 0; i < count; ++i) {
            auto name = icuText([&](UChar* buffer, int32_t capacity, UErrorCode* status) {
                return udat_getSymbols(format.getAlias(), symbols, i, buffer, capacity, status);
            });
            if (!name) {
                names.clear();
                break;
            }
            names.emplace_back(*name);
        }
    }
    if (names.empty()) {
        sendError(command, UNKNOWN_ERROR, "Unknown error");
        return;
    }
    sendValue(command, std::move(names));
}

void HYBGlobalization::isDayLightSavingsTime(const HYBInvokedUrlCommand& command) {
    HYB_EXPECT_MAIN_THREAD();
    const ns::Value* request = requestOrRefuse(command);
    if (!request) return;
    std::optional<double> milliseconds = (*request)["date"].number();
    auto calendar = milliseconds ? openUserCalendar(*milliseconds) : icu::LocalUCalendarPointer();
    UErrorCode status = U_ZERO_ERROR;
    const bool daylight = calendar.isValid() && ucal_inDaylightTime(calendar.getAlias(), &status);
    if (!calendar.isValid() || U_FAILURE(status)) {
        sendError(command, UNKNOWN_ERROR, "Unknown error");
        return;
    }
    sendObject(command, {{"dst", daylight}});
}

void HYBGlobalization::getFirstDayOfWeek(const HYBInvokedUrlCommand& command) {
    HYB_EXPECT_MAIN_THREAD();
    auto calendar = openUserCalendar();
    if (!calendar.isValid()) {
        sendError(command, UNKNOWN_ERROR, "Unknown error");
        return;
    }
    sendValue(command, ucal_getAttribute(calendar.getAlias(), UCAL_FIRST_DAY_OF_WEEK));
}

// --- Numbers -----------------------------------------------------------------------------

void HYBGlobalization::numberToString(const HYBInvokedUrlCommand& command) {
    HYB_EXPECT_MAIN_THREAD();
    const ns::Value* request = requestOrRefuse(command);
    if (!request) return;
    const ns::Value& number = (*request)["number"];
    auto format = openNumberFormat(currentLocale_, numberStyleFrom(*request));
    std::optional<std::string> text;
    if (number.isNumber() && format.isValid()) {
        text = icuText([&](UChar* buffer, int32_t capacity, UErrorCode* status) {
            // Integers are formatted as integers: a double would round those above 2^53.
            if (auto integer = number.int64()) {
                return unum_formatInt64(format.getAlias(), *integer, buffer, capacity, nullptr,
                                        status);
            }
            return unum_formatDouble(format.getAlias(), number.doubleValue(), buffer, capacity,
                                     nullptr, status);
        });
    }
    sendTextOrError(command, text, "Unable to format");
}

void HYBGlobalization::stringToNumber(const HYBInvokedUrlCommand& command) {
    HYB_EXPECT_MAIN_THREAD();
    const ns::Value* request = requestOrRefuse(command);
    if (!request) return;
    const std::string* text = (*request)["numberString"].string();
    const UNumberFormatStyle style = numberStyleFrom(*request);
    auto format = openNumberFormat(currentLocale_, style);
    std::optional<double> value;
    if (text && format.isValid()) {
        if (style == UNUM_CURRENCY) unum_setAttribute(format.getAlias(), UNUM_LENIENT_PARSE, 1);
        const std::u16string utf16 = ns::toUTF16(*text);
        UErrorCode status = U_ZERO_ERROR;
        int32_t position = 0;
        double parsed = unum_parseDouble(format.getAlias(), utf16.data(),
                                         static_cast<int32_t>(utf16.size()), &position, &status);
        // A number followed by anything else is no number; and infinity or NaN has no form
        // the page's JSON can carry, so it would arrive as a success without a value.
        if (U_SUCCESS(status) && position == static_cast<int32_t>(utf16.size()) &&
            std::isfinite(parsed)) {
            value = parsed;
        }
    }
    if (!value) {
        sendError(command, PARSING_ERROR, "Unable to parse");
        return;
    }
    sendValue(command, *value);
}

void HYBGlobalization::getNumberPattern(const HYBInvokedUrlCommand& command) {
    HYB_EXPECT_MAIN_THREAD();
    const ns::Value* request = requestOrRefuse(command);
    if (!request) return;
    const UNumberFormatStyle style = numberStyleFrom(*request);
    auto format = openNumberFormat(currentLocale_, style);
    std::optional<std::string> pattern;
    if (format.isValid()) pattern = numberPattern(format.getAlias());
    if (!pattern || pattern->empty()) {
        sendError(command, PATTERN_ERROR, "Pattern error");
        return;
    }
    const UNumberFormat* f = format.getAlias();
    std::string shownSymbol;
    if (style == UNUM_CURRENCY) shownSymbol = symbol(f, UNUM_CURRENCY_SYMBOL);
    if (style == UNUM_PERCENT) shownSymbol = symbol(f, UNUM_PERCENT_SYMBOL);
    sendObject(command, {{"pattern", *pattern},
                         {"symbol", shownSymbol},
                         {"fraction", unum_getAttribute(f, UNUM_MIN_FRACTION_DIGITS)},
                         {"rounding", unum_getDoubleAttribute(f, UNUM_ROUNDING_INCREMENT)},
                         {"positive", symbol(f, UNUM_PLUS_SIGN_SYMBOL)},
                         {"negative", symbol(f, UNUM_MINUS_SIGN_SYMBOL)},
                         {"decimal", symbol(f, UNUM_DECIMAL_SEPARATOR_SYMBOL)},
                         {"grouping", symbol(f, UNUM_GROUPING_SEPARATOR_SYMBOL)}});
}

bool HYBGlobalization::isKnownCurrencyCode(const std::string& code) {
    if (code.size() != 3) return false;
    for (char c : code) {
        if (!isASCIILetter(c)) return false;
    }
    // The currency tables answer defaults for any code at all, so ask whether the code was
    // ever in use rather than what its digits are.
    const std::u16string upper = upperCaseCurrencyCode(code);
    UErrorCode status = U_ZERO_ERROR;
    const bool known = ucurr_isAvailable(upper.c_str(), U_DATE_MIN, U_DATE_MAX, &status);
    return U_SUCCESS(status) && known;
}

void HYBGlobalization::getCurrencyPattern(const HYBInvokedUrlCommand& command) {
    HYB_EXPECT_MAIN_THREAD();
    const ns::Value* request = requestOrRefuse(command);
    if (!request) return;
    const std::string* code = (*request)["currencyCode"].string();
    if (!code || !isKnownCurrencyCode(*code)) {
        sendError(command, PATTERN_ERROR, "Unable to get pattern");
        return;
    }
    const std::u16string upper = upperCaseCurrencyCode(*code);
    UErrorCode status = U_ZERO_ERROR;
    const int32_t fraction = ucurr_getDefaultFractionDigits(upper.c_str(), &status);
    const double rounding = ucurr_getRoundingIncrement(upper.c_str(), &status);
    auto format = openNumberFormat(currentLocale_, UNUM_CURRENCY);
    if (format.isValid()) {
        unum_setTextAttribute(format.getAlias(), UNUM_CURRENCY_CODE, upper.c_str(), 3, &status);
        unum_setSymbol(format.getAlias(), UNUM_INTL_CURRENCY_SYMBOL, upper.c_str(), 3, &status);
    }
    std::optional<std::string> pattern;
    if (U_SUCCESS(status) && format.isValid()) pattern = numberPattern(format.getAlias());
    if (!pattern || pattern->empty()) {
        sendError(command, PATTERN_ERROR, "Unable to get pattern");
        return;
    }
    const UNumberFormat* f = format.getAlias();
    sendObject(command, {{"pattern", *pattern},
                         {"code", *code},
                         {"fraction", fraction},
                         {"rounding", rounding},
                         {"decimal", symbol(f, UNUM_MONETARY_SEPARATOR_SYMBOL)},
                         {"grouping", symbol(f, UNUM_MONETARY_GROUPING_SEPARATOR_SYMBOL)}});
}
