#include "toolbox/Foundation/NSDK_TBXRegex.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "toolbox/Foundation/NSDK_TBXRegexEnumerator.h"
#include "toolbox/Foundation/NSString+TBXRegexAdditions.h"

namespace {

using Opt = std::optional<std::string>;

// "text" for a match segment, "(text)" for the text between matches.
std::vector<std::string> segments(const std::shared_ptr<NSDK_TBXRegexEnumerator>& e) {
    std::vector<std::string> out;
    while (auto s = e->nextObject()) {
        out.push_back(s->isMatch() ? s->string() : "(" + s->string() + ")");
        if (out.size() > 1000) break;
    }
    return out;
}

std::vector<std::string> all(std::string_view pattern, std::string_view text,
                             uint64_t options = 0) {
    return segments(
        NSDK_TBXRegex::regexWithPattern(pattern, options)->segmentEnumeratorForString(text));
}

TEST(RegexTest, WholeAndPartialMatches) {
    auto regex = NSDK_TBXRegex::regexWithPattern("a+");
    EXPECT_TRUE(regex->matchesString("aaa"));
    EXPECT_FALSE(regex->matchesString("aaab"));
    EXPECT_TRUE(regex->matchesSubStringInString("aaab"));
    EXPECT_FALSE(regex->matchesSubStringInString("bbb"));
    EXPECT_EQ(regex->firstSubStringMatchedInString("xaay"), "aa");
    EXPECT_EQ(regex->firstSubStringMatchedInString("xy"), std::nullopt);
    // Bytes after a NUL still count: the length is explicit.
    EXPECT_FALSE(regex->matchesString(std::string_view("aa\0a", 4)));
    EXPECT_TRUE(
        NSDK_TBXRegex::regexWithPattern("A", kTBXRegexOptionIgnoreCase)->matchesString("a"));
}

TEST(RegexTest, SubPatternsMarkThoseThatTookNoPart) {
    auto regex = NSDK_TBXRegex::regexWithPattern("(a)|(b)");
    EXPECT_EQ(regex->subPatternCount(), 2u);
    EXPECT_EQ(regex->subPatternsOfString("b"), (std::vector<Opt>{"b", std::nullopt, "b"}));
    EXPECT_EQ(regex->subPatternsOfString("ab"), std::nullopt);
    EXPECT_EQ(tbx_subPatternsOfPattern("k=v", "([a-z]+)=([a-z]*)"),
              (std::vector<Opt>{"k=v", "k", "v"}));
}

TEST(RegexTest, BadPatternsGiveAnErrorEmptyOnesNothing) {
    auto bad = NSDK_TBXRegex::regexWithPatternWithError("a(", 0);
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().domain(), "com.nebula.toolbox.RegexDomain");
    EXPECT_EQ(bad.error().code(), -100);
    EXPECT_EQ(*bad.error().userInfo().at("pattern").string(), "a(");
    EXPECT_FALSE(bad.error().userInfo().at("patternError").string()->empty());

    auto empty = NSDK_TBXRegex::regexWithPatternWithError("", 0);
    ASSERT_TRUE(empty.ok());
    EXPECT_EQ(empty.valueOr(NSDK_TBXRegex::regexWithPattern("x")), nullptr);
    EXPECT_FALSE(NSDK_TBXRegex::regexWithPatternWithError(std::string_view("a\0b", 3)).ok());
    EXPECT_FALSE(tbx_matchesPattern("a", "a("));
    EXPECT_EQ(tbx_stringByReplacingMatchesOfPattern("a", "[", "b"), std::nullopt);
}

TEST(RegexTest, EscapedPatternMatchesItsTextLiterally) {
    const std::string text = "a$()*+.?[\\^{|}]b";
    EXPECT_EQ(NSDK_TBXRegex::escapedPatternForString(text),
              "a\\$\\(\\)\\*\\+\\.\\?\\[\\\\\\^\\{\\|}]b");
    EXPECT_TRUE(tbx_matchesPattern(text, NSDK_TBXRegex::escapedPatternForString(text)));
}

TEST(RegexTest, EnumeratesMatchingAndNonMatchingSegments) {
    EXPECT_EQ(all("a", "xaay"), (std::vector<std::string>{"(x)", "a", "a", "(y)"}));
    EXPECT_EQ(all("z", "xy"), (std::vector<std::string>{"(xy)"}));
    EXPECT_EQ(all("a", ""), std::vector<std::string>{});
    EXPECT_EQ(tbx_allSubstringsMatchedByPattern("1a22b333", "[0-9]+"),
              (std::vector<std::string>{"1", "22", "333"}));
    // Offsets are bytes: multi-byte characters are cut whole.
    EXPECT_EQ(all("b",
                  "\xC3\xA9"
                  "b\xE2\x82\xAC"),
              (std::vector<std::string>{"(\xC3\xA9)", "b", "(\xE2\x82\xAC)"}));
}

