#include "platform/ns/PropertyListSerialization.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/support/TempDir.h"

#include "tests/support/NsPrinters.h"

namespace {

using ns::PropertyListSerialization;
using Format = ns::PropertyListSerialization::Format;
using ns::Value;

Value everyKind() {
    std::vector<uint8_t> bytes(300);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    return Value::dict({
        {"bool", true},
        {"false", false},
        {"int", 42},
        {"negative", -7},
        {"min", std::numeric_limits<long long>::min()},
        {"max", std::numeric_limits<long long>::max()},
        {"umax", 18446744073709551615ULL},
        {"double", 0.1},
        {"integral double", 3.0},
        {"tiny", -2.5e-300},
        {"string", "plain <&> \"quoted\" caf\xC3\xA9 \xF0\x9F\x98\x80"},
        {"empty", ""},
        {"data", ns::Data(bytes)},
        {"empty data", ns::Data()},
        {"date", ns::Date::fromTimeIntervalSince1970(1700000000)},
        {"old date", ns::Date::fromTimeIntervalSinceReferenceDate(-86401)},
        {"array", Value::array({1, "two", Value::array({}), Value::dict({})})},
        {"nested", Value::dict({{"k", Value::dict({{"deeper", Value::array({false})}})}})},
    });
}

class PropertyListRoundTrip : public testing::TestWithParam<Format> {};

TEST_P(PropertyListRoundTrip, EveryKindSurvives) {
    const Value original = everyKind();
    auto data = PropertyListSerialization::write(original, GetParam());
    ASSERT_TRUE(data.ok()) << data.error().description();
    Format detected = GetParam() == Format::XML ? Format::Binary : Format::XML;
    auto back = PropertyListSerialization::read(*data, &detected);
    ASSERT_TRUE(back.ok()) << back.error().description();
    EXPECT_EQ(detected, GetParam());
    for (const auto& [key, value] : *original.dictionary()) {
        EXPECT_EQ((*back)[key], value) << key << ": " << (*back)[key].description();
        EXPECT_EQ((*back)[key].type(), value.type()) << key;
    }
    EXPECT_EQ(*back, original);
}

TEST_P(PropertyListRoundTrip, TopLevelScalars) {
    for (const Value& v : {Value("s"), Value(1), Value(2.5), Value(true)}) {
        auto data = PropertyListSerialization::write(v, GetParam());
        ASSERT_TRUE(data.ok());
        auto back = PropertyListSerialization::read(*data);
        ASSERT_TRUE(back.ok());
        EXPECT_EQ(*back, v);
    }
}

TEST_P(PropertyListRoundTrip, NullAndNulCharactersAreRefused) {
    for (const Value& v :
         {Value(), Value::array({1, nullptr}), Value::dict({{"k", nullptr}}),
          Value(std::string("a\0b", 3)), Value::dict({{std::string("k\0", 2), 1}})}) {
        auto r = PropertyListSerialization::write(v, GetParam());
        ASSERT_FALSE(r.ok()) << v.description();
        EXPECT_EQ(r.error().domain(), "NSCocoaErrorDomain");
        EXPECT_EQ(r.error().code(), 3851);
    }
}

TEST_P(PropertyListRoundTrip, InvalidUTF8IsRepairedOnWrite) {
    auto data = PropertyListSerialization::write(Value::array({"a\xFF"
                                                               "b"}),
                                                 GetParam());
    ASSERT_TRUE(data.ok());
    auto back = PropertyListSerialization::read(*data);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back->at(0), Value("a\xEF\xBF\xBD"
                                 "b"));
}

TEST_P(PropertyListRoundTrip, DatesOutsideTheStoredSpanAreClamped) {
    auto data =
        PropertyListSerialization::write(Value::array({ns::Date::distantFuture()}), GetParam());
    ASSERT_TRUE(data.ok());
    auto back = PropertyListSerialization::read(*data);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back->at(0).date()->timeIntervalSinceReferenceDate(),
              double(std::numeric_limits<int32_t>::max()));
}

TEST_P(PropertyListRoundTrip, DatesKeepMicrosecondsInBinaryAndSecondsInXML) {
    for (double t : {0.25, -1.75, 123456.5, -86400.000001}) {
        auto data = PropertyListSerialization::write(
            Value::array({ns::Date::fromTimeIntervalSinceReferenceDate(t)}), GetParam());
        ASSERT_TRUE(data.ok());
        auto back = PropertyListSerialization::read(*data);
        ASSERT_TRUE(back.ok());
        const double expected = GetParam() == Format::Binary ? t : std::trunc(t);
        EXPECT_NEAR(back->at(0).date()->timeIntervalSinceReferenceDate(), expected, 1e-6) << t;
    }
    // Just before 2001 the fraction goes, but never the sign.
    auto data = PropertyListSerialization::write(
        Value::array({ns::Date::fromTimeIntervalSinceReferenceDate(-0.75)}), GetParam());
    ASSERT_TRUE(data.ok());
    EXPECT_EQ(
        PropertyListSerialization::read(*data)->at(0).date()->timeIntervalSinceReferenceDate(),
        -1.0);
}

INSTANTIATE_TEST_SUITE_P(Formats, PropertyListRoundTrip,
                         testing::Values(Format::XML, Format::Binary), [](const auto& info) {
                             return info.param == Format::XML ? "XML" : "Binary";
                         });

