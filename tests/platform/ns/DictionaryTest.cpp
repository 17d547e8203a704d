#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "platform/ns/JSONSerialization.h"
#include "platform/ns/PropertyListSerialization.h"
#include "platform/ns/Value.h"

namespace {

using ns::Dictionary;
using ns::Value;

std::vector<std::string> keysOf(const Dictionary& d) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : d) keys.push_back(key);
    return keys;
}

TEST(Dictionary, EnumeratesInByteOrderWhateverTheInsertionOrder) {
    Dictionary d;
    for (const char* key : {"b", "a", "\xC3\xA9", "B", "", "ab", "a\x01"}) d[key] = key;
    EXPECT_EQ(keysOf(d), (std::vector<std::string>{"", "B", "a", "a\x01", "ab", "b", "\xC3\xA9"}));
    for (const auto& [key, value] : d) EXPECT_EQ(*d.at(key).string(), key);
}

TEST(Dictionary, ManyMembersInRandomOrderStaySortedAndFindable) {
    std::vector<int> order(2000);
    for (int i = 0; i < 2000; ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    Dictionary d;
    for (int i : order) EXPECT_TRUE(d.try_emplace(std::to_string(i), i).second);
    ASSERT_EQ(d.size(), 2000u);
    EXPECT_TRUE(std::is_sorted(d.begin(), d.end(),
                               [](const auto& a, const auto& b) { return a.first < b.first; }));
    for (int i = 0; i < 2000; ++i) EXPECT_EQ(d.find(std::to_string(i))->second, Value(i));
    EXPECT_EQ(d.find("2000"), d.end());
    EXPECT_EQ(d.erase("1000"), 1u);
    EXPECT_EQ(d.erase("1000"), 0u);
    EXPECT_FALSE(d.contains("1000"));
    EXPECT_EQ(d.size(), 1999u);
}

TEST(Dictionary, InsertionRulesMatchAnOrderedMap) {
    Dictionary d;
    EXPECT_TRUE(d.emplace("k", 1).second);
    EXPECT_FALSE(d.emplace("k", 2).second);  // an existing member stays
    EXPECT_FALSE(d.insert({"k", 3}).second);
    EXPECT_EQ(d["k"], Value(1));
    EXPECT_FALSE(d.insert_or_assign("k", 4).second);
    EXPECT_EQ(d["k"], Value(4));
    EXPECT_TRUE(d["new"].isNull());  // operator[] adds a null member
    EXPECT_EQ(d.size(), 2u);
    EXPECT_THROW(d.at("absent"), std::out_of_range);

    // A wrong hint costs a search, never a misplaced member.
    Dictionary h;
    h.emplace_hint(h.end(), "m", 1);
    h.emplace_hint(h.begin(), "z", 2);
    h.emplace_hint(h.end(), "a", 3);
    h.emplace_hint(h.begin(), "m", 9);
    EXPECT_EQ(keysOf(h), (std::vector<std::string>{"a", "m", "z"}));
    EXPECT_EQ(h["m"], Value(1));

    // Of a repeated key in a list, the first counts.
    EXPECT_EQ(Value::dict({{"x", 1}, {"x", 2}}), Value::dict({{"x", 1}}));
}

TEST(Dictionary, AddingAMemberMadeFromAnotherMemberCopiesItFirst) {
    // The block may move while the new member goes in; its source lies inside it.
    Dictionary d;
    d.reserve(1);
    d.emplace("result", std::string(100, 'r'));
    auto result = d.find("result");
    d.emplace_hint(d.begin(), "error", result->second);
    d.insert_or_assign("late", d.at("result"));
    d.try_emplace("zz", d.at("error"));
    EXPECT_EQ(d["error"], Value(std::string(100, 'r')));
    EXPECT_EQ(d["late"], Value(std::string(100, 'r')));
    EXPECT_EQ(d["zz"], Value(std::string(100, 'r')));
}

TEST(Dictionary, BulkAppendingKeepsTheLastOfARepeatedKey) {
    Dictionary d;
    d.appendUnsorted("b", 1);
    d.appendUnsorted("a", 2);
    d.appendUnsorted("b", 3);
    d.appendUnsorted("c", 4);
    d.appendUnsorted("b", 5);
    d.finishAppending();
    EXPECT_EQ(keysOf(d), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(d["b"], Value(5));

    // What the readers build follows the same rules.
    auto json = ns::JSONSerialization::read(R"({"z":1,"a":{"q":1,"p":2},"z":[3],"m":null})");
    ASSERT_TRUE(json);
    EXPECT_EQ(*ns::JSONSerialization::write(*json), R"({"a":{"p":2,"q":1},"m":null,"z":[3]})");
}

TEST(Dictionary, ReadersSortLargeObjectsInOneGo) {
    std::string text = "{";
    for (int i = 5000; i > 0; --i)
        text += "\"" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    text += "\"1\":\"last\"}";
    auto json = ns::JSONSerialization::read(text);
    ASSERT_TRUE(json);
    const Dictionary& d = *json->dictionary();
    ASSERT_EQ(d.size(), 5000u);
    EXPECT_EQ(d.begin()->first, "1");
    EXPECT_EQ(d.begin()->second, Value("last"));
    EXPECT_EQ((*json)["4999"], Value(4999));

    auto plist =
        ns::PropertyListSerialization::write(*json, ns::PropertyListSerialization::Format::Binary);
    ASSERT_TRUE(plist);
    auto back = ns::PropertyListSerialization::read(*plist);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, *json);
}

}  // namespace

namespace {

// A value may be given a part of itself: the part must be taken before the whole goes.
TEST(ValueStorage, AssigningAPartOfItselfKeepsThePart) {
    const std::string longText(64, 'x');
    Value v = Value::array({Value::dict({{"k", longText}}), 2});
    v = v.at(0);  // copy of its own element
    EXPECT_EQ(v, Value::dict({{"k", longText}}));
    v = std::move((*v.dictionary())["k"]);  // move of its own member
    EXPECT_EQ(v, Value(longText));

    Value self = Value::array({1, "two"});
    Value& alias = self;
    self = alias;
    self = std::move(alias);
    EXPECT_EQ(self, Value::array({1, "two"}));
}

TEST(ValueStorage, CopiesAndMovesKeepEveryKind) {
    const Value kinds[] = {Value(),
                           Value(true),
                           Value(-5),
                           Value(18446744073709551615ull),
                           Value(2.5),
                           Value("text that does not fit a short string"),
                           Value(ns::Data(std::vector<uint8_t>{1, 2, 3})),
                           Value(ns::Date::fromTimeIntervalSince1970(12.5)),
                           Value::array({1, Value::array({2})}),
                           Value::dict({{"a", 1}})};
    for (const Value& kind : kinds) {
        Value copy = kind;
        EXPECT_EQ(copy, kind);
        EXPECT_EQ(copy.type(), kind.type());
        Value moved = std::move(copy);
        EXPECT_EQ(moved, kind);
        for (const Value& other : kinds) {
            Value target = other;  // every kind over every kind, by copy and by move
            target = kind;
            EXPECT_EQ(target, kind);
            Value source = other;
            target = std::move(source);
            EXPECT_EQ(target, other);
        }
    }
    EXPECT_NE(Value(1), Value(1.0));
    EXPECT_NE(Value(true), Value(1));
    EXPECT_NE(Value(std::nan("")), Value(std::nan("")));
}

}  // namespace
