#include "platform/ns/StringsFile.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/ns/PropertyListSerialization.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {

using ns::StringsFile;
using ns::StringsTable;

StringsTable parsed(std::string_view text) {
    auto table = StringsFile::parseText(text);
    EXPECT_TRUE(table.ok()) << text;
    return table.ok() ? *table : StringsTable{};
}

TEST(StringsFile, ReadsEntriesCommentsEscapesAndUnquotedKeys) {
    auto table = parsed(R"(
        /* A comment, "with" = quotes; */
        "greeting" = "Hello, \"you\"\n\tback\\slash";  // trailing comment
        plain_key = "unquoted key";
        "Loading..." = Loading...;
        "self";
        "dup" = "first"; "dup" = "second";
        "é" = "\u00e9\U00E8";
    )");
    EXPECT_EQ(table, (StringsTable{{"greeting", "Hello, \"you\"\n\tback\\slash"},
                                   {"plain_key", "unquoted key"},
                                   {"Loading...", "Loading..."},
                                   {"self", "self"},
                                   {"dup", "second"},
                                   {"é", "éè"}}));
}

TEST(StringsFile, UnicodeEscapesJoinSurrogatePairsAndReplaceLoneHalves) {
    auto table = parsed(R"("pair" = "\UD83D\UDE00"; "lone" = "a\uD800b"; "octal" = "\101";)");
    EXPECT_EQ(table["pair"], "\xF0\x9F\x98\x80");
    EXPECT_EQ(table["lone"],
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(table["octal"], "A");
}

TEST(StringsFile, MalformedTextIsAnErrorNamingTheLine) {
    const char* cases[] = {
        "\"a\" = \"b\"",        // no semicolon
        "\"a\" = \"b",          // unterminated string
        "/* never closed",      // unterminated comment
        "\"a\" = ;",            // missing value
        "= \"b\";",             // missing key
        "\"a\" \"b\";",         // missing "="
        "\"a\" = \"b\";\n{ }",  // stray braces
        "\"a\" = \"b\\",        // escape at the end
    };
    for (const char* text : cases) {
        auto table = StringsFile::parseText(text);
        ASSERT_FALSE(table.ok()) << text;
        EXPECT_EQ(table.error().code(), 3840);
        EXPECT_NE(table.error().userInfo().at("NSDebugDescription").stringValue().find("line"),
                  std::string::npos);
    }
    EXPECT_TRUE(parsed("").empty());
    EXPECT_TRUE(parsed("  // only a comment").empty());
}

TEST(StringsFile, DecodesByteOrderMarksAndPropertyLists) {
    std::string utf16le("\xFF\xFE", 2);
    std::string utf16be("\xFE\xFF", 2);
    for (char c : std::string("\"k\" = \"v\";")) {
        utf16le += c;
        utf16le += '\0';
        utf16be += '\0';
        utf16be += c;
    }
    StringsTable expected{{"k", "v"}};
    EXPECT_EQ(*StringsFile::parse(ns::Data::fromString(utf16le)), expected);
    EXPECT_EQ(*StringsFile::parse(ns::Data::fromString(utf16be)), expected);
    EXPECT_EQ(*StringsFile::parse(ns::Data::fromString("\xEF\xBB\xBF\"k\" = \"v\";")), expected);
    EXPECT_FALSE(StringsFile::parse(ns::Data::fromString(utf16le + "x")).ok());

    ns::Value dict = ns::Value::dict({{"k", "v"}, {"number", 3}});
    for (auto format : {ns::PropertyListSerialization::Format::XML,
                        ns::PropertyListSerialization::Format::Binary}) {
        auto data = ns::PropertyListSerialization::write(dict, format);
        ASSERT_TRUE(data.ok());
        EXPECT_EQ(*StringsFile::parse(*data), expected);  // non-strings are skipped
    }
    auto list = ns::PropertyListSerialization::write(ns::Value::array({"k"}),
                                                     ns::PropertyListSerialization::Format::XML);
    EXPECT_FALSE(StringsFile::parse(*list).ok());
}

TEST(StringsFile, InvalidUtf8BecomesReplacementCharacters) {
    auto table = parsed("\"k\" = \"a\xFF\";");
    EXPECT_EQ(table["k"], "a\xEF\xBF\xBD");
}

TEST(StringsFile, LoadGivesAnEmptyTableForMissingAndMalformedFiles) {
    testsupport::TempDir dir;
    testsupport::LogCapture log;
    EXPECT_TRUE(StringsFile::load(dir.str() + "/none.strings").empty());
    EXPECT_TRUE(log.entries().empty());
    log.expect("Ignoring the malformed strings file");
    std::ofstream(dir.str() + "/bad.strings") << "\"a\" = ";
    EXPECT_TRUE(StringsFile::load(dir.str() + "/bad.strings").empty());
    EXPECT_TRUE(log.contains("bad.strings"));
}

}  // namespace