TEST(PropertyListSerialization, ReadsHandWrittenXML) {
    const std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<!-- a comment with <array> inside -->
	<key>API_KEY</key>
	<string>AIza-test</string>
	<key>IS_ANALYTICS_ENABLED</key>
	<false/>
	<key>COUNT</key>
	<integer>-12</integer>
	<key>RATIO</key>
	<real>0.5</real>
	<key>WHEN</key>
	<date>2001-01-01T00:00:00Z</date>
	<key>BLOB</key>
	<data>AAEC</data>
	<key>LIST</key>
	<array/>
</dict>
</plist>
)";
    auto v = PropertyListSerialization::read(ns::Data::fromString(xml));
    ASSERT_TRUE(v.ok()) << v.error().description();
    EXPECT_EQ((*v)["API_KEY"], Value("AIza-test"));
    EXPECT_EQ((*v)["IS_ANALYTICS_ENABLED"], Value(false));
    EXPECT_EQ((*v)["COUNT"], Value(-12));
    EXPECT_EQ((*v)["RATIO"], Value(0.5));
    EXPECT_EQ((*v)["WHEN"], Value(ns::Date::fromTimeIntervalSinceReferenceDate(0)));
    EXPECT_EQ((*v)["BLOB"], Value(ns::Data(std::vector<uint8_t>{0, 1, 2})));
    EXPECT_EQ((*v)["LIST"], Value(ns::Array{}));
}

TEST(PropertyListSerialization, GarbageAndEmptyInputAreErrors) {
    for (const std::string& text :
         {std::string(), std::string("not a plist"), std::string("<plist><dict><key>a</key>"),
          std::string("bplist00"), std::string("bplist00") + std::string(40, '\xFF'),
          std::string("<plist><integer>12</plist>"), std::string("\0\0\0", 3)}) {
        auto r = PropertyListSerialization::read(ns::Data::fromString(text));
        ASSERT_FALSE(r.ok()) << text;
        EXPECT_EQ(r.error().domain(), "NSCocoaErrorDomain");
        EXPECT_EQ(r.error().code(), 3840);
    }
}

// Builds nested arrays as a binary property list by hand: object i is an array holding a
// reference to object i + 1, the last one is empty.
std::string nestedBinary(size_t depth) {
    std::string out = "bplist00";
    std::vector<uint64_t> offsets;
    for (size_t i = 0; i < depth; ++i) {
        offsets.push_back(out.size());
        if (i + 1 < depth) {
            out += '\xA1';
            out += static_cast<char>((i + 1) >> 8);
            out += static_cast<char>((i + 1) & 0xFF);
        } else {
            out += '\xA0';
        }
    }
    const uint64_t table = out.size();
    for (uint64_t o : offsets) {
        for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((o >> shift) & 0xFF);
    }
    std::string trailer(32, '\0');
    trailer[6] = 4;  // offset size
    trailer[7] = 2;  // reference size
    for (int b = 0; b < 8; ++b) {
        trailer[8 + b] = static_cast<char>((uint64_t(depth) >> (56 - 8 * b)) & 0xFF);
        trailer[24 + b] = static_cast<char>((table >> (56 - 8 * b)) & 0xFF);
    }
    return out + trailer;
}

TEST(PropertyListSerialization, DeepNestingIsRefusedBeforeParsing) {
    auto shallow = PropertyListSerialization::read(ns::Data::fromString(nestedBinary(100)));
    ASSERT_TRUE(shallow.ok()) << shallow.error().description();
    EXPECT_EQ(shallow->at(0).at(0).count(), 1u);
    EXPECT_TRUE(PropertyListSerialization::read(ns::Data::fromString(nestedBinary(512))).ok());
    EXPECT_FALSE(PropertyListSerialization::read(ns::Data::fromString(nestedBinary(513))).ok());
    EXPECT_FALSE(PropertyListSerialization::read(ns::Data::fromString(nestedBinary(60000))).ok());

    std::string xml = "<plist>";
    for (int i = 0; i < 100000; ++i) xml += "<array>";
    for (int i = 0; i < 100000; ++i) xml += "</array>";
    xml += "</plist>";
    auto deep = PropertyListSerialization::read(ns::Data::fromString(xml));
    ASSERT_FALSE(deep.ok());
    EXPECT_EQ(deep.error().code(), 3840);
}

TEST(PropertyListSerialization, LoopingBinaryReferencesAreRefused) {
    std::string plist = nestedBinary(3);
    // Make the middle array contain itself.
    const size_t middle = 8 + 3;  // header, then the first array's three bytes
    plist[middle + 1] = 0;
    plist[middle + 2] = 1;
    EXPECT_FALSE(PropertyListSerialization::read(ns::Data::fromString(plist)).ok());
}

TEST(PropertyListSerialization, BinaryKeysWithNulAreRefused) {
    auto written = PropertyListSerialization::write(Value::dict({{"aXb", 1}}), Format::Binary);
    ASSERT_TRUE(written.ok());
    std::string bytes(written->chars());
    bytes[bytes.find("aXb") + 1] = '\0';
    auto r = PropertyListSerialization::read(ns::Data::fromString(bytes));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().code(), 3840);
}

TEST(PropertyListSerialization, FilesRoundTripAtomically) {
    testsupport::TempDir dir;
    const std::string path = (dir / "prefs.plist").string();
    const Value v = Value::dict({{"k", "v"}, {"n", 3}});
    ASSERT_TRUE(PropertyListSerialization::writeFileAtomically(path, v, Format::Binary).ok());
    auto back = PropertyListSerialization::readFile(path);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(*back, v);
    auto missing = PropertyListSerialization::readFile((dir / "none.plist").string());
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().domain(), "NSPOSIXErrorDomain");
    EXPECT_EQ(missing.error().code(), ENOENT);
}

}  // namespace
