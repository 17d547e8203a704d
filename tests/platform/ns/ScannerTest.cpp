#include "platform/ns/Scanner.h"

#include <gtest/gtest.h>

#include "platform/ns/Exception.h"

namespace {

TEST(ScannerTest, LocationCountsUTF16Units) {
    ns::Scanner scanner(
        "a\xF0\x9F\x98\x80"
        "b");
    EXPECT_EQ(scanner.units().size(), 4u);
    EXPECT_EQ(scanner.scanLocation(), 0u);
    scanner.setScanLocation(4);
    EXPECT_EQ(scanner.scanLocation(), 4u);
    EXPECT_THROW(scanner.setScanLocation(5), ns::Exception);
}

TEST(ScannerTest, SkipsWhiteSpaceAndNewlinesByDefault) {
    ns::Scanner scanner("");
    for (char16_t u : {u' ', u'\t', u'\n', u'\r', u'\v', u'\f', char16_t{0x85}, char16_t{0xA0},
                       char16_t{0x2003}, char16_t{0x2028}, char16_t{0x3000}}) {
        EXPECT_TRUE(scanner.skips(u)) << int(u);
    }
    for (char16_t u : {u'a', u'{', char16_t{0}, char16_t{0x200B}, char16_t{0xFEFF}}) {
        EXPECT_FALSE(scanner.skips(u)) << int(u);
    }
    scanner.setCharactersToBeSkipped([](char16_t u) { return u == u'-'; });
    EXPECT_TRUE(scanner.skips(u'-'));
    EXPECT_FALSE(scanner.skips(u' '));
}

}  // namespace
