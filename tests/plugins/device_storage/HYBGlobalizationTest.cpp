#include "plugins/device_storage/HYBGlobalization.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ns/Locale.h"
#include "platform/ns/UserDefaults.h"
#include "tests/plugins/device_storage/DeviceStateHarness.h"

namespace {

using devicestate::SentResult;
using ns::Value;

// CLDR's narrow no-break space (before AM/PM, in French groups) and no-break space.
const std::string kNNBSP = "\u202F";
const std::string kNBSP = "\u00A0";

// 2021-03-15 14:30:00 UTC.
constexpr double kMarch15 = 1615818600000.0;
constexpr double kJuly1 = 1625140800000.0;     // 2021-07-01 12:00 UTC
constexpr double kJanuary1 = 1609502400000.0;  // 2021-01-01 12:00 UTC

Value request(std::initializer_list<std::pair<const std::string, Value>> fields) {
    return Value::dict(fields);
}

Value errorObject(int code, const char* message) {
    return Value::dict({{"code", code}, {"message", message}});
}

class GlobalizationTest : public devicestate::UserSettingsTest {
protected:
    std::shared_ptr<HYBGlobalization> start(const std::string& locale, const std::string& zone,
                                            const std::vector<std::string>& languages = {}) {
        useLocale(locale, zone, languages);
        return makePlugin<HYBGlobalization>();
    }
    SentResult run(const std::string& action, ns::Array arguments = {}) {
        return call(*plugin_, action, std::move(arguments));
    }
    // The "value" of an OK answer.
    Value value(const std::string& action, const Value& req) {
        SentResult result = run(action, {req});
        EXPECT_EQ(result.status, HYBResultStatusOK)
            << action << " " << req.description() << " " << result.message.description();
        return result.message["value"];
    }

