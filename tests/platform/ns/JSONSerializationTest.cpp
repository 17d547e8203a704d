#include "platform/ns/JSONSerialization.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/NsPrinters.h"

namespace {

using ns::JSONSerialization;
using ns::Value;

JSONSerialization::WriteOptions fragments() {
    JSONSerialization::WriteOptions o;
    o.fragmentsAllowed = true;
    return o;
}

JSONSerialization::ReadOptions readFragments() {
    JSONSerialization::ReadOptions o;
    o.fragmentsAllowed = true;
    return o;
}

std::string writeFragment(const Value& v) {
    auto r = JSONSerialization::write(v, fragments());
    EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error().description());
    return r.ok() ? *r : "<error>";
}

std::string debugText(const ns::Error& e) {
    return e.userInfo().at("NSDebugDescription").stringValue();
}

// Each value writes as the text, and the text reads back as the same value of the same kind.
struct RoundTrip {
    Value value;
    std::string text;
};

class JSONRoundTrip : public testing::TestWithParam<RoundTrip> {};

TEST_P(JSONRoundTrip, WritesExactTextAndReadsBackSameKind) {
    const RoundTrip& c = GetParam();
    EXPECT_EQ(writeFragment(c.value), c.text);
    auto back = JSONSerialization::read(c.text, readFragments());
    ASSERT_TRUE(back.ok()) << back.error().description();
    EXPECT_EQ(back->type(), c.value.type()) << c.text;
    EXPECT_EQ(*back, c.value) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    EveryKind, JSONRoundTrip,
    testing::Values(
        RoundTrip{Value(), "null"}, RoundTrip{Value(true), "true"},
        RoundTrip{Value(false), "false"}, RoundTrip{Value(1), "1"}, RoundTrip{Value(0), "0"},
        RoundTrip{Value(-1), "-1"}, RoundTrip{Value(1.5), "1.5"}, RoundTrip{Value(0.1), "0.1"},
        RoundTrip{Value(-2.5e-7), "-2.5e-07"}, RoundTrip{Value(1e100), "1e+100"},
        RoundTrip{Value(1.7976931348623157e308), "1.7976931348623157e+308"},
        RoundTrip{Value(9223372036854775807LL), "9223372036854775807"},
        RoundTrip{Value(std::numeric_limits<long long>::min()), "-9223372036854775808"},
        RoundTrip{Value(18446744073709551615ULL), "18446744073709551615"},
        RoundTrip{Value(9223372036854775808ULL), "9223372036854775808"},
        RoundTrip{Value("plain"), "\"plain\""}, RoundTrip{Value(""), "\"\""},
        RoundTrip{Value("a\"b\\c/d"), "\"a\\\"b\\\\c/d\""},
        RoundTrip{Value("\b\f\n\r\t\x01\x1f"), "\"\\b\\f\\n\\r\\t\\u0001\\u001f\""},
        RoundTrip{Value(std::string("nul\0in", 6)), "\"nul\\u0000in\""},
        RoundTrip{Value("caf\xC3\xA9 \xF0\x9F\x98\x80"), "\"caf\xC3\xA9 \xF0\x9F\x98\x80\""},
        RoundTrip{Value("line\xE2\x80\xA8para\xE2\x80\xA9"), "\"line\\u2028para\\u2029\""},
        RoundTrip{Value(ns::Array{}), "[]"}, RoundTrip{Value(ns::Dictionary{}), "{}"},
        RoundTrip{Value::array({1, "two", 3.5, true, nullptr, Value::array({})}),
                  "[1,\"two\",3.5,true,null,[]]"},
        RoundTrip{Value::dict({{"b", 1}, {"a", Value::dict({{"c", false}})}, {"B", "x"}}),
                  "{\"B\":\"x\",\"a\":{\"c\":false},\"b\":1}"}));

