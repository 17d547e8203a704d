// The validation tables: names, origins and values, measured in UTF-16 units, and what
// normalisation records about what it dropped.
#include "sdk/analytics/NEBADataTypeValidator.h"
#include "sdk/analytics/NEBAEvent.h"
#include "sdk/analytics/NEBAInternalNames.h"
#include "tests/sdk/analytics/AnalyticsFixture.h"

namespace {

using analyticstest::AnalyticsTest;
using V = NEBADataTypeValidator;

struct NameCase {
    const char* check;
    std::string name;
    bool valid;
    int64_t code;
};

bool runCheck(const std::string& check, const ns::Value& name, int64_t* code) {
    if (check == "publicEvent") return V::isValidPublicEventName(name, code);
    if (check == "internalEvent") return V::isValidInternalEventName(name, code);
    if (check == "origin") return V::isValidInternalEventOrigin(name, code);
    if (check == "forwarded") return V::isValidForwardedEventOrigin(name, code);
    if (check == "publicParam") return V::isValidPublicEventParameterName(name, code);
    if (check == "internalParam") return V::isValidInternalEventParameterName(name, code);
    if (check == "publicProperty") return V::isValidPublicUserAttributeName(name, code);
    return V::isValidInternalUserAttributeName(name, code);
}

class NEBADataTypeValidatorTest : public AnalyticsTest,
                                  public ::testing::WithParamInterface<NameCase> {};

TEST_P(NEBADataTypeValidatorTest, Names) {
    const auto& c = GetParam();
    int64_t code = -1;
    EXPECT_EQ(runCheck(c.check, ns::Value(c.name), &code), c.valid) << c.check << " " << c.name;
    EXPECT_EQ(code, c.code) << c.check << " " << c.name;
}

const std::string k32(32, 'a');
// 𝐀 (U+1D400) counts two UTF-16 units and is a letter, but its first unit is not.
const std::string kMathA = "\xF0\x9D\x90\x80";

INSTANTIATE_TEST_SUITE_P(
    Table, NEBADataTypeValidatorTest,
    ::testing::Values(
        NameCase{"publicEvent", k32, true, 0}, NameCase{"publicEvent", k32 + "a", false, 2},
        NameCase{"publicEvent", "", false, 1}, NameCase{"publicEvent", "1abc", false, 3},
        NameCase{"internalEvent", "1abc", true, 0}, NameCase{"publicEvent", "_abc", false, 3},
        NameCase{"internalEvent", "_abc", true, 0}, NameCase{"publicEvent", "a-b", false, 3},
        NameCase{"publicEvent", "a b", false, 3},
        NameCase{"publicEvent", "caf\xC3\xA9_\xE6\x97\xA5", true, 0},
        NameCase{"publicEvent", "first_open", false, 4},
        NameCase{"publicEvent", "first_opens", true, 0}, NameCase{"publicEvent", "error", false, 4},
        NameCase{"publicEvent", "nebula_x", false, 4},
        NameCase{"publicEvent", kMathA + "b", false, 3},
        NameCase{"internalEvent", kMathA + std::string(30, 'b'), true, 0},
        NameCase{"internalEvent", kMathA + std::string(31, 'b'), false, 2},
        NameCase{"publicParam", std::string(24, 'p'), true, 0},
        NameCase{"publicParam", std::string(25, 'p'), false, 2},
        NameCase{"publicParam", "nebula_p", false, 4}, NameCase{"internalParam", "_ev", true, 0},
        NameCase{"publicProperty", "user_id", false, 4},
        NameCase{"publicProperty", "nebula_p", false, 4},
        NameCase{"internalProperty", "_id", true, 0},
        NameCase{"origin", std::string(33, 'o'), false, 2},
        NameCase{"forwarded", "app+tbx", true, 0}, NameCase{"forwarded", "app", false, 6},
        NameCase{"forwarded", "", false, 1}, NameCase{"forwarded", "a-b+tbx", false, 3}));

using NEBAValueValidationTest = AnalyticsTest;

TEST_F(NEBAValueValidationTest, ValuesAndTheirMessages) {
    int64_t code = -1;
    NEBAValue empty("");
    EXPECT_FALSE(V::isValidPublicUserAttributeValue(&empty, &code));
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(V::isValidPublicEventParameterValue(&empty, &code));
    NEBAValue long37(std::string(37, 'v'));
    EXPECT_FALSE(V::isValidPublicEventParameterValue(&long37, &code));
    EXPECT_EQ(code, 2);
    EXPECT_TRUE(V::isValidInternalEventParameterValue(&long37, &code));
    NEBAValue number(int64_t{1} << 60);
    EXPECT_TRUE(V::isValidPublicUserAttributeValue(&number, &code));
    EXPECT_FALSE(V::isValidValue(nullptr, 0, 36, kNEBAValidatorEventParameterValue, &code));
    EXPECT_FALSE(V::isValidString(ns::Value(5), 1, 10, kNEBAValidatorEventName, &code));
    EXPECT_EQ(code, 5);
    EXPECT_FALSE(V::isValidPublicEventName(ns::Value(k32 + "a")));
    EXPECT_TRUE(logs().contains(
        "<NEBAnalytics/ERROR> Event name is too long. The maximum supported length is 32"));
    EXPECT_TRUE(
        logs().contains("Event parameter value is too long. The maximum supported length is 36"));
    EXPECT_FALSE(logs().contains("User property value is required and can't be empty"));
}

using NEBANormalizationTest = AnalyticsTest;

NEBAEvent::Parameters normalized(const ns::Dictionary& parameters, bool isPublic) {
    auto result = NEBAEvent::normalizedParametersForParameters(parameters, isPublic);
    return result ? *result : NEBAEvent::Parameters{};
}

TEST_F(NEBANormalizationTest, DroppedNamesAndValuesAreRecordedOnceFirstProblemFirst) {
    auto reserved = normalized({{"nebula_x", ns::Value(1)}, {"ok", ns::Value(2)}}, true);
    EXPECT_EQ(reserved.at("ok"), NEBAValue(int64_t{2}));
    EXPECT_EQ(reserved.at("_err"), NEBAValue(int64_t{14}));
    EXPECT_EQ(reserved.at("_ev"), NEBAValue("nebula_x"));
    EXPECT_FALSE(reserved.count("_el"));

    std::string thirty(30, 'n');
    auto longName = normalized({{thirty, ns::Value(1)}}, true);
    EXPECT_EQ(longName.at("_err"), NEBAValue(int64_t{3}));
    EXPECT_EQ(longName.at("_ev"), NEBAValue(std::string(24, 'n') + "..."));
    EXPECT_EQ(longName.at("_el"), NEBAValue(int64_t{30}));

    auto longValue = normalized(
        {{"aaa", ns::Value(std::string(40, 'v'))}, {"bbb", ns::Value(std::string(50, 'w'))}}, true);
    EXPECT_EQ(longValue.at("_err"), NEBAValue(int64_t{4}));
    EXPECT_EQ(longValue.at("_ev"), NEBAValue("aaa"));
    EXPECT_EQ(longValue.at("_el"), NEBAValue(int64_t{40}));
    EXPECT_FALSE(longValue.count("aaa"));

    auto array = normalized({{"list", ns::Value(ns::Array{ns::Value(1)})}}, true);
    EXPECT_TRUE(array.empty());
}

TEST_F(NEBANormalizationTest, ErrorValueIsCutAtACharacterBoundary) {
    // 255 ASCII units then a surrogate pair straddling unit 256: the cut keeps whole characters.
    std::string value = std::string(255, 'e') + kMathA + std::string(10, 'f');
    auto result = normalized({{"_ev", ns::Value(value)}}, false);
    const auto* cut = result.at("_ev").stringValue();
    ASSERT_TRUE(cut);
    EXPECT_EQ(*cut, std::string(255, 'e') + "...");
    EXPECT_EQ(result.at("_el"), NEBAValue(int64_t{267}));
}

TEST_F(NEBANormalizationTest, PublicParametersAreCappedAtTwentyFiveGreatestNamesFirst) {
    ns::Dictionary many;
    for (int i = 1; i <= 27; ++i) many[(i < 10 ? "a0" : "a") + std::to_string(i)] = ns::Value(i);
    many["_c"] = ns::Value(1);
    auto internal = normalized(many, false);
    EXPECT_EQ(internal.size(), 27u);  // 25 public, "_c", "_err"
    EXPECT_TRUE(internal.count("a25"));
    EXPECT_FALSE(internal.count("a26"));
    EXPECT_EQ(internal.at("_err"), NEBAValue(int64_t{5}));
    EXPECT_TRUE(logs().contains("Event cannot contain more than 25 parameters"));
}

TEST_F(NEBANormalizationTest, NameMapsHoldTheirEntries) {
    EXPECT_EQ(NEBAInternalNames::eventNameMap().size(), 15u);
    EXPECT_EQ(NEBAInternalNames::parameterNameMap().size(), 18u);
    EXPECT_EQ(NEBAInternalNames::userPropertyNameMap().size(), 4u);
    EXPECT_EQ(NEBAInternalNames::eventNameMap().at("session_start"), "_s");
    EXPECT_EQ(NEBAInternalNames::parameterNameMap().at("nebula_error_value"), "_ev");
    EXPECT_EQ(NEBAInternalNames::userPropertyNameMap().at("user_id"), "_id");
}

}  // namespace