    std::shared_ptr<HYBGlobalization> plugin_;
};

// --- Dates across locales and zones ---------------------------------------------------------

struct DateCase {
    const char* locale;
    const char* zone;
    int hour;  // of kMarch15 in the zone
};

class DateRoundTrip : public GlobalizationTest, public ::testing::WithParamInterface<DateCase> {};

TEST_P(DateRoundTrip, FormatsAndParsesBackEveryLength) {
    const DateCase& c = GetParam();
    plugin_ = start(c.locale, c.zone);
    for (const char* length : {"short", "medium", "long", "full"}) {
        const Value options =
            Value::dict({{"formatLength", length}, {"selector", "date and time"}});
        Value text = value("dateToString", request({{"date", kMarch15}, {"options", options}}));
        ASSERT_TRUE(text.isString()) << length;
        SentResult parsed =
            run("stringToDate", {request({{"dateString", text}, {"options", options}})});
        ASSERT_EQ(parsed.status, HYBResultStatusOK)
            << c.locale << " " << length << " " << *text.string() << " "
            << parsed.message.description();
        EXPECT_EQ(parsed.message, Value::dict({{"year", 2021},
                                               {"month", 2},
                                               {"day", 15},
                                               {"hour", c.hour},
                                               {"minute", 30},
                                               {"second", 0},
                                               {"millisecond", 0}}))
            << c.locale << " " << length << " " << *text.string();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Locales, DateRoundTrip,
    ::testing::Values(DateCase{"en_US", "America/New_York", 10},
                      DateCase{"de_AT", "Europe/Vienna", 15},
                      DateCase{"fr_FR", "Europe/Vienna", 15}, DateCase{"ja_JP", "Asia/Tokyo", 23},
                      DateCase{"ar_EG", "Asia/Tokyo", 23}, DateCase{"en_US", "Asia/Tokyo", 23},
                      DateCase{"ja_JP", "America/New_York", 10}),
    [](const auto& info) {
        std::string name = std::string(info.param.locale) + "_" + info.param.zone;
        for (char& ch : name) {
            if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        }
        return name;
    });

TEST_F(GlobalizationTest, DateTextsFollowTheStylesTheOptionsChoose) {
    plugin_ = start("en_US", "Europe/Vienna");
    auto text = [&](Value options) {
        return value("dateToString", request({{"date", 0}, {"options", options}}));
    };
    EXPECT_EQ(text(Value::dict({{"formatLength", "full"}, {"selector", "date"}})),
              Value("Thursday, January 1, 1970"));
    const Value shortBoth = Value("1/1/70, 1:00" + kNNBSP + "AM");
    EXPECT_EQ(value("dateToString", request({{"date", 0}})), shortBoth);
    // A length reaches the styles only through a selector.
    EXPECT_EQ(text(Value::dict({{"formatLength", "long"}})), shortBoth);
    EXPECT_EQ(text(Value::dict({{"formatLength", "medium"}, {"selector", "time"}})),
              Value("1:00:00" + kNNBSP + "AM"));
    // Values that are not strings, and values nobody knows, leave the defaults.
    EXPECT_EQ(text(Value::dict({{"formatLength", 4}, {"selector", "dates"}})), shortBoth);
    EXPECT_EQ(text(Value("full")), shortBoth);
}

TEST_F(GlobalizationTest, ParsesTheNarrowNoBreakSpaceAndAPlainSpaceBeforeAmPm) {
    plugin_ = start("en_US", "America/New_York");
    for (const std::string& space : {kNNBSP, std::string(" "), kNBSP}) {
        for (auto [suffix, hour] : {std::pair{"AM", 10}, std::pair{"PM", 22}}) {
            SentResult parsed =
                run("stringToDate", {request({{"dateString", "3/15/21, 10:30" + space + suffix}})});
            ASSERT_EQ(parsed.status, HYBResultStatusOK) << parsed.message.description();
            EXPECT_EQ(parsed.message["hour"], Value(hour));
            EXPECT_EQ(parsed.message["month"], Value(2));
        }
    }
}

TEST_F(GlobalizationTest, DateTextMustBeReadToTheEnd) {
    plugin_ = start("en_US", "America/New_York");
    const Value dateOnly = Value::dict({{"selector", "date"}});
    SentResult ok =
        run("stringToDate", {request({{"dateString", "3/15/21"}, {"options", dateOnly}})});
    EXPECT_EQ(ok.status, HYBResultStatusOK);
    for (const char* text : {"3/15/21 tomorrow", "3/15/21, 10:30 AM and more", "3/15/21x"}) {
        SentResult result =
            run("stringToDate", {request({{"dateString", text}, {"options", dateOnly}})});
        EXPECT_EQ(result.status, HYBResultStatusError) << text;
        EXPECT_EQ(result.message, errorObject(2, "unable to parse")) << text;
    }
}

TEST_F(GlobalizationTest, DatePatternWithTheZoneNowAndInSummer) {
    plugin_ = start("en_US", "America/New_York");
    // The manual clock starts in November 2023: standard time.
    SentResult winter = run("getDatePattern", {request({})});
    ASSERT_EQ(winter.status, HYBResultStatusOK);
    EXPECT_EQ(winter.message, Value::dict({{"pattern", "M/d/yy, h:mm" + kNNBSP + "a"},
                                           {"timezone", "EST"},
                                           {"iana_timezone", "America/New_York"},
                                           {"utc_offset", -18000},
                                           {"dst_offset", 0.0}}));
    clock().advanceSeconds(200 * 86400.0);  // June 2024
    SentResult summer = run(
        "getDatePattern",
        {request({{"options", Value::dict({{"formatLength", "full"}, {"selector", "date"}})}})});
    EXPECT_EQ(summer.message["pattern"], Value("EEEE, MMMM d, y"));
    EXPECT_EQ(summer.message["timezone"], Value("EDT"));
    EXPECT_EQ(summer.message["utc_offset"], Value(-14400));
    EXPECT_EQ(summer.message["dst_offset"], Value(3600.0));

    plugin_ = start("ja_JP", "Asia/Tokyo");
    SentResult tokyo = run("getDatePattern", {request({})});
    EXPECT_EQ(tokyo.message["pattern"], Value("y/MM/dd H:mm"));
    EXPECT_EQ(tokyo.message["iana_timezone"], Value("Asia/Tokyo"));
    EXPECT_EQ(tokyo.message["utc_offset"], Value(32400));
    EXPECT_EQ(tokyo.message["dst_offset"], Value(0.0));
}

TEST_F(GlobalizationTest, DaylightSavingByZone) {
    struct Case {
        const char* zone;
        double date;
        bool dst;
    };
    for (const Case& c :
         {Case{"America/New_York", kJuly1, true}, Case{"America/New_York", kJanuary1, false},
          Case{"Europe/Vienna", kJuly1, true}, Case{"Europe/Vienna", kMarch15, false},
          Case{"Asia/Tokyo", kJuly1, false}}) {
        plugin_ = start("en_US", c.zone);
        SentResult result = run("isDayLightSavingsTime", {request({{"date", c.date}})});
        EXPECT_EQ(result.message, Value::dict({{"dst", c.dst}})) << c.zone << " " << c.date;
    }
    SentResult noDate = run("isDayLightSavingsTime", {request({{"date", "July"}})});
    EXPECT_EQ(noDate.message, errorObject(0, "Unknown error"));
}

TEST_F(GlobalizationTest, FirstDayOfWeekByLocale) {
    for (auto [locale, day] : {std::pair{"en_US", 1}, std::pair{"de_AT", 2}, std::pair{"fr_FR", 2},
                               std::pair{"ja_JP", 1}, std::pair{"ar_EG", 7}}) {
        plugin_ = start(locale, "Europe/Vienna");
        SentResult result = run("getFirstDayOfWeek");
        EXPECT_EQ(result.message, Value::dict({{"value", day}})) << locale;
    }
}

TEST_F(GlobalizationTest, DateNames) {
    plugin_ = start("en_US", "America/New_York");
    Value months = value("getDateNames", request({}));
    ASSERT_EQ(months.count(), 12u);
    EXPECT_EQ(months.at(0), Value("January"));
    EXPECT_EQ(months.at(11), Value("December"));
    Value days = value("getDateNames",
                       request({{"options", Value::dict({{"item", "days"}, {"type", "narrow"}})}}));
    EXPECT_EQ(days, Value::array({"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"}));

    plugin_ = start("de_AT", "Europe/Vienna");
    EXPECT_EQ(value("getDateNames", request({})).at(0), Value("Jänner"));
    plugin_ = start("fr_FR", "Europe/Vienna");
    EXPECT_EQ(value("getDateNames", request({{"options", Value::dict({{"item", "days"}})}})).at(0),
              Value("dimanche"));
    plugin_ = start("ja_JP", "Asia/Tokyo");
    EXPECT_EQ(value("getDateNames",
                    request({{"options", Value::dict({{"type", "narrow"}, {"item", "months"}})}}))
                  .at(2),
              Value("3月"));
}

// --- Numbers and currencies ------------------------------------------------------------------

struct NumberCase {
    const char* locale;
    const char* type;
    double number;
    std::string text;
};

class NumberRoundTrip : public GlobalizationTest,
                        public ::testing::WithParamInterface<NumberCase> {};

TEST_P(NumberRoundTrip, FormatsAndParsesBack) {
    const NumberCase& c = GetParam();
    plugin_ = start(c.locale, "Europe/Vienna");
    const Value options = Value::dict({{"type", c.type}});
    Value text = value("numberToString", request({{"number", c.number}, {"options", options}}));
    EXPECT_EQ(text, Value(c.text));
    Value number =
        value("stringToNumber", request({{"numberString", c.text}, {"options", options}}));
    ASSERT_TRUE(number.isDouble());
    EXPECT_DOUBLE_EQ(*number.number(), c.number);
}

INSTANTIATE_TEST_SUITE_P(
    Locales, NumberRoundTrip,
    ::testing::Values(
        NumberCase{"en_US", "decimal", 1234567.891, "1,234,567.891"},
        NumberCase{"de_AT", "decimal", 1234567.891, "1" + kNBSP + "234" + kNBSP + "567,891"},
        NumberCase{"fr_FR", "decimal", -1234.5, "-1" + kNNBSP + "234,5"},
        NumberCase{"ja_JP", "decimal", 0.5, "0.5"},
        NumberCase{"ar_EG", "decimal", 1234.5, "١٬٢٣٤٫٥"},
        NumberCase{"en_US", "percent", 0.25, "25%"},
        NumberCase{"de_AT", "percent", 0.5, "50" + kNBSP + "%"},
        NumberCase{"en_US", "currency", -1234.5, "-$1,234.50"},
        NumberCase{"de_AT", "currency", 1234.5, "€" + kNBSP + "1.234,50"},
        NumberCase{"fr_FR", "currency", 1234.5, "1" + kNNBSP + "234,50" + kNBSP + "€"},
        NumberCase{"ja_JP", "currency", 1234, "￥1,234"}));

TEST_F(GlobalizationTest, NumberTextMustBeANumberToTheEnd) {
    plugin_ = start("en_US", "America/New_York");
    for (const char* text : {"12abc", "", "abc", "1,234.5 apples", "NaN", "∞", "-∞"}) {
        SentResult result = run("stringToNumber", {request({{"numberString", text}})});
        EXPECT_EQ(result.status, HYBResultStatusError) << text;
        EXPECT_EQ(result.message, errorObject(2, "Unable to parse")) << text;
    }
    SentResult notText = run("stringToNumber", {request({{"numberString", 12}})});
    EXPECT_EQ(notText.message, errorObject(2, "Unable to parse"));
    // Currency amounts are read leniently: without the symbol, or with the code.
    const Value currency = Value::dict({{"type", "currency"}});
    for (const char* text : {"1,234.50", "USD 1,234.50", "$1,234.50"}) {
        EXPECT_EQ(value("stringToNumber", request({{"numberString", text}, {"options", currency}})),
                  Value(1234.5))
            << text;
    }
    // A plain space where French text has a narrow no-break space groups digits too.
    plugin_ = start("fr_FR", "Europe/Vienna");
    EXPECT_EQ(value("stringToNumber", request({{"numberString", "1 234,5"}})), Value(1234.5));
}

TEST_F(GlobalizationTest, FormatsIntegersBeyondDoublePrecision) {
    plugin_ = start("en_US", "America/New_York");
    EXPECT_EQ(value("numberToString", request({{"number", int64_t{9007199254740993}}})),
              Value("9,007,199,254,740,993"));
    SentResult notNumber = run("numberToString", {request({{"number", true}})});
    EXPECT_EQ(notNumber.message, errorObject(1, "Unable to format"));
}

TEST_F(GlobalizationTest, NumberPatterns) {
    plugin_ = start("en_US", "America/New_York");
    EXPECT_EQ(run("getNumberPattern", {request({})}).message, Value::dict({{"pattern", "#,##0.###"},
                                                                           {"symbol", ""},
                                                                           {"fraction", 0},
                                                                           {"rounding", 0.0},
                                                                           {"positive", "+"},
                                                                           {"negative", "-"},
                                                                           {"decimal", "."},
                                                                           {"grouping", ","}}));
    Value currency =
        run("getNumberPattern", {request({{"options", Value::dict({{"type", "currency"}})}})})
            .message;
    EXPECT_EQ(currency["pattern"], Value("¤#,##0.00"));
    EXPECT_EQ(currency["symbol"], Value("$"));
    EXPECT_EQ(currency["fraction"], Value(2));
    Value percent =
        run("getNumberPattern", {request({{"options", Value::dict({{"type", "percent"}})}})})
            .message;
    EXPECT_EQ(percent["symbol"], Value("%"));

    plugin_ = start("de_AT", "Europe/Vienna");
    Value german = run("getNumberPattern", {request({})}).message;
    EXPECT_EQ(german["decimal"], Value(","));
    EXPECT_EQ(german["grouping"], Value(kNBSP));
}

TEST_F(GlobalizationTest, CurrencyPatternsForKnownCodesOnly) {
    plugin_ = start("en_US", "America/New_York");
    EXPECT_EQ(run("getCurrencyPattern", {request({{"currencyCode", "EUR"}})}).message,
              Value::dict({{"pattern", "¤#,##0.00"},
                           {"code", "EUR"},
                           {"fraction", 2},
                           {"rounding", 0.0},
                           {"decimal", "."},
                           {"grouping", ","}}));
    Value yen = run("getCurrencyPattern", {request({{"currencyCode", "JPY"}})}).message;
    EXPECT_EQ(yen["fraction"], Value(0));
    EXPECT_EQ(yen["code"], Value("JPY"));
    Value lower = run("getCurrencyPattern", {request({{"currencyCode", "chf"}})}).message;
    EXPECT_EQ(lower["code"], Value("chf"));
    EXPECT_EQ(lower["fraction"], Value(2));

    // The currency tables answer defaults for any code; unknown ones must still fail.
    for (const Value& code : {Value("XYZ"), Value("QQQ"), Value("EU"), Value("EURO"), Value("E1R"),
                              Value("€UR"), Value(""), Value(978), Value()}) {
        SentResult result = run("getCurrencyPattern", {request({{"currencyCode", code}})});
        EXPECT_EQ(result.status, HYBResultStatusError) << code.description();
        EXPECT_EQ(result.message, errorObject(3, "Unable to get pattern")) << code.description();
    }
    plugin_ = start("de_AT", "Europe/Vienna");
    Value euro = run("getCurrencyPattern", {request({{"currencyCode", "EUR"}})}).message;
    EXPECT_EQ(euro["pattern"], Value("¤" + kNBSP + "#,##0.00"));
    EXPECT_EQ(euro["decimal"], Value(","));
    EXPECT_EQ(euro["grouping"], Value("."));
}

// --- Language, locale, requests -----------------------------------------------------------

TEST_F(GlobalizationTest, PreferredLanguageTakesTheRegionOfTheLocale) {
    struct Case {
        const char* locale;
        const char* language;
        const char* answer;
    };
    for (const Case& c :
         {Case{"en_US", "en", "en-US"}, Case{"de_AT@calendar=gregorian", "de", "de-AT"},
          Case{"fr_FR", "fr-CA", "fr-CA"}, Case{"ja_JP", "ja", "ja-JP"},
          Case{"zh_Hant_TW", "zh-Hant", "zh-Hant"}}) {
        plugin_ = start(c.locale, "Asia/Tokyo", {c.language});
        EXPECT_EQ(run("getPreferredLanguage").message, Value::dict({{"value", c.answer}}))
            << c.locale;
    }
    EXPECT_EQ(HYBGlobalization::languageTagWithRegion("de", "de_AT@calendar=gregorian"), "de-AT");
    EXPECT_EQ(HYBGlobalization::languageTagWithRegion("zh", "zh_Hant_TW"), "zh-TW");
    EXPECT_EQ(HYBGlobalization::languageTagWithRegion("de", "de"), "de");
    EXPECT_EQ(HYBGlobalization::languageTagWithRegion("en_GB_x", "en_US"), "en-GB-x");
    // An "_" only inside a keyword names no region (and must not be cut out backwards).
    EXPECT_EQ(HYBGlobalization::languageTagWithRegion("de", "de@collation=phone_book"), "de");
    EXPECT_EQ(HYBGlobalization::languageTagWithRegion("de", "de_DE@collation=phone_book"), "de-DE");
}

TEST_F(GlobalizationTest, FormattersKeepTheLocaleOfTheStartWhileTheNamesFollowTheUser) {
    plugin_ = start("de_AT", "Europe/Vienna");
    EXPECT_EQ(run("getLocaleName").message, Value::dict({{"value", "de-AT"}}));
    useLocale("fr_FR", "Europe/Vienna");
    EXPECT_EQ(run("getLocaleName").message, Value::dict({{"value", "fr-FR"}}));
    EXPECT_EQ(run("getPreferredLanguage").message, Value::dict({{"value", "fr-FR"}}));
    EXPECT_EQ(value("numberToString", request({{"number", 1.5}})), Value("1,5"));
    EXPECT_EQ(plugin_->currentLocale(), "de_AT");
    // Restarted, the plug-in takes the new locale.
    plugin_ = makePlugin<HYBGlobalization>();
    EXPECT_EQ(value("getDateNames", request({})).at(0), Value("janvier"));
}

TEST_F(GlobalizationTest, RequestsWithoutOptionsAreRefused) {
    plugin_ = start("en_US", "America/New_York");
    for (const char* action :
         {"dateToString", "stringToDate", "getDatePattern", "getDateNames", "isDayLightSavingsTime",
          "numberToString", "stringToNumber", "getNumberPattern", "getCurrencyPattern"}) {
        for (const ns::Array& arguments : {ns::Array{}, ns::Array{Value()}}) {
            SentResult result = run(action, arguments);
            EXPECT_EQ(result.status, HYBResultStatusError) << action;
            EXPECT_EQ(result.message, Value("no options given")) << action;
            EXPECT_EQ(result.callbackId, "Plugin1");
        }
    }
    for (const char* action : {"getPreferredLanguage", "getLocaleName", "getFirstDayOfWeek"}) {
        EXPECT_EQ(run(action).status, HYBResultStatusOK) << action;
    }
    // A request that is no object has none of the fields.
    EXPECT_EQ(run("dateToString", {Value("today")}).message, errorObject(1, "Formatting error"));
    EXPECT_EQ(run("stringToDate", {request({})}).message, errorObject(2, "unable to parse"));
    EXPECT_EQ(run("stringToDate", {request({{"dateString", "yesterday"}})}).message,
              errorObject(2, "unable to parse"));
}

}  // namespace
