#include "toolbox/Foundation/NSString+TBXNSStringXMLAdditions.h"

#include <gtest/gtest.h>

namespace {

TEST(XMLAdditionsTest, RemovesCharactersXMLDoesNotAllow) {
    EXPECT_EQ(tbx_stringBySanitizingToXMLSpec(std::string("a\x01"
                                                          "b\x0b"
                                                          "c\td",
                                                          7)),
              "abc\td");
    EXPECT_EQ(tbx_stringBySanitizingToXMLSpec(std::string("\0\r\n", 3)), "\r\n");
    EXPECT_EQ(tbx_stringBySanitizingToXMLSpec(""), "");
    // Beyond the basic plane, U+FFFE and U+FFFF go; the rest of the plane stays.
    EXPECT_EQ(tbx_stringBySanitizingToXMLSpec("a\xF0\x9F\x98\x80"
                                              "b\xEF\xBF\xBE\xEF\xBF\xBF"),
              "ab");
    EXPECT_EQ(tbx_stringBySanitizingToXMLSpec("\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBD"),
              "\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBD");
    // Malformed bytes become U+FFFD rather than passing through.
    EXPECT_EQ(tbx_stringBySanitizingToXMLSpec("a\xC3"), "a\xEF\xBF\xBD");
    EXPECT_EQ(tbx_stringBySanitizingToXMLSpec("a\xF0\xBD\x93"), "a\xEF\xBF\xBD");
    // Markup is kept unless escaping is asked for.
    EXPECT_EQ(tbx_stringBySanitizingToXMLSpec("<a&b>"), "<a&b>");
}

TEST(XMLAdditionsTest, EscapesTheFiveSpecialCharacters) {
    EXPECT_EQ(tbx_stringBySanitizingAndEscapingForXML("<a&b>"), "&lt;a&amp;b&gt;");
    EXPECT_EQ(tbx_stringBySanitizingAndEscapingForXML("\"'\x02"), "&quot;&apos;");
    EXPECT_EQ(tbx_stringBySanitizingAndEscapingForXML("plain \xC3\xA9"), "plain \xC3\xA9");
}

}  // namespace