TEST(JSONSerialization, NumbersKeepTheirKindWhenRead) {
    auto v = JSONSerialization::read("[true, 1, 1.0, 1e2, -0, 18446744073709551616]");
    ASSERT_TRUE(v.ok());
    EXPECT_TRUE(v->at(0).isBool());
    EXPECT_EQ(v->at(1).type(), Value::Type::Integer);
    EXPECT_EQ(v->at(2).type(), Value::Type::Double);
    EXPECT_EQ(v->at(3).type(), Value::Type::Double);
    EXPECT_EQ(v->at(4).integerValue(), 0);
    // Beyond 64 bits an integer becomes a double.
    EXPECT_EQ(v->at(5).type(), Value::Type::Double);
    EXPECT_DOUBLE_EQ(*v->at(5).number(), 18446744073709551616.0);
}

TEST(JSONSerialization, IntegersReadExactlyAroundEighteenDigits) {
    auto v = JSONSerialization::read(
        "[999999999999999999, -999999999999999999, 1000000000000000001, -1000000000000000001, "
        "9223372036854775807, -9223372036854775808, 9223372036854775808, -9223372036854775809, "
        "-0, 0, 12, -7, 100000000000000000000]");
    ASSERT_TRUE(v.ok());
    EXPECT_EQ(*v->at(0).int64(), 999999999999999999LL);
    EXPECT_EQ(*v->at(1).int64(), -999999999999999999LL);
    EXPECT_EQ(*v->at(2).int64(), 1000000000000000001LL);
    EXPECT_EQ(*v->at(3).int64(), -1000000000000000001LL);
    EXPECT_EQ(*v->at(4).int64(), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(*v->at(5).int64(), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(v->at(6).type(), Value::Type::Unsigned);
    EXPECT_EQ(*v->at(6).uint64(), 9223372036854775808ULL);
    EXPECT_EQ(v->at(7).type(), Value::Type::Double);
    EXPECT_EQ(*v->at(7).number(), -9223372036854775809.0);
    EXPECT_EQ(v->at(8), Value(0));
    EXPECT_EQ(v->at(8).type(), Value::Type::Integer);
    EXPECT_EQ(v->at(9), Value(0));
    EXPECT_EQ(v->at(10), Value(12));
    EXPECT_EQ(v->at(11), Value(-7));
    EXPECT_EQ(v->at(12).type(), Value::Type::Double);
}

TEST(JSONSerialization, ExtremeNumbersReadExactlyOrFail) {
    auto v = JSONSerialization::read(
        "[0e-311, 1e-400, -1e-400, 4.9e-324, 0.1, 2.2250738585072014e-308]");
    ASSERT_TRUE(v.ok()) << v.error().description();
    EXPECT_EQ(v->at(0), Value(0.0));
    EXPECT_EQ(v->at(1), Value(0.0));
    EXPECT_TRUE(std::signbit(*v->at(2).number()));
    EXPECT_EQ(v->at(3), Value(5e-324));
    EXPECT_EQ(v->at(4), Value(0.1));
    EXPECT_EQ(v->at(5), Value(2.2250738585072014e-308));
    for (const char* text : {"[1e400]", "[1.8e308]", "[-1.8e308]"}) {
        EXPECT_FALSE(JSONSerialization::read(text).ok()) << text;
    }
}

TEST(JSONSerialization, IntegralDoublesWriteWithoutFraction) {
    EXPECT_EQ(writeFragment(Value(1.0)), "1");
    EXPECT_EQ(writeFragment(Value(-3.0)), "-3");
    EXPECT_EQ(writeFragment(Value(9007199254740992.0)), "9007199254740992");
    EXPECT_EQ(writeFragment(Value(-9007199254740992.0)), "-9007199254740992");
    EXPECT_EQ(writeFragment(Value(0.30000000000000004)), "0.30000000000000004");
}

TEST(JSONSerialization, NonFiniteNumbersAreRefused) {
    for (double d : {std::nan(""), std::numeric_limits<double>::infinity(),
                     -std::numeric_limits<double>::infinity()}) {
        auto r = JSONSerialization::write(Value::array({1, d}));
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error().domain(), "NSCocoaErrorDomain");
        EXPECT_EQ(r.error().code(), 3851);
        EXPECT_EQ(debugText(r.error()), std::isnan(d)
                                            ? "Invalid number value (NaN) in JSON write"
                                            : "Invalid number value (infinite) in JSON write");
    }
}

TEST(JSONSerialization, DataAndDatesAreRefused) {
    auto data = JSONSerialization::write(Value::dict({{"d", ns::Data::fromString("x")}}));
    ASSERT_FALSE(data.ok());
    EXPECT_EQ(data.error().code(), 3851);
    EXPECT_EQ(debugText(data.error()).rfind("Invalid type in JSON write (", 0), 0u);
    auto date = JSONSerialization::write(Value::array({ns::Date()}));
    ASSERT_FALSE(date.ok());
    EXPECT_EQ(date.error().code(), 3851);
}

TEST(JSONSerialization, TopLevelScalarsNeedFragmentsOnBothSides) {
    EXPECT_FALSE(JSONSerialization::write(Value("x")).ok());
    EXPECT_FALSE(JSONSerialization::write(Value()).ok());
    for (const char* text : {"42", "\"s\"", "true", "null"}) {
        auto strict = JSONSerialization::read(text);
        ASSERT_FALSE(strict.ok()) << text;
        EXPECT_EQ(strict.error().code(), 3840);
        EXPECT_EQ(strict.error().localizedDescription(),
                  "The data couldn\u2019t be read because it isn\u2019t in the correct format.");
        EXPECT_NE(debugText(strict.error()).find("did not start with array or object"),
                  std::string::npos);
        EXPECT_TRUE(JSONSerialization::read(text, readFragments()).ok()) << text;
    }
    auto number = JSONSerialization::read(" 42 ", readFragments());
    ASSERT_TRUE(number.ok());
    EXPECT_EQ(*number, Value(42));
}

// The bridge writes any message by wrapping it in a one-element array and cutting the brackets.
TEST(JSONSerialization, OneElementArrayCutGivesAnyScalar) {
    auto cut = [](const Value& v) {
        auto r = JSONSerialization::write(Value(ns::Array{v}));
        EXPECT_TRUE(r.ok());
        return r->substr(1, r->size() - 2);
    };
    EXPECT_EQ(cut(Value("a\"b")), "\"a\\\"b\"");
    EXPECT_EQ(cut(Value(true)), "true");
    EXPECT_EQ(cut(Value()), "null");
    EXPECT_EQ(cut(Value(-1)), "-1");
    EXPECT_EQ(cut(Value::dict({{"code", 3}})), "{\"code\":3}");
}

TEST(JSONSerialization, InvalidUTF8IsReplacedOnWriteAndRefusedOnRead) {
    // A stray continuation byte, a truncated sequence, an overlong form and a surrogate.
    const std::string bad =
        "a\x80"
        "b\xE2\x82"
        "c\xC0\xAF"
        "d\xED\xA0\x80"
        "e";
    auto written = JSONSerialization::write(Value::array({bad}));
    ASSERT_TRUE(written.ok());
    const std::string r = "\xEF\xBF\xBD";
    // One U+FFFD for each ill-formed part: the cut sequence is one, the others a byte each.
    EXPECT_EQ(*written, "[\"a" + r + "b" + r + "c" + r + r + "d" + r + r + r + "e\"]");
    EXPECT_TRUE(JSONSerialization::read(*written).ok());

    auto read = JSONSerialization::read("[\"a\x80\"]");
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().code(), 3840);

    // The error names the same place whichever parser reads the text.
    JSONSerialization::ReadOptions deepLimit;
    deepLimit.maxDepth = 5000;
    for (const std::string text :
         {"[\"abc\", \"de\xC0\xAF\"]", "{\"k\xED\xA0\x80\":1}", "[\"x\"] \xFF", "[1, \xE2\x82]"}) {
        auto usual = JSONSerialization::read(text);
        auto other = JSONSerialization::read(text, deepLimit);
        ASSERT_FALSE(usual.ok()) << text;
        ASSERT_FALSE(other.ok()) << text;
        EXPECT_EQ(debugText(usual.error()), debugText(other.error())) << text;
    }
}

