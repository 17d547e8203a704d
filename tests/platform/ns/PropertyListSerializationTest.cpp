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

TEST_P(PropertyListRoundTrip, NullIsRefused) {
    for (const Value& v : {Value(), Value::array({1, nullptr}), Value::dict({{"k", nullptr}})}) {
        auto r = PropertyListSerialization::write(v, GetParam());
        ASSERT_FALSE(r.ok()) << v.description();
        EXPECT_EQ(r.error().domain(), "NSCocoaErrorDomain");
        EXPECT_EQ(r.error().code(), 3851);
    }
}

// One rule for NUL: kept wherever the format can carry it (binary), refused where it cannot
// (XML 1.0 has no way to write it), never cut short.
TEST_P(PropertyListRoundTrip, NulCharactersAreKeptOrRefusedNeverCut) {
    for (const Value& v : {Value(std::string("a\0b", 3)), Value(std::string("\xC3\xA9\0x", 4)),
                           Value::dict({{std::string("k\0", 2), 1}})}) {
        auto r = PropertyListSerialization::write(v, GetParam());
        if (GetParam() == Format::XML) {
            ASSERT_FALSE(r.ok()) << v.description();
            EXPECT_EQ(r.error().code(), 3851);
            continue;
        }
        ASSERT_TRUE(r.ok()) << r.error().description();
        auto back = PropertyListSerialization::read(*r);
        ASSERT_TRUE(back.ok()) << back.error().description();
        EXPECT_EQ(*back, v);
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

TEST_P(PropertyListRoundTrip, DatesKeepTheirWholeRange) {
    const double after2069 = 2147483648.0 + 0.5;  // 2^31 s after 2001, the old 32-bit limit
    for (const ns::Date& d : {ns::Date::distantFuture(), ns::Date::distantPast(),
                              ns::Date::fromTimeIntervalSinceReferenceDate(after2069),
                              ns::Date::fromTimeIntervalSince1970(2147483648.0),
                              ns::Date::fromTimeIntervalSinceReferenceDate(-4e9)}) {
        auto data = PropertyListSerialization::write(Value::array({d}), GetParam());
        ASSERT_TRUE(data.ok()) << data.error().description();
        auto back = PropertyListSerialization::read(*data);
        ASSERT_TRUE(back.ok()) << back.error().description();
        const double t = d.timeIntervalSinceReferenceDate();
        EXPECT_EQ(back->at(0).date()->timeIntervalSinceReferenceDate(),
                  GetParam() == Format::Binary ? t : std::floor(t))
            << d.description();
    }
}

TEST_P(PropertyListRoundTrip, DatesKeepMicrosecondsInBinaryAndSecondsInXML) {
    // XML dates name the second that holds the instant: the one below it, before 2001 too.
    for (double t : {0.25, -1.75, 123456.5, -86400.000001, -0.75, -1e-6, -1e-300, 0.1}) {
        auto data = PropertyListSerialization::write(
            Value::array({ns::Date::fromTimeIntervalSinceReferenceDate(t)}), GetParam());
        ASSERT_TRUE(data.ok());
        auto back = PropertyListSerialization::read(*data);
        ASSERT_TRUE(back.ok());
        const double expected = GetParam() == Format::Binary ? t : std::floor(t);
        EXPECT_EQ(back->at(0).date()->timeIntervalSinceReferenceDate(), expected) << t;
    }
}

TEST_P(PropertyListRoundTrip, XMLCannotHoldYearsBeyondFourDigits) {
    auto far = PropertyListSerialization::write(
        Value::array({ns::Date::fromTimeIntervalSince1970(253402300800.0)}), GetParam());
    auto nan = PropertyListSerialization::write(
        Value::array({ns::Date::fromTimeIntervalSince1970(std::nan(""))}), GetParam());
    EXPECT_EQ(far.ok(), GetParam() == Format::Binary);
    EXPECT_EQ(nan.ok(), GetParam() == Format::Binary);
    if (!far.ok()) EXPECT_EQ(far.error().code(), 3851);
}

TEST_P(PropertyListRoundTrip, NegativeZeroAndSpecialRealsKeepTheirBits) {
    const double inf = std::numeric_limits<double>::infinity();
    auto data = PropertyListSerialization::write(
        Value::array({-0.0, inf, -inf, std::nan(""), 5e-324, 0.1}), GetParam());
    ASSERT_TRUE(data.ok());
    auto back = PropertyListSerialization::read(*data);
    ASSERT_TRUE(back.ok()) << back.error().description();
    EXPECT_TRUE(std::signbit(*back->at(0).number()));
    EXPECT_EQ(*back->at(1).number(), inf);
    EXPECT_EQ(*back->at(2).number(), -inf);
    EXPECT_TRUE(std::isnan(*back->at(3).number()));
    EXPECT_EQ(*back->at(4).number(), 5e-324);
    EXPECT_EQ(*back->at(5).number(), 0.1);
}

TEST_P(PropertyListRoundTrip, WritingDeeperThanTheReadingLimitIsRefused) {
    auto nested = [](size_t depth) {
        Value v = Value::array({});
        for (size_t i = 1; i < depth; ++i) v = Value::array({v});
        return v;
    };
    auto deepest =
        PropertyListSerialization::write(nested(PropertyListSerialization::kMaxDepth), GetParam());
    ASSERT_TRUE(deepest.ok());
    EXPECT_TRUE(PropertyListSerialization::read(*deepest).ok());
    auto tooDeep = PropertyListSerialization::write(
        nested(PropertyListSerialization::kMaxDepth + 1), GetParam());
    ASSERT_FALSE(tooDeep.ok());
    EXPECT_EQ(tooDeep.error().code(), 3851);
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

TEST(PropertyListSerialization, BinaryKeysKeepTheirNulCharacters) {
    auto written = PropertyListSerialization::write(Value::dict({{"aXb", 1}}), Format::Binary);
    ASSERT_TRUE(written.ok());
    std::string bytes(written->chars());
    bytes[bytes.find("aXb") + 1] = '\0';
    auto r = PropertyListSerialization::read(ns::Data::fromString(bytes));
    ASSERT_TRUE(r.ok()) << r.error().description();
    EXPECT_EQ(*r, Value::dict({{std::string("a\0b", 3), 1}}));
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

// A document whose fourth line is the element under test.
std::string xmlWithElementOnLine4(const std::string& element) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<array>\n\t" +
           element + "\n</array>\n</plist>\n";
}

TEST(PropertyListSerialization, XMLValuesOutsideTheirElementsFormAreErrorsWithTheirLine) {
    const char* const refused[] = {
        "<date>2024-01-01T12:00:00+01:00</date>",  // the format's dates are UTC only
        "<date>2024-02Z</date>",
        "<date>2024-02-30T00:00:00Z</date>",
        "<date>2023-02-29T00:00:00Z</date>",
        "<date>2024-01-01T24:00:00Z</date>",
        "<date>2016-12-31T23:59:60Z</date>",
        "<date>2024-01-01T12:00:00.5Z</date>",
        "<date></date>",
        "<string>&#55357;&#56832;</string>",  // surrogates are no characters
        "<string>&#1;</string>",
        "<string>&nbsp;</string>",
        "<data>AA!A</data>",
        "<data>AAE</data>",
        "<data>A===</data>",
        "<integer>1.5</integer>",
        "<integer></integer>",
        "<integer> </integer>",
        "<integer>18446744073709551616</integer>",
        "<integer>-9223372036854775809</integer>",
        "<integer>0x10000000000000000</integer>",
        "<integer>0b11</integer>",
        "<integer>0x</integer>",
        "<integer>--1</integer>",
        "<integer>1e3</integer>",
        "<real></real>",
        "<real>one</real>",
        "<real>0x1p3</real>",
        "<real>1.5.1</real>",
        "<true>no</true>",
        "<float>1</float>",
        "<key>k</key>",
        "<dict><key>a</key></dict>",
        "<dict><key>a</key><key>b</key><true/></dict>",
        "<dict><string>no key</string></dict>",
        "<array>text</array>",
    };
    for (const char* element : refused) {
        auto r =
            PropertyListSerialization::read(ns::Data::fromString(xmlWithElementOnLine4(element)));
        ASSERT_FALSE(r.ok()) << element << " read as " << r->description();
        EXPECT_EQ(r.error().code(), 3840) << element;
        EXPECT_NE(r.error().description().find("line 4"), std::string::npos)
            << element << ": " << r.error().description();
    }
}

TEST(PropertyListSerialization, XMLIntegersAreDecimalOrHexadecimal) {
    const std::pair<const char*, Value> accepted[] = {
        {"010", 10},
        {"0x1F", 31},
        {"0X1f", 31},
        {"-0x10", -16},
        {"+7", 7},
        {" 42\n", 42},
        {"-0", 0},
        {"18446744073709551615", 18446744073709551615ULL},
        {"0xFFFFFFFFFFFFFFFF", 18446744073709551615ULL},
        {"-9223372036854775808", std::numeric_limits<long long>::min()},
    };
    for (const auto& [text, expected] : accepted) {
        auto r = PropertyListSerialization::read(
            ns::Data::fromString(std::string("<plist><integer>") + text + "</integer></plist>"));
        ASSERT_TRUE(r.ok()) << text << ": " << r.error().description();
        EXPECT_EQ(*r, expected) << text;
        EXPECT_EQ(r->type(), expected.type()) << text;
    }
}

TEST(PropertyListSerialization, XMLDatesAndRealsReadExactly) {
    auto r = PropertyListSerialization::read(ns::Data::fromString(
        "<plist><array><date>2069-01-19T03:14:08Z</date><date>0000-12-30T00:00:00Z</date>"
        "<date>2024-02-29T23:59:59Z</date><real>-0.0</real><real>+1e400</real>"
        "<real>-Infinity</real><real>.5</real><real>7</real></array></plist>"));
    ASSERT_TRUE(r.ok()) << r.error().description();
    EXPECT_EQ(r->at(0).date()->timeIntervalSinceReferenceDate(), 2147483648.0);
    EXPECT_EQ(*r->at(1).date(), ns::Date::distantPast());
    EXPECT_EQ(r->at(2).date()->timeIntervalSince1970(), 1709251199.0);
    EXPECT_TRUE(std::signbit(*r->at(3).number()));
    EXPECT_EQ(*r->at(4).number(), std::numeric_limits<double>::infinity());
    EXPECT_EQ(*r->at(5).number(), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(r->at(6), Value(0.5));
    EXPECT_EQ(r->at(7).type(), Value::Type::Double);
}

TEST(PropertyListSerialization, XMLWithAByteOrderMarkIsRead) {
    auto r = PropertyListSerialization::read(ns::Data::fromString(
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
        "<string>x</string></plist>"));
    ASSERT_TRUE(r.ok()) << r.error().description();
    EXPECT_EQ(*r, Value("x"));
}

TEST(PropertyListSerialization, XMLEntityDeclarationsAreRefused) {
    auto r = PropertyListSerialization::read(ns::Data::fromString(
        "<!DOCTYPE plist [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>\n"
        "<plist><string>&b;</string></plist>"));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().code(), 3840);
}

// XML 1.0 has no form for most control characters (not even a character reference), so
// writing them would give a file that no reader takes; a carriage return has one.
TEST(PropertyListSerialization, XMLWriterRefusesWhatXMLCannotHoldAndEscapesCarriageReturns) {
    for (const char* text :
         {"\x01", "a\x08", "\x0B", "\x0C", "\x1F", "\xEF\xBF\xBE", "x\xEF\xBF\xBFy"}) {
        for (const Value& v : {Value(text), Value::dict({{text, 1}})}) {
            auto r = PropertyListSerialization::write(v, Format::XML);
            ASSERT_FALSE(r.ok()) << v.description();
            EXPECT_EQ(r.error().code(), 3851);
            EXPECT_TRUE(PropertyListSerialization::write(v, Format::Binary).ok());
        }
    }
    const Value v = Value::dict({{"k\r", "a\rb\r\nc\td\n\xEF\xBF\xBD"}});
    auto r = PropertyListSerialization::write(v, Format::XML);
    ASSERT_TRUE(r.ok()) << r.error().description();
    EXPECT_EQ(r->chars().find('\r'), std::string::npos);
    EXPECT_NE(r->chars().find("a&#13;b&#13;\nc\td"), std::string::npos) << r->chars();
    auto back = PropertyListSerialization::read(*r);
    ASSERT_TRUE(back.ok()) << back.error().description();
    EXPECT_EQ(*back, v);
}

TEST(PropertyListSerialization, XMLAndBinaryShareOneNestingLimit) {
    auto xmlNested = [](size_t depth) {
        std::string xml = "<plist>";
        for (size_t i = 0; i < depth; ++i) xml += "<array>";
        xml += "<true/>";
        for (size_t i = 0; i < depth; ++i) xml += "</array>";
        return xml + "</plist>";
    };
    const size_t limit = PropertyListSerialization::kMaxDepth;
    EXPECT_TRUE(PropertyListSerialization::read(ns::Data::fromString(xmlNested(limit))).ok());
    EXPECT_FALSE(PropertyListSerialization::read(ns::Data::fromString(xmlNested(limit + 1))).ok());
    EXPECT_TRUE(PropertyListSerialization::read(ns::Data::fromString(nestedBinary(limit))).ok());
    EXPECT_FALSE(
        PropertyListSerialization::read(ns::Data::fromString(nestedBinary(limit + 1))).ok());
}

// A binary plist holding one 16-byte integer with the given halves.
std::string sixteenByteInteger(uint64_t high, uint64_t low) {
    auto written =
        PropertyListSerialization::write(Value::array({18446744073709551615ULL}), Format::Binary);
    std::string bytes(written->chars());
    const size_t at = bytes.find('\x14') + 1;
    for (int i = 0; i < 8; ++i) {
        bytes[at + i] = static_cast<char>(high >> (56 - 8 * i));
        bytes[at + 8 + i] = static_cast<char>(low >> (56 - 8 * i));
    }
    return bytes;
}

TEST(PropertyListSerialization, BinarySixteenByteIntegersAreSigned128BitValues) {
    constexpr uint64_t kOnes = ~uint64_t{0};
    constexpr uint64_t kTop = uint64_t{1} << 63;
    const std::tuple<uint64_t, uint64_t, std::optional<Value>> cases[] = {
        {0, 5, Value(5)},
        {0, kTop, Value(9223372036854775808ULL)},
        {0, kOnes, Value(18446744073709551615ULL)},
        {kOnes, kOnes, Value(-1)},
        {kOnes, kTop, Value(std::numeric_limits<long long>::min())},
        {1, 0, std::nullopt},             // 2^64
        {kOnes, kTop - 1, std::nullopt},  // -2^63 - 1
        {kTop, 0, std::nullopt},          // -2^127
    };
    for (const auto& [high, low, expected] : cases) {
        const std::string bytes = sixteenByteInteger(high, low);
        auto r = PropertyListSerialization::read(ns::Data::fromString(bytes));
        if (!expected) {
            ASSERT_FALSE(r.ok()) << high << " " << low << " read as " << r->description();
            EXPECT_EQ(r.error().code(), 3840);
            EXPECT_TRUE(PropertyListSerialization::binaryRefusal(ns::Data::fromString(bytes)));
            continue;
        }
        ASSERT_TRUE(r.ok()) << r.error().description();
        EXPECT_EQ(r->at(0), *expected);
        EXPECT_EQ(r->at(0).type(), expected->type());
        // Readers of the library's nodes see the low 64 bits, so only int64 values pass.
        EXPECT_EQ(PropertyListSerialization::binaryRefusal(ns::Data::fromString(bytes)).has_value(),
                  expected->type() == Value::Type::Unsigned);
    }
}

}  // namespace