TEST(RegexTest, CaretMatchesAtSegmentStartsOnlyWhenAsked) {
    auto regex = NSDK_TBXRegex::regexWithPattern("^a");
    EXPECT_EQ(segments(regex->matchSegmentEnumeratorForString("aa")),
              std::vector<std::string>{"a"});
    auto e = regex->matchSegmentEnumeratorForString("aa");
    e->treatStartOfNewSegmentAsBeginningOfString(true);
    EXPECT_EQ(segments(e), (std::vector<std::string>{"a", "a"}));
    // After a newline "^" is a line start, unless newlines are not special.
    EXPECT_EQ(all("^a|\n", "a\na"), (std::vector<std::string>{"a", "\n", "a"}));
    EXPECT_EQ(all("^a|\n", "a\na", kTBXRegexOptionNoNewlineSupport),
              (std::vector<std::string>{"a", "\n", "(a)"}));
}

TEST(RegexTest, EmptyMatchesAdvanceByOneCharacter) {
    EXPECT_EQ(all("x*", "ab"), (std::vector<std::string>{"", "(a)", "", "(b)", ""}));
    EXPECT_EQ(all("a*", "baac"), (std::vector<std::string>{"", "(b)", "aa", "", "(c)", ""}));
    EXPECT_EQ(all("$", "ab"), (std::vector<std::string>{"(ab)", ""}));
    EXPECT_EQ(all("x*", "\xC3\xA9"), (std::vector<std::string>{"", "(\xC3\xA9)", ""}));
    EXPECT_EQ(tbx_stringByReplacingMatchesOfPattern("abc", "x*", "-"), "-a-b-c-");
}

struct Replacement {
    const char* pattern;
    const char* text;
    const char* replacement;
    const char* expected;
};

class RegexReplacementTest : public testing::TestWithParam<Replacement> {};

TEST_P(RegexReplacementTest, SubstitutesBackReferences) {
    const auto& p = GetParam();
    EXPECT_EQ(tbx_stringByReplacingMatchesOfPattern(p.text, p.pattern, p.replacement), p.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegexReplacementTest,
    testing::Values(
        Replacement{"(o)", "foo", "[\\1]", "f[o][o]"}, Replacement{"(o)", "foo", "\\9", "f"},
        Replacement{"(o)", "foo", "\\\\1", "f\\\\1\\\\1"},
        Replacement{"(o)", "foo", "\\\\\\1", "f\\\\o\\\\o"},
        Replacement{"(o)", "foo", "\\1\\1", "foooo"}, Replacement{"(o)", "foo", "\\0", "foo"},
        Replacement{"(o)", "foo", "", "f"}, Replacement{"(o)", "foo", "\\", "f\\\\"},
        Replacement{"(o)", "foo", "\\99999999999999999999999", "f"},
        Replacement{"(a)|(b)", "ab", "<\\2>", "<><b>"},
        Replacement{"([a-z]+)@([a-z]+)", "to: al@ex, bo@by", "\\2.\\1", "to: ex.al, by.bo"}));

TEST(RegexTest, DescriptionsNameOptionsAndTexts) {
    auto regex = NSDK_TBXRegex::regexWithPattern("(a)", kTBXRegexOptionIgnoreCase);
    EXPECT_NE(regex->description().find(
                  "{ pattern=\"(a)\", rawNumSubPatterns=1, options=( IgnoreCase ) }"),
              std::string::npos);
    EXPECT_NE(
        NSDK_TBXRegex::regexWithPattern("a")->description().find("options=( None(Default) ) }"),
        std::string::npos);
    auto segment = regex->matchSegmentEnumeratorForString("xA")->nextObject();
    EXPECT_NE(segment->description().find("{ isMatch=\"YES\", subPatterns=( \"A\", \"A\" ) }"),
              std::string::npos);
    EXPECT_EQ(segment->subPatternString(2), std::nullopt);
    // Each names itself with its address.
    char address[32];
    std::snprintf(address, sizeof address, "<%p> {", static_cast<const void*>(regex.get()));
    EXPECT_EQ(regex->description().rfind(std::string("NSDK_TBXRegex") + address, 0), 0u);
    std::snprintf(address, sizeof address, "<%p> {", static_cast<const void*>(segment.get()));
    EXPECT_EQ(segment->description().rfind(std::string("NSDK_TBXRegexStringSegment") + address, 0),
              0u);
}

}  // namespace