TEST(JSONSerialization, MalformedInputIsAnErrorWithPosition) {
    for (const char* text :
         {"", "   ", "[", "[1,]", "{\"a\"}", "{1:2}", "[1] x", "[1][2]", "[NaN]", "[Infinity]",
          "['a']", "[01]", "[\"\\ud800\"]", "[\"\\udcac\"]", "{\"\\udcac\":1}", "[\"\\x\"]"}) {
        auto r = JSONSerialization::read(text, readFragments());
        ASSERT_FALSE(r.ok()) << text;
        EXPECT_EQ(r.error().domain(), "NSCocoaErrorDomain");
        EXPECT_EQ(r.error().code(), 3840);
        EXPECT_NE(debugText(r.error()).find("around character"), std::string::npos) << text;
    }
}

TEST(JSONSerialization, LoneSurrogateIsFoundAmongOtherText) {
    // Raw U+D55C (0xED 0x95 0x9C) is well-formed text; only the escape names a lone surrogate.
    const std::string hangul = "\xED\x95\x9C";
    auto r = JSONSerialization::read("[\"" + hangul + "\",\"x\",{\"k\":\"\\udc00\"}]");
    ASSERT_FALSE(r.ok());
    EXPECT_NE(debugText(r.error()).find("surrogate"), std::string::npos);
    EXPECT_FALSE(JSONSerialization::read("[\"a\",\"\\\\\",\"\\udfff\"]").ok());

    // An escaped backslash before a 'u' is plain text; a surrogate pair is one character.
    auto plain = JSONSerialization::read("[\"" + hangul + "\\\\udc00\",\"\\ud83d\\ude00\"]");
    ASSERT_TRUE(plain.ok());
    EXPECT_EQ(*plain, Value::array({hangul + "\\udc00", "\xF0\x9F\x98\x80"}));
}

