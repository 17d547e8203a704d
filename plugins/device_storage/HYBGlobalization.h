#pragma once

#include <optional>
#include <string>

#include "bridge/HYBPlugin.h"
#include "platform/ns/Value.h"

// The page's locale service: the user's language and locale, and dates, numbers and currency
// amounts formatted and parsed by the user's locale.
//
// Dates cross the bridge as milliseconds since 1970 UTC. Formatters use the locale taken when
// the plug-in starts; the language, the locale name and the calendar answers (first day of the
// week, daylight saving, the parts of a parsed date) read the user's settings at each call.
// Every action answers once: OK with an object, or an error with {"code", "message"} (or the
// text "no options given" when a request is missing). Main thread only.
class HYBGlobalization : public HYBPlugin {
public:
    // The codes of the error objects.
    enum ErrorCode : int {
        UNKNOWN_ERROR = 0,
        FORMATTING_ERROR = 1,
        PARSING_ERROR = 2,
        PATTERN_ERROR = 3,
    };

    HYBGlobalization();

    void pluginInitialize() override;

    // The locale the formatters use (e.g. "de_AT").
    const std::string& currentLocale() const { return currentLocale_; }

    // --- Page actions ---------------------------------------------------------------------
    void getPreferredLanguage(const HYBInvokedUrlCommand& command);
    void getLocaleName(const HYBInvokedUrlCommand& command);
    void dateToString(const HYBInvokedUrlCommand& command);
    void stringToDate(const HYBInvokedUrlCommand& command);
    void getDatePattern(const HYBInvokedUrlCommand& command);
    void getDateNames(const HYBInvokedUrlCommand& command);
    void isDayLightSavingsTime(const HYBInvokedUrlCommand& command);
    void getFirstDayOfWeek(const HYBInvokedUrlCommand& command);
    void numberToString(const HYBInvokedUrlCommand& command);
    void stringToNumber(const HYBInvokedUrlCommand& command);
    void getNumberPattern(const HYBInvokedUrlCommand& command);
    void getCurrencyPattern(const HYBInvokedUrlCommand& command);

    // The preferred language tag as the page gets it: a bare language ("de") takes the region
    // of the locale identifier ("de_AT@calendar=gregorian" gives "de-AT").
    static std::string languageTagWithRegion(const std::string& language,
                                             const std::string& localeIdentifier);
    // Whether the text names a currency: three ASCII letters of a code the currency tables
    // know, in either case.
    static bool isKnownCurrencyCode(const std::string& code);

private:
    // The request, or nothing after answering "no options given".
    const ns::Value* requestOrRefuse(const HYBInvokedUrlCommand& command);
    void sendValue(const HYBInvokedUrlCommand& command, ns::Value value);
    void sendObject(const HYBInvokedUrlCommand& command, ns::Dictionary object);
    void sendError(const HYBInvokedUrlCommand& command, ErrorCode code, const char* message);
    // The formatted text, or the formatting error with the message when there is none.
    void sendTextOrError(const HYBInvokedUrlCommand& command,
                         const std::optional<std::string>& text, const char* message);

    std::string currentLocale_;
};
