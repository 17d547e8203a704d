#include "platform/ns/UTF16.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/ns/UTF8.h"

namespace {

const std::string kFFFD = "\xEF\xBF\xBD";
// "a", e-acute (2 bytes), euro (3 bytes), grinning face (4 bytes, a surrogate pair), "z"
const std::string kMixed = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";

TEST(UTF16Test, LengthCountsSurrogatePairsAsTwoUnits) {
    EXPECT_EQ(ns::utf16Length(""), 0u);
    EXPECT_EQ(ns::utf16Length("hello"), 5u);
    EXPECT_EQ(ns::utf16Length(kMixed), 6u);
    EXPECT_EQ(ns::toUTF16(kMixed), (std::u16string{u'a', 0xE9, 0x20AC, 0xD83D, 0xDE00, u'z'}));
}

TEST(UTF16Test, RoundTripsEveryPlane) {
    std::string all;
    for (char32_t c :
         {0x0u, 0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xD7FFu, 0xE000u, 0xFFFFu, 0x10000u, 0x10FFFFu}) {
        ns::appendUTF8(all, c);
    }
    EXPECT_EQ(ns::fromUTF16(ns::toUTF16(all)), all);
    EXPECT_TRUE(ns::isValidUTF8(all));
    EXPECT_TRUE(ns::isValidUTF8(""));
    EXPECT_EQ(ns::utf16Length(all), ns::toUTF16(all).size());
}

struct Malformed {
    std::string input;
    std::string expected;
};

class UTF16MalformedTest : public testing::TestWithParam<Malformed> {};

TEST_P(UTF16MalformedTest, BecomesReplacementCharacters) {
    const auto& p = GetParam();
    EXPECT_EQ(ns::fromUTF16(ns::toUTF16(p.input)), p.expected);
    EXPECT_FALSE(ns::isValidUTF8(p.input));
    EXPECT_FALSE(ns::isValidUTF8("ok" + p.input + "ok"));
    EXPECT_EQ(ns::utf16Length(p.input), ns::toUTF16(p.input).size());
    EXPECT_EQ(ns::utf16Substring(p.input, 0, SIZE_MAX), p.expected);
    EXPECT_EQ(ns::utf8::repaired(p.input), p.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UTF16MalformedTest,
    testing::Values(Malformed{"\x80", kFFFD},                          // stray continuation
                    Malformed{"a\xC3", "a" + kFFFD},                   // cut short at the end
                    Malformed{"\xE2\x82z", kFFFD + "z"},               // one U+FFFD per prefix
                    Malformed{"\xC0\xAF", kFFFD + kFFFD},              // overlong
                    Malformed{"\xED\xA0\x80", kFFFD + kFFFD + kFFFD},  // encoded surrogate
                    Malformed{"\xF4\x90\x80\x80", kFFFD + kFFFD + kFFFD + kFFFD},  // > U+10FFFF
                    Malformed{"\xF0\xBD\x93", kFFFD},                              // 3 of 4 bytes
                    Malformed{"\xF0\x9F\x98", kFFFD}, Malformed{"\xFF", kFFFD},
                    // The Unicode Standard's example of maximal subparts.
                    Malformed{
                        "a\xF1\x80\x80\xE1\x80\xC2"
                        "b\x80"
                        "c\x80\xBF"
                        "d",
                        "a" + kFFFD + kFFFD + kFFFD + "b" + kFFFD + "c" + kFFFD + kFFFD + "d"}));

TEST(UTF16Test, LoneSurrogatesBecomeReplacementCharacters) {
    EXPECT_EQ(ns::fromUTF16(std::u16string{0xD83D}), kFFFD);
    EXPECT_EQ(ns::fromUTF16(std::u16string{0xDE00, u'a'}), kFFFD + "a");
    EXPECT_EQ(ns::fromUTF16(std::u16string{0xD83D, 0xD83D, 0xDE00}), kFFFD + "\xF0\x9F\x98\x80");
}

TEST(UTF16Test, OffsetsConvertBothWays) {
    // unit offsets 0 1 2 3 (5) 6 -> byte offsets 0 1 3 6 10 11
    const size_t units[] = {0, 1, 2, 3, 5, 6};
    const size_t bytes[] = {0, 1, 3, 6, 10, 11};
    for (size_t k = 0; k < 6; ++k) {
        EXPECT_EQ(ns::utf8OffsetForUTF16Offset(kMixed, units[k]), bytes[k]) << k;
        EXPECT_EQ(ns::utf16OffsetForUTF8Offset(kMixed, bytes[k]), units[k]) << k;
    }
    // Inside a character: round down to its start; past the end: clamp.
    EXPECT_EQ(ns::utf8OffsetForUTF16Offset(kMixed, 4), 6u);
    EXPECT_EQ(ns::utf16OffsetForUTF8Offset(kMixed, 8), 3u);
    EXPECT_EQ(ns::utf16OffsetForUTF8Offset(kMixed, 2), 1u);
    EXPECT_EQ(ns::utf8OffsetForUTF16Offset(kMixed, 99), kMixed.size());
    EXPECT_EQ(ns::utf16OffsetForUTF8Offset(kMixed, 99), 6u);
}

TEST(UTF16Test, SubstringByUnitRange) {
    EXPECT_EQ(ns::utf16Substring(kMixed, 1, 2), "\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(ns::utf16Substring(kMixed, 3, 2), "\xF0\x9F\x98\x80");
    EXPECT_EQ(ns::utf16Substring(kMixed, 5, 100), "z");
    EXPECT_EQ(ns::utf16Substring(kMixed, 6, 1), "");
    EXPECT_EQ(ns::utf16Substring(kMixed, 100, 1), "");
    // Splitting the pair leaves a lone half on each side.
    EXPECT_EQ(ns::utf16Substring(kMixed, 3, 1), kFFFD);
    EXPECT_EQ(ns::utf16Substring(kMixed, 4, 2), kFFFD + "z");
}

}  // namespace
