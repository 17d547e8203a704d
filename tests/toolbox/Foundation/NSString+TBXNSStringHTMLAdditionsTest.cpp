#include "toolbox/Foundation/NSString+TBXNSStringHTMLAdditions.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/ns/UTF16.h"

namespace {

TEST(HTMLAdditionsTest, TablesHoldEveryEntityOnceSortedByUnit) {
    ASSERT_EQ(kTBXHTMLEscapeTable.size(), 253u);
    ASSERT_EQ(kTBXHTMLSpecialEscapeTable.size(), 33u);
    std::set<std::string_view> names;
    std::set<char16_t> units;
    for (const auto& e : kTBXHTMLEscapeTable) {
        names.insert(e.escapeSequence);
        units.insert(e.uchar);
        EXPECT_EQ(e.escapeSequence.front(), '&');
        EXPECT_EQ(e.escapeSequence.back(), ';');
        // Each entity reads back as its own character.
        std::string ch;
        ns::appendUTF8(ch, e.uchar);
        EXPECT_EQ(tbx_stringByUnescapingFromHTML(e.escapeSequence), ch) << e.escapeSequence;
    }
    EXPECT_EQ(names.size(), 253u);
    EXPECT_EQ(units.size(), 253u);
    for (const auto& e : kTBXHTMLSpecialEscapeTable) {
        EXPECT_TRUE(names.count(e.escapeSequence)) << e.escapeSequence;
    }
    EXPECT_EQ(kTBXHTMLEscapeTable[5].escapeSequence, "&nbsp;");
    EXPECT_EQ(kTBXHTMLEscapeTable.back().escapeSequence, "&diams;");
    EXPECT_EQ(kTBXHTMLEscapeTable.back().uchar, 9830);
    EXPECT_EQ(kTBXHTMLSpecialEscapeTable.back().escapeSequence, "&euro;");
}

TEST(HTMLAdditionsTest, EscapesWithTheShortOrTheFullTable) {
    EXPECT_EQ(tbx_stringByEscapingForHTML("<\xC3\xA9>"), "&lt;\xC3\xA9&gt;");
    EXPECT_EQ(tbx_stringByEscapingForAsciiHTML("<\xC3\xA9>"), "&lt;&eacute;&gt;");
    EXPECT_EQ(tbx_stringByEscapingForAsciiHTML("\xC4\x89"), "&#265;");
    EXPECT_EQ(tbx_stringByEscapingForHTML("a \"b\" & 'c' \xE2\x80\x94 \xE2\x82\xAC"),
              "a &quot;b&quot; &amp; &apos;c&apos; &mdash; &euro;");
    EXPECT_EQ(tbx_stringByEscapingForHTML(""), "");
    // Beyond the basic plane: two references, one per surrogate unit, or copied as it is.
    EXPECT_EQ(tbx_stringByEscapingForAsciiHTML("\xF0\x9F\x98\x80"), "&#55357;&#56832;");
    EXPECT_EQ(tbx_stringByEscapingForHTML("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
    // Malformed bytes never reach the output.
    EXPECT_EQ(tbx_stringByEscapingForHTML("a\xFF"), "a\xEF\xBF\xBD");
    EXPECT_EQ(tbx_stringByEscapingForHTML("\xF0\xBD\x93<"), "\xEF\xBF\xBD&lt;");
    EXPECT_EQ(tbx_stringByEscapingForAsciiHTML("a\xFF"), "a&#65533;");
}

struct Unescape {
    std::string input;
    std::string expected;
};

class HTMLUnescapeTest : public testing::TestWithParam<Unescape> {};

TEST_P(HTMLUnescapeTest, ResolvesOnlyWellFormedEntities) {
    EXPECT_EQ(tbx_stringByUnescapingFromHTML(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HTMLUnescapeTest,
    testing::Values(Unescape{"&#65;&#x42;&lt;", "AB<"}, Unescape{"&#X43;&#x6a;", "Cj"},
                    Unescape{"no entities", "no entities"}, Unescape{"&#0;", "&#0;"},
                    Unescape{"&#65536;", "&#65536;"}, Unescape{"&foo;", "&foo;"},
                    Unescape{"&amp", "&amp"}, Unescape{"&#x41 ;", "&#x41 ;"},
                    Unescape{"&#x;", "&#x;"}, Unescape{"&#;", "&#;"}, Unescape{"&;", "&;"},
                    Unescape{"&AMP;", "&AMP;"}, Unescape{"&#65535;", "&#65535;"},
                    Unescape{"&#65534;", "\xEF\xBF\xBE"},
                    // Surrogate halves stand for no character on their own.
                    Unescape{"&#55357;&#xDE00;", "&#55357;&#xDE00;"},
                    // Only 4 to 10 characters: leading zeros can push a reference out.
                    Unescape{"&#0000065;", "A"}, Unescape{"&#00000065;", "&#00000065;"},
                    Unescape{"&thetasym;", "\xCF\x91"}, Unescape{"&a&lt;", "&a<"},
                    Unescape{"&lt&gt;", "&lt>"}, Unescape{"a&b;c&nbsp;", "a&b;c\xC2\xA0"},
                    // A replacement never feeds another.
                    Unescape{"&amp;lt;", "&lt;"}, Unescape{"&amp;amp;", "&amp;"},
                    Unescape{"&#&#x35;;", "&#5;"}, Unescape{"&&amp;#65;", "&&#65;"}));

TEST(HTMLAdditionsTest, EscapeThenUnescapeRestoresBasicPlaneText) {
    const std::string text = "x < y & \"z\" \xC2\xA9 \xE2\x80\x94 \xCE\xA9 \xE4\xB8\xAD";
    EXPECT_EQ(tbx_stringByUnescapingFromHTML(tbx_stringByEscapingForAsciiHTML(text)), text);
    EXPECT_EQ(tbx_stringByUnescapingFromHTML(tbx_stringByEscapingForHTML(text)), text);
}

}  // namespace
