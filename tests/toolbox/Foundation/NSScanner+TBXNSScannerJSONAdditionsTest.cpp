#include "toolbox/Foundation/NSScanner+TBXNSScannerJSONAdditions.h"

#include <gtest/gtest.h>

namespace {

TEST(JSONScanTest, CutsOneBalancedObjectOutOfText) {
    ns::Scanner scanner("  {\"a\":\"}\"} tail");
    std::string json;
    ASSERT_TRUE(tbx_scanJSONObjectString(scanner, &json));
    EXPECT_EQ(json, "{\"a\":\"}\"}");
    EXPECT_EQ(scanner.scanLocation(), 11u);
    // Nothing more to find: the next character can not start an object.
    EXPECT_FALSE(tbx_scanJSONObjectString(scanner, &json));
    EXPECT_EQ(scanner.scanLocation(), 12u);
}

TEST(JSONScanTest, StopsAtTheFirstCharacterThatCanNotStartIt) {
    ns::Scanner scanner("x{}");
    EXPECT_FALSE(tbx_scanJSONObjectString(scanner, nullptr));
    EXPECT_EQ(scanner.scanLocation(), 0u);
    ns::Scanner brackets("{[}");
    EXPECT_FALSE(tbx_scanJSONArrayString(brackets, nullptr));
    EXPECT_EQ(brackets.scanLocation(), 0u);
}

TEST(JSONScanTest, UnbalancedTextRunsToTheEnd) {
    ns::Scanner scanner("[1, [2, \"]\"]");
    EXPECT_FALSE(tbx_scanJSONArrayString(scanner, nullptr));
    EXPECT_EQ(scanner.scanLocation(), 12u);
    EXPECT_FALSE(tbx_scanJSONArrayString(scanner, nullptr));  // at the end already
    ns::Scanner blank(" \n\t");
    EXPECT_FALSE(tbx_scanJSONArrayString(blank, nullptr));
    EXPECT_EQ(blank.scanLocation(), 3u);
}

TEST(JSONScanTest, NestingEscapesAndUnitLocations) {
    // Nested arrays, an escaped quote inside a string, and a character beyond the basic
    // plane (two UTF-16 units) before the text.
    const std::string text = "\xE3\x80\x80[[\"\\\"]\"], [\"\xF0\x9F\x98\x80\"]] ,";
    ns::Scanner scanner(text);
    std::string json;
    ASSERT_TRUE(tbx_scanJSONArrayString(scanner, &json));
    EXPECT_EQ(json, "[[\"\\\"]\"], [\"\xF0\x9F\x98\x80\"]]");
    EXPECT_EQ(scanner.scanLocation(), 18u);
    // A trailing backslash inside a string is passed over without reading past the end.
    ns::Scanner cut("{\"\\");
    EXPECT_FALSE(tbx_scanJSONObjectString(cut, &json));
    EXPECT_EQ(cut.scanLocation(), 3u);
}

TEST(JSONScanTest, SkipsOnlyTheScannersSkippedCharacters) {
    ns::Scanner scanner("\xC2\xA0\xE2\x80\xA8{}");  // no-break space, line separator
    EXPECT_TRUE(tbx_scanJSONObjectString(scanner, nullptr));
    ns::Scanner strict(" {}");
    strict.setCharactersToBeSkipped(nullptr);
    EXPECT_FALSE(tbx_scanJSONObjectString(strict, nullptr));
    EXPECT_EQ(strict.scanLocation(), 0u);
}

}  // namespace
