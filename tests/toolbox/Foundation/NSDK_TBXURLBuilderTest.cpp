#include "toolbox/Foundation/NSDK_TBXURLBuilder.h"

#include <gtest/gtest.h>

#include "platform/ns/Exception.h"
#include "toolbox/Foundation/NSDictionary+TBXNSDictionaryURLArgumentsAdditions.h"
#include "toolbox/Foundation/NSString+TBXNSStringURLArgumentsAdditions.h"

namespace {

using ns::Dictionary;

TEST(URLArgumentsTest, EscapingCoversEveryReservedCharacter) {
    EXPECT_EQ(tbx_stringByEscapingForURLArgument("a b&c/d"), "a%20b%26c%2Fd");
    EXPECT_EQ(tbx_stringByEscapingForURLArgument("!*'();:@&=+$,/?%#[]"),
              "%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D");
    EXPECT_EQ(tbx_stringByEscapingForURLArgument("AZaz09-._~"), "AZaz09-._~");
    EXPECT_EQ(tbx_stringByEscapingForURLArgument("\xC3\xA9\"<>"), "%C3%A9%22%3C%3E");
}

TEST(URLArgumentsTest, UnescapingReadsPlusAsSpaceAndRefusesBadEscapes) {
    EXPECT_EQ(tbx_stringByUnescapingFromURLArgument("a+b%20c"), "a b c");
    EXPECT_EQ(tbx_stringByUnescapingFromURLArgument("%2B"), "+");
    EXPECT_EQ(tbx_stringByUnescapingFromURLArgument("%zz"), std::nullopt);
    EXPECT_EQ(tbx_stringByUnescapingFromURLArgument("%C3"), std::nullopt);  // not UTF-8
    for (std::string text : {"", "plain", "a b&c=d", "+%/?#\xE2\x82\xAC", "100%"}) {
        EXPECT_EQ(tbx_stringByUnescapingFromURLArgument(tbx_stringByEscapingForURLArgument(text)),
                  text);
    }
}

TEST(URLArgumentsTest, QueryStringParsing) {
    EXPECT_EQ(tbx_dictionaryWithHttpArgumentsString("a=1&b=&c&=d&&a=2"),
              (Dictionary{{"a", "1"}, {"b", ""}, {"c", ""}, {"", "d"}}));
    EXPECT_EQ(tbx_dictionaryWithHttpArgumentsString("q=a+b%20c"), (Dictionary{{"q", "a b c"}}));
    // Only the first "=" splits; undecodable parts become empty.
    EXPECT_EQ(tbx_dictionaryWithHttpArgumentsString("k=v=w&%zz=1&x=%C3"),
              (Dictionary{{"k", "v=w"}, {"", "1"}, {"x", ""}}));
    EXPECT_TRUE(tbx_dictionaryWithHttpArgumentsString("").empty());
    EXPECT_TRUE(tbx_dictionaryWithHttpArgumentsString("&&&").empty());
}

TEST(URLArgumentsTest, ArgumentsStringRoundTrips) {
    EXPECT_EQ(tbx_httpArgumentsString({}), "");
    Dictionary args{{"a b", "c&d"}, {"n", 5}, {"e", ""}, {"u", "\xC3\xA9=+"}};
    EXPECT_EQ(tbx_httpArgumentsString(args), "a%20b=c%26d&e=&n=5&u=%C3%A9%3D%2B");
    Dictionary back = tbx_dictionaryWithHttpArgumentsString(tbx_httpArgumentsString(args));
    EXPECT_EQ(back, (Dictionary{{"a b", "c&d"}, {"n", "5"}, {"e", ""}, {"u", "\xC3\xA9=+"}}));
}

TEST(URLBuilderTest, BaseIsTheURLWithoutItsQuery) {
    auto builder = NSDK_TBXURLBuilder::builderWithString("https://h.example/p?x=1");
    EXPECT_EQ(builder->baseURLString(), "https://h.example/p");
    EXPECT_EQ(builder->valueForParameter("x"), "1");
    builder->removeParameter("x");
    EXPECT_EQ(builder->URLString(), "https://h.example/p");

    // The query text also appearing later (in the fragment) does not move the cut.
    auto repeated = NSDK_TBXURLBuilder::builderWithString("http://a/?x#x");
    EXPECT_EQ(repeated->baseURLString(), "http://a/");
    auto inPath = NSDK_TBXURLBuilder::builderWithString("http://a/b?b");
    EXPECT_EQ(inPath->baseURLString(), "http://a/b");
    auto emptyQuery = NSDK_TBXURLBuilder::builderWithString("http://a/c?");
    EXPECT_EQ(emptyQuery->baseURLString(), "http://a/c");
    EXPECT_TRUE(emptyQuery->parameters().empty());
    auto noQuery = NSDK_TBXURLBuilder::builderWithURL(*ns::URL::parse("http://a/d#f"));
    EXPECT_EQ(noQuery->baseURLString(), "http://a/d#f");
}

TEST(URLBuilderTest, ParametersAndURL) {
    auto builder = NSDK_TBXURLBuilder::builderWithString("http://a.example/s?q=one+two&n=3");
    EXPECT_EQ(builder->valueForParameter("q"), "one two");
    EXPECT_EQ(builder->integerValueForParameter("n"), 3);
    EXPECT_EQ(builder->integerValueForParameter("missing"), 0);
    builder->setIntegerValue(-9000000000, "n");
    builder->setValue("a/b", "p");
    EXPECT_EQ(builder->URLString(), "http://a.example/s?n=-9000000000&p=a%2Fb&q=one%20two");
    builder->setParameters({{"only", "1"}});
    EXPECT_EQ(builder->URL()->query(), "only=1");
}

TEST(URLBuilderTest, EqualityIgnoresTheOrderParametersWereSet) {
    auto a = NSDK_TBXURLBuilder::builderWithString("http://a/");
    auto b = NSDK_TBXURLBuilder::builderWithString("http://a/");
    a->setValue("1", "x");
    a->setValue("2", "y");
    b->setValue("2", "y");
    b->setValue("1", "x");
    EXPECT_TRUE(a->isEqual(b.get()));
    EXPECT_EQ(a->hash(), b->hash());
    EXPECT_FALSE(a->isEqual(nullptr));
    b->setValue("3", "x");
    EXPECT_FALSE(*a == *b);
    EXPECT_FALSE(a->isEqual(NSDK_TBXURLBuilder::builderWithString("http://b/").get()));
}

TEST(URLBuilderTest, MissingOrInvalidURLIsAProgrammingFault) {
    auto reason = [](std::optional<std::string_view> text) {
        try {
            NSDK_TBXURLBuilder::builderWithString(text);
        } catch (const ns::Exception& e) {
            EXPECT_EQ(e.name(), ns::kInternalInconsistencyException);
            return e.reason();
        }
        return std::string("no exception");
    };
    EXPECT_EQ(reason(std::nullopt), "URL must not be nil");
    EXPECT_EQ(reason("http://a b/"), "URL is invalid");
    EXPECT_EQ(reason(""), "URL is invalid");
}

}  // namespace