TEST(JSONSerialization, LoneSurrogatesCanBeReadAsReplacementCharacters) {
    // Text cut inside a pair (a high half at the end, a low half alone, two highs in a row);
    // pairs, an escaped backslash before "u" and other escapes stay as they are.
    const JSONSerialization::ReadOptions options{.loneSurrogatesReplaced = true};
    auto r = JSONSerialization::read(
        R"(["a\ud83d","\udc00b","\ud83d\ud83d\ude00","\\ud83d","\u0041\n"])", options);
    ASSERT_TRUE(r.ok()) << r.error().description();
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(*r,
              Value::array({"a" + fffd, fffd + "b", fffd + "\xF0\x9F\x98\x80", "\\ud83d", "A\n"}));
    // The same text is refused without the option.
    EXPECT_FALSE(JSONSerialization::read(R"(["a\ud83d"])").ok());
}

TEST(JSONSerialization, NulByteEndsNothingEarly) {
    auto r = JSONSerialization::read(std::string_view("[1]\0[2]", 7));
    EXPECT_FALSE(r.ok());
    auto inString = JSONSerialization::read(std::string_view("[\"a\0b\"]", 7));
    EXPECT_FALSE(inString.ok());
}

TEST(JSONSerialization, ByteOrderMarkIsSkipped) {
    auto r = JSONSerialization::read("\xEF\xBB\xBF[1]");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(*r, Value::array({1}));
}

TEST(JSONSerialization, DepthLimitFailsCleanly) {
    const std::string ok = std::string(512, '[') + std::string(512, ']');
    EXPECT_TRUE(JSONSerialization::read(ok).ok());
    const std::string deep = std::string(513, '[') + std::string(513, ']');
    auto r = JSONSerialization::read(deep);
    ASSERT_FALSE(r.ok());
    EXPECT_NE(debugText(r.error()).find("nested"), std::string::npos);
    // Far deeper than any stack could recurse: still a plain error.
    std::string hostile;
    for (int i = 0; i < 200000; ++i) hostile += "{\"a\":[";
    EXPECT_FALSE(JSONSerialization::read(hostile).ok());

    // Limits above the recursive parser's reach take the other parser, with the same results.
    JSONSerialization::ReadOptions deepLimit;
    deepLimit.maxDepth = 5000;
    EXPECT_TRUE(
        JSONSerialization::read(std::string(5000, '[') + std::string(5000, ']'), deepLimit).ok());
    EXPECT_FALSE(
        JSONSerialization::read(std::string(5001, '[') + std::string(5001, ']'), deepLimit).ok());
    EXPECT_FALSE(JSONSerialization::read(hostile, deepLimit).ok());
    auto same = JSONSerialization::read(R"({"a":[1,2.5,"x",{"b":null}]})", deepLimit);
    ASSERT_TRUE(same.ok());
    EXPECT_EQ(*same, *JSONSerialization::read(R"({"a":[1,2.5,"x",{"b":null}]})"));

    JSONSerialization::ReadOptions shallow;
    shallow.maxDepth = 2;
    EXPECT_TRUE(JSONSerialization::read("[[1]]", shallow).ok());
    EXPECT_FALSE(JSONSerialization::read("[[[1]]]", shallow).ok());
}

