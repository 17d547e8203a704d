#include "platform/ns/Value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/support/NsPrinters.h"

namespace {

using ns::Value;

constexpr int64_t kMax64 = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin64 = std::numeric_limits<int64_t>::min();

struct Conversion {
    Value value;
    bool boolValue;
    int intValue;
    int64_t integerValue;
    uint64_t unsignedValue;
    double doubleValue;
};

class ValueConversion : public testing::TestWithParam<Conversion> {};

TEST_P(ValueConversion, FollowsThePlatformRules) {
    const Conversion& c = GetParam();
    const std::string label = c.value.description();
    EXPECT_EQ(c.value.boolValue(), c.boolValue) << label;
    EXPECT_EQ(c.value.intValue(), c.intValue) << label;
    EXPECT_EQ(c.value.integerValue(), c.integerValue) << label;
    EXPECT_EQ(c.value.longLongValue(), c.integerValue) << label;
    EXPECT_EQ(c.value.unsignedLongLongValue(), c.unsignedValue) << label;
    if (std::isinf(c.doubleValue)) {
        EXPECT_EQ(c.value.doubleValue(), c.doubleValue) << label;
    } else {
        EXPECT_DOUBLE_EQ(c.value.doubleValue(), c.doubleValue) << label;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Strings, ValueConversion,
    testing::Values(
        Conversion{Value("42"), true, 42, 42, 42, 42},
        Conversion{Value("  \t\n-17abc"), true, -17, -17, uint64_t(-17), -17},
        Conversion{Value("+3.9e2x"), true, 3, 3, 3, 390},
        Conversion{Value(".5"), false, 0, 0, 0, 0.5}, Conversion{Value("1e"), true, 1, 1, 1, 1},
        Conversion{Value("abc"), false, 0, 0, 0, 0}, Conversion{Value(""), false, 0, 0, 0, 0},
        Conversion{Value("- 5"), false, 0, 0, 0, 0},
        Conversion{Value("99999999999999999999"), true, std::numeric_limits<int>::max(), kMax64,
                   std::numeric_limits<uint64_t>::max(), 1e20},
        Conversion{Value("-99999999999999999999"), true, std::numeric_limits<int>::min(), kMin64,
                   uint64_t(kMin64), -1e20},
        Conversion{Value("1e400"), true, 1, 1, 1, std::numeric_limits<double>::infinity()},
        Conversion{Value("1e-400"), true, 1, 1, 1, 0}, Conversion{Value("YES"), true, 0, 0, 0, 0},
        Conversion{Value("yes"), true, 0, 0, 0, 0}, Conversion{Value("true"), true, 0, 0, 0, 0},
        Conversion{Value("  -0007"), true, -7, -7, uint64_t(-7), -7},
        Conversion{Value("000"), false, 0, 0, 0, 0}, Conversion{Value("no"), false, 0, 0, 0, 0},
        Conversion{Value("false"), false, 0, 0, 0, 0}));

INSTANTIATE_TEST_SUITE_P(
    Numbers, ValueConversion,
    testing::Values(Conversion{Value(true), true, 1, 1, 1, 1},
                    Conversion{Value(false), false, 0, 0, 0, 0},
                    Conversion{Value(0), false, 0, 0, 0, 0},
                    Conversion{Value(-2), true, -2, -2, uint64_t(-2), -2},
                    Conversion{Value(4294967297LL), true, 1, 4294967297LL, 4294967297ULL,
                               4294967297.0},
                    Conversion{Value(18446744073709551615ULL), true, -1, -1,
                               std::numeric_limits<uint64_t>::max(), 18446744073709551615.0},
                    Conversion{Value(2.9), true, 2, 2, 2, 2.9},
                    Conversion{Value(-2.9), true, -2, -2, uint64_t(-2), -2.9},
                    Conversion{Value(0.25), true, 0, 0, 0, 0.25},
                    Conversion{Value(1e30), true, std::numeric_limits<int>::max(), kMax64,
                               std::numeric_limits<uint64_t>::max(), 1e30},
                    Conversion{Value(-1e30), true, std::numeric_limits<int>::min(), kMin64,
                               uint64_t(kMin64), -1e30}));

INSTANTIATE_TEST_SUITE_P(OtherKinds, ValueConversion,
                         testing::Values(Conversion{Value(), false, 0, 0, 0, 0},
                                         Conversion{Value(ns::Array{1}), false, 0, 0, 0, 0},
                                         Conversion{Value(ns::Data::fromString("1")), false, 0, 0,
                                                    0, 0}));

TEST(Value, NaNConvertsToZeroAndFalse) {
    const Value nan(std::nan(""));
    EXPECT_FALSE(nan.boolValue());
    EXPECT_EQ(nan.intValue(), 0);
    EXPECT_EQ(nan.integerValue(), 0);
    EXPECT_EQ(nan.unsignedLongLongValue(), 0u);
}

TEST(Value, StringValueOfNumbers) {
    EXPECT_EQ(Value(true).stringValue(), "1");
    EXPECT_EQ(Value(false).stringValue(), "0");
    EXPECT_EQ(Value(-42).stringValue(), "-42");
    EXPECT_EQ(Value(18446744073709551615ULL).stringValue(), "18446744073709551615");
    EXPECT_EQ(Value(1.0).stringValue(), "1");
    EXPECT_EQ(Value(0.1).stringValue(), "0.1");
    EXPECT_EQ(Value(-1.5).stringValue(), "-1.5");
    EXPECT_EQ(Value(1e100).stringValue(), "1e+100");
    EXPECT_EQ(Value(1e16).stringValue(), "10000000000000000");
    EXPECT_EQ(Value(1e17).stringValue(), "1e+17");
    EXPECT_EQ(Value(0.0001).stringValue(), "0.0001");
    EXPECT_EQ(Value(0.00001).stringValue(), "1e-05");
    EXPECT_EQ(Value(123456.789).stringValue(), "123456.789");
    EXPECT_EQ(Value(5e-324).stringValue(), "5e-324");
    EXPECT_EQ(Value(std::numeric_limits<double>::infinity()).stringValue(), "inf");
    EXPECT_EQ(Value(std::nan("")).stringValue(), "nan");
    EXPECT_EQ(Value("text").stringValue(), "text");
    EXPECT_EQ(Value().stringValue(), "");
}

TEST(Value, ShortestDoubleTextReadsBackExactly) {
    for (double d : {0.1, 1.0 / 3, 2.0 / 3 * 1e-10, 123456789.123456789, 1e-300, 9.87654321e200,
                     4503599627370497.5, 0.30000000000000004}) {
        EXPECT_EQ(Value(Value(d).stringValue()).doubleValue(), d) << Value(d).stringValue();
    }
}

TEST(Value, KindsAreDistinctInComparisons) {
    EXPECT_NE(Value(1), Value(1.0));
    EXPECT_NE(Value(1), Value(true));
    EXPECT_NE(Value(0), Value());
    EXPECT_NE(Value("1"), Value(1));
    EXPECT_EQ(Value(5u), Value(5));  // small unsigned values are integers
    EXPECT_EQ(Value(18446744073709551615ULL).type(), Value::Type::Unsigned);
    EXPECT_EQ(Value(9223372036854775807ULL).type(), Value::Type::Integer);
    EXPECT_EQ(Value::dict({{"a", Value::array({1, "x"})}}),
              Value::dict({{"a", Value::array({1, "x"})}}));
    EXPECT_NE(Value::dict({{"a", 1}}), Value::dict({{"a", 2}}));
}

TEST(Value, ExactAccessors) {
    EXPECT_EQ(Value(true).boolean(), true);
    EXPECT_FALSE(Value(1).boolean());
    EXPECT_EQ(Value(-3).int64(), -3);
    EXPECT_FALSE(Value(-3).uint64());
    EXPECT_FALSE(Value(18446744073709551615ULL).int64());
    EXPECT_EQ(Value(18446744073709551615ULL).uint64(), 18446744073709551615ULL);
    EXPECT_EQ(Value(2).number(), 2.0);
    EXPECT_FALSE(Value(true).number());
    EXPECT_FALSE(Value(true).isNumber());
    EXPECT_FALSE(Value("1").int64());
}

TEST(Value, LookupsNeverFail) {
    const Value v = Value::dict({{"list", Value::array({10, 20})}, {"name", "n"}});
    EXPECT_EQ(v["list"].at(1), Value(20));
    EXPECT_TRUE(v["list"].at(2).isNull());
    EXPECT_TRUE(v["missing"]["deeper"].isNull());
    EXPECT_TRUE(v["name"].at(0).isNull());
    EXPECT_EQ(v.find("missing"), nullptr);
    ASSERT_NE(v.find("name"), nullptr);
    EXPECT_EQ(v.count(), 2u);
    EXPECT_EQ(v["list"].count(), 2u);
    EXPECT_EQ(Value("abc").count(), 0u);
}

TEST(Value, DescriptionOfScalars) {
    EXPECT_EQ(Value().description(), "(null)");
    EXPECT_EQ(Value("as it is \"x\"").description(), "as it is \"x\"");
    EXPECT_EQ(Value(true).description(), "1");
    EXPECT_EQ(Value(12).description(), "12");
    EXPECT_EQ(Value(2.5).description(), "2.5");
    EXPECT_EQ(Value(ns::Data(std::vector<uint8_t>{0, 1, 2})).description(),
              "{length = 3, bytes = 0x000102}");
    EXPECT_EQ(Value(ns::Date::fromTimeIntervalSinceReferenceDate(0)).description(),
              "2001-01-01 00:00:00 +0000");
}

TEST(Value, DescriptionOfCollections) {
    EXPECT_EQ(Value::array({1, 2}).description(), "(\n    1,\n    2\n)");
    EXPECT_EQ(Value::dict({{"b", "x y"}, {"a", 1}}).description(),
              "{\n    a = 1;\n    b = \"x y\";\n}");
    EXPECT_EQ(Value(ns::Array{}).description(), "(\n)");
    EXPECT_EQ(Value(ns::Dictionary{}).description(), "{\n}");
    // Strings print bare only when made of letters, digits and _ . $ /.
    EXPECT_EQ(
        Value::array({"plain_1.2$/x", "", "a-b", "q\"\\\n", nullptr, true, 0.5}).description(),
        "(\n    plain_1.2$/x,\n    \"\",\n    \"a-b\",\n    \"q\\\"\\\\\\n\",\n"
        "    <null>,\n    1,\n    0.5\n)");
    EXPECT_EQ(Value::dict({{"my key", "v"}}).description(), "{\n    \"my key\" = v;\n}");
}

TEST(Value, DescriptionOfNestedCollections) {
    // A nested collection begins with its own indentation after the parent's.
    EXPECT_EQ(Value::dict({{"a", Value::dict({{"b", 1}})}, {"c", Value::array({2})}}).description(),
              "{\n"
              "    a =     {\n"
              "        b = 1;\n"
              "    };\n"
              "    c =     (\n"
              "        2\n"
              "    );\n"
              "}");
    EXPECT_EQ(Value::array({1, Value::array({2}), Value::dict({})}).description(),
              "(\n"
              "    1,\n"
              "        (\n"
              "        2\n"
              "    ),\n"
              "        {\n"
              "    }\n"
              ")");
}

}  // namespace
