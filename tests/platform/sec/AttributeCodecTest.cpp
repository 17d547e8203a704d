#include "platform/sec/AttributeCodec.h"

#include <gtest/gtest.h>

#include "platform/ns/Exception.h"

namespace {

using sec::AttributeCodec;

std::optional<ns::Dictionary> decode(const ns::Data& data) {
    return AttributeCodec::decode(data.bytes(), data.length());
}

ns::Data raw(std::initializer_list<uint8_t> bytes) {
    return ns::Data(std::vector<uint8_t>(bytes));
}

TEST(AttributeCodec, RoundTripsEveryKindOfAttribute) {
    ns::Dictionary attributes{{"acct", "\xc3\xa9t\xc3\xa9"},
                              {"atag", ns::Data::fromString(std::string("\0\xff", 2))},
                              {"bsiz", 2048},
                              {"neg", -5},
                              {"perm", true},
                              {"sync", false},
                              {"svce", ""}};
    auto decoded = decode(AttributeCodec::encode(attributes));
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->size(), attributes.size());
    EXPECT_EQ(*decoded->at("acct").string(), "\xc3\xa9t\xc3\xa9");
    EXPECT_EQ(*decoded->at("atag").data(), ns::Data::fromString(std::string("\0\xff", 2)));
    EXPECT_EQ(decoded->at("bsiz").int64(), 2048);
    EXPECT_EQ(decoded->at("neg").int64(), -5);
    EXPECT_EQ(decoded->at("perm").boolean(), true);
    EXPECT_EQ(decoded->at("sync").boolean(), false);
    EXPECT_EQ(*decoded->at("svce").string(), "");
    ASSERT_TRUE(decode(AttributeCodec::encode({})));
}

TEST(AttributeCodec, RejectsWhatItDidNotWrite) {
    ns::Data good = AttributeCodec::encode({{"a", "x"}, {"b", 1}});
    for (size_t cut = 0; cut + 1 < good.length(); ++cut) {
        // Cutting inside an entry breaks it; cutting between entries leaves a valid prefix.
        auto decoded = AttributeCodec::decode(good.bytes(), cut);
        if (decoded) EXPECT_LT(decoded->size(), 2u) << cut;
    }
    const ns::Data bad[] = {
        raw({}),                                               // no version
        raw({2}),                                              // unknown version
        raw({1, 9, 1, 0, 0, 0, 'a'}),                          // unknown tag
        raw({1, 1, 1, 0, 0, 0, 'a', 5, 0, 0, 0, 'x'}),         // text longer than the input
        raw({1, 1, 1, 0, 0, 0, 'a', 1, 0, 0, 0, 0xff}),        // text that is not UTF-8
        raw({1, 4, 1, 0, 0, 0, 0xc0}),                         // key that is not UTF-8
        raw({1, 4, 1, 0, 0, 0, 'b', 4, 1, 0, 0, 0, 'a'}),      // keys out of order
        raw({1, 4, 1, 0, 0, 0, 'a', 4, 1, 0, 0, 0, 'a'}),      // the same key twice
        raw({1, 3, 1, 0, 0, 0, 'a', 1, 2, 3}),                 // integer cut short
        raw({1, 2, 1, 0, 0, 0, 'a', 0xff, 0xff, 0xff, 0xff}),  // data length beyond the input
    };
    for (const auto& data : bad) {
        EXPECT_FALSE(decode(data)) << testing::PrintToString(data.vector());
    }
}

bool anyKey(std::string_view) {
    return true;
}

bool notService(std::string_view key) {
    return key != "svce";
}

TEST(AttributeCodec, ContainsAnswersAsDecodingAndComparingWould) {
    const ns::Data stored = AttributeCodec::encode({{"acct", "a"},
                                                    {"bsiz", 7},
                                                    {"gena", ns::Data::fromString("g")},
                                                    {"perm", true},
                                                    {"svce", "s"}});
    struct Case {
        ns::Dictionary wanted;
        bool (*considered)(std::string_view);
        bool expected;
    };
    const Case cases[] = {
        {{}, anyKey, true},
        {{{"gena", ns::Data::fromString("g")}}, anyKey, true},
        // Text and data of the same bytes are equal; other kinds compare by kind and value.
        {{{"gena", "g"}, {"acct", ns::Data::fromString("a")}}, anyKey, true},
        {{{"gena", "h"}}, anyKey, false},
        {{{"bsiz", 7}, {"perm", true}}, anyKey, true},
        {{{"bsiz", 8}}, anyKey, false},
        {{{"bsiz", "7"}}, anyKey, false},
        {{{"perm", false}}, anyKey, false},
        {{{"perm", 1}}, anyKey, false},
        // Wanted attributes the item lacks, before, between and after its own.
        {{{"aaaa", "x"}}, anyKey, false},
        {{{"cccc", "x"}, {"gena", "g"}}, anyKey, false},
        {{{"zzzz", "x"}}, anyKey, false},
        // Members left out of consideration do not count, whatever their value.
        {{{"svce", "other"}, {"acct", "a"}}, notService, true},
        {{{"svce", "s"}, {"acct", "b"}}, notService, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AttributeCodec::contains(stored.bytes(), stored.length(), c.wanted, c.considered),
                  c.expected)
            << ns::Value(c.wanted).description();
    }
    // What decoding refuses never matches, not even a query that wants nothing of it.
    const ns::Data truncated(stored.bytes(), stored.length() - 1);
    const ns::Data unordered = raw({1, 4, 1, 0, 0, 0, 'b', 4, 1, 0, 0, 0, 'a'});
    for (const auto* bad : {&truncated, &unordered}) {
        EXPECT_FALSE(AttributeCodec::contains(bad->bytes(), bad->length(), {}, anyKey));
    }
    EXPECT_FALSE(
        AttributeCodec::contains(truncated.bytes(), truncated.length(), {{"acct", "a"}}, anyKey));
}

TEST(AttributeCodec, RefusesKindsAttributesNeverHold) {
    EXPECT_THROW(AttributeCodec::encode({{"d", 1.5}}), ns::Exception);
    EXPECT_THROW(AttributeCodec::encode({{"n", ns::Value()}}), ns::Exception);
}

}  // namespace