TEST(JSONSerialization, RepeatedKeyKeepsTheLastValue) {
    auto r = JSONSerialization::read(R"({"k":1,"k":{"x":[2]}})");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(*r, Value::dict({{"k", Value::dict({{"x", Value::array({2})}})}}));
    auto back = JSONSerialization::read(R"({"b":[1],"a":"x","b":"y","c":{"b":1,"b":[]}})");
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(*back,
              Value::dict({{"a", "x"}, {"b", "y"}, {"c", Value::dict({{"b", Value::array({})}})}}));
}

TEST(JSONSerialization, PrettyPrintedLayout) {
    JSONSerialization::WriteOptions pretty;
    pretty.prettyPrinted = true;
    auto r = JSONSerialization::write(
        Value::dict(
            {{"b", Value::array({1, "x"})}, {"a", Value::dict({})}, {"c", Value::array({})}}),
        pretty);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(*r,
              "{\n"
              "  \"a\" : {\n"
              "\n"
              "  },\n"
              "  \"b\" : [\n"
              "    1,\n"
              "    \"x\"\n"
              "  ],\n"
              "  \"c\" : [\n"
              "\n"
              "  ]\n"
              "}");
    auto back = JSONSerialization::read(*r);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back->count(), 3u);
}

}  // namespace

// Plain text is copied in runs of several bytes: a character that needs care must be found at
// every place within such a run, and at the ragged end of the string.
TEST(JSONSerialization, EscapesAreFoundAtEveryPlaceInALongString) {
    const std::pair<std::string, std::string> cases[] = {
        {"\"", "\\\""},
        {"\\", "\\\\"},
        {"\n", "\\n"},
        {"\x1F", "\\u001f"},
        {std::string(1, '\0'), "\\u0000"},
        {"\x7F", "\x7F"},
        {" ", " "},
        {"\xC3\xA9", "\xC3\xA9"},
        {"\xE2\x80\xA8", "\\u2028"},
        {"\xFF", "\xEF\xBF\xBD"},
    };
    for (const auto& [special, written] : cases) {
        for (size_t at = 0; at <= 19; ++at) {
            std::string text(19, 'a');
            text.insert(at, special);
            std::string expected =
                "[\"" + std::string(at, 'a') + written + std::string(19 - at, 'a') + "\"]";
            EXPECT_EQ(*ns::JSONSerialization::write(ns::Value::array({text})), expected)
                << "at " << at;
        }
    }
}

