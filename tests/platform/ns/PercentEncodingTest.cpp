#include "platform/ns/PercentEncoding.h"

#include <gtest/gtest.h>

#include "platform/ns/CharacterSet.h"

namespace {

using ns::CharacterSet;

const std::string kAlnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

CharacterSet setOf(const std::string& chars) {
    return CharacterSet::characterSetWithCharactersInString(chars);
}

TEST(CharacterSet, PredefinedURLSetsHoldExactlyTheirRFCCharacters) {
    EXPECT_EQ(CharacterSet::alphanumericCharacterSet(), setOf(kAlnum));
    EXPECT_EQ(CharacterSet::URLUserAllowedCharacterSet(), setOf(kAlnum + "-._~!$&'()*+,;="));
    EXPECT_EQ(CharacterSet::URLPasswordAllowedCharacterSet(), setOf(kAlnum + "-._~!$&'()*+,;="));
    EXPECT_EQ(CharacterSet::URLHostAllowedCharacterSet(), setOf(kAlnum + "-._~!$&'()*+,;=:[]"));
    EXPECT_EQ(CharacterSet::URLPathAllowedCharacterSet(), setOf(kAlnum + "-._~!$&'()*+,;=:@/"));
    EXPECT_EQ(CharacterSet::URLQueryAllowedCharacterSet(), setOf(kAlnum + "-._~!$&'()*+,;=:@/?"));
    EXPECT_EQ(CharacterSet::URLFragmentAllowedCharacterSet(),
              setOf(kAlnum + "-._~!$&'()*+,;=:@/?"));
    EXPECT_EQ(ns::formUnreservedCharacterSet(), setOf(kAlnum + "-._~"));
    EXPECT_EQ(CharacterSet::URLLegalCharacterSet(), setOf(kAlnum + "-._~!$&'()*+,;=:/?#[]@"));
}

TEST(CharacterSet, BuildingInvertingAndRemoving) {
    CharacterSet set = setOf("ab\xC3\xA9");
    EXPECT_TRUE(set.characterIsMember('a'));
    EXPECT_FALSE(set.characterIsMember('c'));
    EXPECT_FALSE(set.characterIsMember(0xC3));  // non-ASCII text is not taken byte by byte

    CharacterSet inverted = set.invertedSet();
    EXPECT_FALSE(inverted.characterIsMember('a'));
    EXPECT_TRUE(inverted.characterIsMember('c'));
    EXPECT_TRUE(inverted.characterIsMember(0xC3));
    EXPECT_EQ(inverted.invertedSet(), set);

    set.formUnionWithCharacterSet(setOf("c"));
    EXPECT_TRUE(set.characterIsMember('c'));
    EXPECT_FALSE(set.setByRemovingCharactersInString("ac").characterIsMember('a'));
    EXPECT_TRUE(set.setByRemovingCharactersInString("ac").characterIsMember('b'));
}

struct EncodeRow {
    std::string text;
    const CharacterSet& allowed;
    std::string expected;
};

TEST(PercentEncoding, EncodesEveryByteOutsideTheSetInUpperCaseHex) {
    const CharacterSet argument =
        CharacterSet::URLLegalCharacterSet().setByRemovingCharactersInString("!*'();:@&=+$,/?%#[]");
    const EncodeRow rows[] = {
        {"a b&c/d", argument, "a%20b%26c%2Fd"},
        {"!*'();:@&=+$,/?%#[]~-._", argument,
         "%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D~-._"},
        {"a b%#?&=+\"<>\\^`{|}\x01\x7f", CharacterSet::URLLegalCharacterSet(),
         "a%20b%25#?&=+%22%3C%3E%5C%5E%60%7B%7C%7D%01%7F"},
        {"/a b/\xC3\xBC;x", CharacterSet::URLPathAllowedCharacterSet(), "/a%20b/%C3%BC;x"},
        {"a?b#c[d]", CharacterSet::URLPathAllowedCharacterSet(), "a%3Fb%23c%5Bd%5D"},
        {"k=v&x?/:@#[", CharacterSet::URLQueryAllowedCharacterSet(), "k=v&x?/:@%23%5B"},
        {"[::1]:80", CharacterSet::URLHostAllowedCharacterSet(), "[::1]:80"},
        {"u:s@r/", CharacterSet::URLUserAllowedCharacterSet(), "u%3As%40r%2F"},
        {"\xE2\x82\xAC", CharacterSet::alphanumericCharacterSet().invertedSet(), "\xE2\x82\xAC"},
        {"a1-", CharacterSet::alphanumericCharacterSet().invertedSet(), "%61%31-"},
        {std::string("\0\xff", 2), CharacterSet(), "%00%FF"},
        {"", CharacterSet(), ""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ns::percentEncode(row.text, row.allowed), row.expected) << row.text;
        EXPECT_EQ(ns::percentDecodeBytes(row.expected), row.text);
    }
}

TEST(PercentEncoding, DecodesOnlyWellFormedEscapesOfUTF8) {
    EXPECT_EQ(ns::percentDecode("a%20b"), "a b");
    EXPECT_EQ(ns::percentDecode("%E2%82%AC"), "\xE2\x82\xAC");
    EXPECT_EQ(ns::percentDecode("%c3%bc"), "\xC3\xBC");
    EXPECT_EQ(ns::percentDecode("a+b"), "a+b");
    EXPECT_EQ(ns::percentDecode("\xC3\xA9"), "\xC3\xA9");
    EXPECT_EQ(ns::percentDecode("%2525"), "%25");
    EXPECT_EQ(ns::percentDecode(""), "");
    EXPECT_EQ(ns::percentDecode("%F0%9F%98%80"), "\xF0\x9F\x98\x80");

    const char* rejected[] = {
        "%",
        "%4",
        "a%zz",
        "%G0",
        "%FF",
        "%C3",
        "%C0%AF",        // overlong "/"
        "%ED%A0%80",     // a surrogate
        "%F4%90%80%80",  // above U+10FFFF
        "%80",
        "\xFF",
    };
    for (const char* text : rejected) EXPECT_EQ(ns::percentDecode(text), std::nullopt) << text;

    EXPECT_EQ(ns::percentDecodeBytes("%FF%00"), std::string("\xFF\0", 2));
    EXPECT_EQ(ns::percentDecodeBytes("%F"), std::nullopt);
}

}  // namespace