namespace {

// The writer that goes piece by piece gives write()'s text for the same value.
TEST(JSONWriter, WritesWhatWriteWrites) {
    const ns::Value maxUnsigned(std::numeric_limits<uint64_t>::max());
    const ns::Value whole =
        ns::Value::dict({{"a", ns::Value::array({1, -2, 2.5, 1.0, true, nullptr, "t\"\n\u2028"})},
                         {"b", ns::Value::dict({{"x", maxUnsigned}})},
                         {"c", ns::Array()},
                         {"d", "bad \xff byte"}});
    ns::JSONWriter w;
    w.startObject();
    w.key("a");
    w.startArray();
    w.int64(1);
    w.int64(-2);
    w.number(2.5);
    w.number(1.0);
    w.boolean(true);
    w.null();
    w.string("t\"\n\u2028");
    w.endArray();
    w.key("b");
    w.value(ns::Value::dict({{"x", maxUnsigned}}));
    w.key("c");
    w.json("[]");
    w.key("d");
    w.string("bad \xff byte");
    w.endObject();
    auto text = w.take();
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(*text, *ns::JSONSerialization::write(whole));
}

TEST(JSONWriter, ASplicedValueTakesItsPlaceAmongOthers) {
    ns::JSONWriter rows;
    rows.startArray();
    rows.startObject();
    rows.key("k");
    rows.int64(1);
    rows.endObject();
    rows.endArray();
    ns::JSONWriter w;
    w.startArray();
    w.json(*rows.take());
    w.json("7");
    w.int64(8);
    w.endArray();
    EXPECT_EQ(*w.take(), R"([[{"k":1}],7,8])");
    // take() leaves an empty writer, ready for a new text.
    w.startArray();
    w.endArray();
    EXPECT_EQ(*w.take(), "[]");
}

TEST(JSONWriter, AValueWithoutJSONFormIsTheError) {
    ns::JSONWriter w;
    w.startArray();
    w.number(std::nan(""));
    w.int64(1);
    w.endArray();
    auto text = w.take();
    ASSERT_FALSE(text.ok());
    EXPECT_EQ(text.error().code(), 3851);
    // The error goes with the text it spoiled.
    w.startArray();
    w.value(ns::Value::array({ns::Data()}));
    w.endArray();
    EXPECT_FALSE(w.take().ok());
    w.startArray();
    w.endArray();
    EXPECT_TRUE(w.take().ok());
}

// Reads one after another on a thread share its parser and builder: each read, whatever came
// before it (a refusal halfway through a container, a number out of range, other options),
// gives what it gives as the thread's first read, on every thread at once.
TEST(JSONSerialization, ReadsOnAThreadAreIndependentOfTheReadsBefore) {
    const std::pair<std::string, JSONSerialization::ReadOptions> reads[] = {
        {"[[[[[1]]]]]", {.maxDepth = 4}},
        {R"({"a":[1,{"b":)", {}},
        {"[1e400]", {}},
        {"[1,]", {}},
        {"7", {.fragmentsAllowed = true}},
        {"8", {}},
        {R"(["\udc00"])", {}},
        {R"(["\udc00",{"k":"\ud83d\ude00"}])", {.loneSurrogatesReplaced = true}},
        {R"({"k":[1,2.5,"x",null,true],"j":{}})", {}},
        {"[\"" + std::string(5000, 'x') + "\",[1e400]]", {}},
        {"[[[[[2]]]]]", {}},
        {"[\"\xff\"]", {}},
        {R"([{"b":1,"a":2,"b":3}])", {}},
    };
    const auto outcome = [](const std::string& text, const JSONSerialization::ReadOptions& o) {
        auto read = JSONSerialization::read(text, o);
        if (!read) return "error: " + read.error().description();
        return JSONSerialization::write(*read).valueOr("(no text)");
    };
    std::vector<std::string> first;
    for (const auto& [text, options] : reads) {
        std::thread([&, &text = text, &options = options] {
            first.push_back(outcome(text, options));
        }).join();
    }
    const auto readAll = [&](std::vector<std::string>& out) {
        for (int round = 0; round < 3; ++round) {
            for (const auto& [text, options] : reads) out.push_back(outcome(text, options));
        }
    };
    std::vector<std::vector<std::string>> results(4);
    std::vector<std::thread> threads;
    for (auto& out : results) threads.emplace_back(readAll, std::ref(out));
    for (std::thread& thread : threads) thread.join();
    std::vector<std::string> here;
    readAll(here);
    results.push_back(std::move(here));
    for (const auto& out : results) {
        ASSERT_EQ(out.size(), 3 * first.size());
        for (size_t i = 0; i < out.size(); ++i) {
            EXPECT_EQ(out[i], first[i % first.size()])
                << reads[i % first.size()].first.substr(0, 40);
        }
    }
    // The refusals read as their own, not as the one before them.
    EXPECT_NE(first[2], first[3]);
    EXPECT_EQ(first[5].rfind("error: ", 0), 0u);
    EXPECT_EQ(first[10], "[[[[[2]]]]]");
}

}  // namespace
