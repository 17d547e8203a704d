#include "platform/ns/JSONText.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/ns/JSONReader.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/UTF8.h"

namespace {

// The on-demand reader runs a SIMD kernel that every x86-64 processor of the last decade has
// (no AVX2, which some low-power ones lack), never the library's portable one.
TEST(JSONReaderKernel, IsTheSSE42KernelOnX86_64) {
#if defined(__x86_64__)
    EXPECT_EQ(ns::JSONReader::kernel(), "westmere");
#else
    GTEST_SKIP() << "a kernel of another processor family: " << ns::JSONReader::kernel();
#endif
}

// Texts on which the readers could part: numbers at and beyond every limit, escapes, lone
// surrogates, repeated keys, broken grammar and encoding, nesting.
std::vector<std::string> edgeTexts() {
    return {
        R"(["Cb1","Echo","echo",["x",1,2.5,true,false,null,{"k":"v"}]])",
        "[0,-0,-0.0,1.0,1e2,9223372036854775807,9223372036854775808,18446744073709551615,"
        "18446744073709551616,-9223372036854775809,123456789012345678901234567890,1e-400]",
        "[1e400]",
        "[0e400,-0,0.0e-999]",
        "[0.55555555555555555555555555555555555555555]",
        R"({"b":1,"a":2,"b":3,"":4})",
        R"(["a\"b\\c\/d\n\u00e9\u2028\ud83d\ude00"])",
        R"(["\udc00"])",
        R"(["\ud800x"])",
        R"({"\ud800":1})",
        "[1,]",
        "[01]",
        "{\"a\" 1}",
        "[\"a\x01\"]",
        "[\"\xff\"]",
        std::string(5, '[') + std::string(5, ']'),
    };
}

// The check of a value read on demand agrees with the tree reader on every text: the same
// texts pass, in every mode (the fake engine and plug-ins rely on it before reading).
TEST(JSONTextTest, CheckAgreesWithTheTreeReader) {
    for (const std::string& text : edgeTexts()) {
        for (const ns::JSONReadOptions options :
             {ns::JSONReadOptions{}, ns::JSONReadOptions{.maxDepth = 4},
              ns::JSONReadOptions{.loneSurrogatesReplaced = true}}) {
            const bool tree = ns::JSONSerialization::read(text, options).ok();
            ns::JSONReader reader(ns::JSONSlice(ns::JSONText::copy(text)));
            ns::ondemand::value root;
            const bool checked = !reader.document().error() &&
                                 !reader.document().get_value().get(root) &&
                                 ns::json::check(root, options).ok() && reader.atEnd();
            // The on-demand reader may refuse what the tree reader takes (and leave it to it),
            // never the other way round.
            if (checked) EXPECT_TRUE(tree) << text;
            if (!tree) EXPECT_FALSE(checked) << text;
        }
    }
}

// The whole-text check gives the tree reader's verdict on every text, in every mode: the DOM
// parse that answers first may only refuse what the tree reader takes, never the other way.
TEST(JSONTextTest, WholeCheckGivesTheTreeReadersVerdict) {
    std::vector<std::string> texts = edgeTexts();
    // Nesting at the default limit of 512, the innermost container empty or not (the DOM parse
    // counts an empty one differently), and far beyond what it is asked to count.
    for (const size_t depth : {511u, 512u, 513u, 1100u}) {
        texts.push_back(std::string(depth, '[') + std::string(depth, ']'));
        texts.push_back(std::string(depth - 1, '[') + "[1]" + std::string(depth - 1, ']'));
    }
    const std::string more[] = {
        "\xEF\xBB\xBF[1]",
        std::string("[1]\0", 4),
        "[1] ",
        "[1] x",
        "",
        " ",
        "42",
        R"("text")",
        R"({"\ud800":[1]})",
        R"([["a","S","m",[1]],["b","S","m",[123456789012345678901]]])",
        // Numbers the DOM parse reads as zero: refused by the tree reader when their exponent
        // is far beyond range, or when they are too small for a double and have no exponent.
        "[0e309]",
        "[0.0E+400]",
        "[-0e400]",
        "[0.1e309]",
        "[10e400]",
        "[\"0e400\"]",
        "[0." + std::string(400, '0') + "1]",
        "[0." + std::string(400, '0') + "1e-5]",
        "[1" + std::string(300, '0') + "]",
    };
    texts.insert(texts.end(), std::begin(more), std::end(more));
    for (const std::string& text : texts) {
        for (const ns::JSONReadOptions options :
             {ns::JSONReadOptions{}, ns::JSONReadOptions{.maxDepth = 4},
              ns::JSONReadOptions{.maxDepth = 2000}, ns::JSONReadOptions{.fragmentsAllowed = true},
              ns::JSONReadOptions{.loneSurrogatesReplaced = true}}) {
            const bool tree = ns::JSONSerialization::read(text, options).ok();
            const auto checked =
                ns::json::checkWhole(ns::JSONSlice(ns::JSONText::copy(text)), options);
            EXPECT_EQ(checked.ok(), tree) << text.substr(0, 80) << " depth " << options.maxDepth
                                          << " fragments " << options.fragmentsAllowed;
        }
    }
}

// Values equal, kinds included, and a double zero's sign too (which == leaves out).
::testing::AssertionResult sameValue(const ns::Value& a, const ns::Value& b) {
    const auto written = [](const ns::Value& v) {
        return ns::JSONSerialization::write(v, {.fragmentsAllowed = true}).valueOr("(none)");
    };
    if (a == b && written(a) == written(b)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << written(a) << " vs " << written(b);
}

// Values built from the whole check's own parse are what the tree reader reads from the text;
// a parse that cannot say (a zero with a minus sign) or a value over the budget gives none,
// and text the parse refuses (left to slower readers) is handed to nobody.
TEST(JSONTextTest, ValuesOfTheChecksParseAreTheTreeReadersValues) {
    const std::string texts[] = {
        "[0,1.0,1e2,-7,9223372036854775807,9223372036854775808,18446744073709551615,"
        "-9223372036854775808,123456789012345678,1234567890123456789,"
        "0.1,2.5E-3,1e-300,5e-324,1.7976931348623157e308,1e-400,0.30000000000000004441]",
        R"({"b":1,"a":2,"b":3,"":4,"nested":{"z":[],"y":{}}})",
        R"(["a\"b\\c\/d\n\u00f1\u2028\ud83d\ude00\u0000x","",[[[]]],true,false,null])",
        "[\"caf\xC3\xA9 \xF0\x9F\x98\x80\"]",
        "[-0]",
        "[-0.0]",
        "[[1],{\"k\":-0}]",
    };
    for (const std::string& text : texts) {
        const auto tree = ns::JSONSerialization::read(text, {.loneSurrogatesReplaced = true});
        ASSERT_TRUE(tree.ok()) << text;
        std::optional<ns::Value> fromParse;
        bool handed = false;
        const auto checked = ns::json::checkWhole(
            ns::JSONSlice(ns::JSONText::copy(text)), {.loneSurrogatesReplaced = true},
            [&](simdjson::dom::element root) {
                handed = true;
                size_t budget = 1000;
                fromParse = ns::json::valueOfDomElement(root, budget);
            });
        ASSERT_TRUE(checked.ok()) << text;
        ASSERT_TRUE(handed) << text;
        // A zero with a minus sign may give none: the parse does not tell "-0" from "-0.0".
        if (!fromParse && text.find("-0") != std::string::npos) continue;
        ASSERT_TRUE(fromParse.has_value()) << text;
        EXPECT_TRUE(sameValue(*fromParse, *tree)) << text;
    }
    // What the parse refuses but the tree reader takes is checked by the slower readers, and
    // handed to nobody.
    for (const char* text :
         {R"(["\ud800"])", "[123456789012345678901]", "[-9223372036854775809]"}) {
        bool handed = false;
        EXPECT_TRUE(ns::json::checkWhole(ns::JSONSlice(ns::JSONText::copy(text)),
                                         {.loneSurrogatesReplaced = true},
                                         [&](simdjson::dom::element) { handed = true; })
                        .ok())
            << text;
        EXPECT_FALSE(handed) << text;
    }
    // The budget counts values and string bytes; what it cannot hold is not built.
    const std::string text = R"(["abcd",{"ef":[1,2]}])";
    for (const size_t budget : {11u, 12u}) {
        std::optional<ns::Value> fromParse;
        size_t left = budget;
        ASSERT_TRUE(ns::json::checkWhole(ns::JSONSlice(ns::JSONText::copy(text)), {},
                                         [&](simdjson::dom::element root) {
                                             fromParse = ns::json::valueOfDomElement(root, left);
                                         })
                        .ok());
        // Six values and six string bytes.
        EXPECT_EQ(fromParse.has_value(), budget == 12u) << budget;
    }
}

// A value's text is found without reading it, whatever its kind, up to the first byte past it.
TEST(JSONTextTest, ValueLengthEndsWhereTheValueEnds) {
    const std::string values[] = {
        R"("")",         R"("a,b]")",      R"("\"")",
        R"("\\")",       R"("x\\\"y")",    "\"" + std::string(100, 'z') + "\\\\\"",
        "-1.5e+3",       "true",           "null",
        R"([1,"]",{}])", R"({"k":["}"]})",
    };
    for (const std::string& value : values) {
        for (const char* after : {"", ",1]", "]", "}", " ,", "\n]", ":"}) {
            EXPECT_EQ(ns::json::valueLength(value + after), value.size()) << value << after;
        }
    }
}

// The elements of an array are found by their brackets alone, wherever strings, escapes and
// brackets inside strings fall against the 64-byte steps of the pass; an element without
// brackets leaves the finding to valueLength.
TEST(JSONTextTest, ContainerElementsAreFoundByTheirBrackets) {
    const std::vector<std::string> elements = {
        R"(["a]\"[","\\",{"k":"}{"}])",
        R"({"x":[[],{}],"\\\"":"]"})",
        "[\"" + std::string(70, 'q') + R"(\\\"]\\"])",
        "[]",
    };
    for (size_t shift = 0; shift < 80; ++shift) {
        std::string text = "[ [\"" + std::string(shift, 'p') + "\"]";
        std::vector<std::string> expected = {"[\"" + std::string(shift, 'p') + "\"]"};
        for (const std::string& element : elements) {
            text += shift % 2 ? " ,\n" + element : "," + element;
            expected.push_back(element);
        }
        text += " ]";
        const auto found = ns::json::containerElements(text);
        ASSERT_TRUE(found) << text;
        EXPECT_EQ(std::vector<std::string>(found->begin(), found->end()), expected) << text;
    }
    EXPECT_EQ(ns::json::containerElements("[ ]"), std::vector<std::string_view>{});
    for (const char* scalars : {"[1]", "[[1],2]", "[\"x\",[1]]", "[[1], null ,[2]]", "{}"}) {
        EXPECT_FALSE(ns::json::containerElements(scalars)) << scalars;
    }
}

// The nesting of checked text, counted without reading it, as the readers count it: brackets
// inside strings (escaped quotes before them included) do not count.
TEST(JSONTextTest, NestingIsCountedWithoutReading) {
    const std::string texts[] = {
        "[]",
        "[[1],{\"a\":[2]}]",
        "[\"[[[[\"]",
        "[\"\\\"[[[[\"]",
        "[\"\\\\\",[[[[]]]]]",
        std::string(6, '[') + std::string(6, ']'),
    };
    for (const std::string& text : texts) {
        for (size_t limit : {1u, 2u, 3u, 4u, 5u, 6u, 7u}) {
            const bool tree = ns::JSONSerialization::read(text, {.maxDepth = limit}).ok();
            EXPECT_EQ(ns::json::nestsWithin(text, limit), tree) << text << " within " << limit;
        }
    }
    EXPECT_FALSE(ns::json::nestsWithin("[[]]", 3, 2));
    EXPECT_TRUE(ns::json::nestsWithin("[[]]", 4, 2));
}

// A container's text is found by its brackets alone, strings passed over whatever they hold,
// wherever an escape, a quote or a bracket falls against the 64-byte steps of the pass; what
// follows the container is not part of it.
TEST(JSONTextTest, ContainerExtentEndsAtItsClosingBracket) {
    const std::string bodies[] = {
        R"(["]\"}[{", "\\", "\\\"]"])",
        R"({"a]":[1,{"b":"}\""}],"c":"\\"})",
        R"([[[[[]]]],"x\\\\"])",
        // Long strings, passed over at once: escaped quotes and runs of backslashes inside.
        "[\"" + std::string(40, 'x') + R"(\"]{)" + std::string(20, 'y') + R"(\\\\",")" +
            std::string(37, 'z') + R"(\\"])",
    };
    for (const std::string& body : bodies) {
        for (size_t shift = 0; shift < 130; ++shift) {
            // The body moved along by a string of `shift` bytes in front of it.
            const std::string container = "[\"" + std::string(shift, 'p') + "\"," + body + "]";
            const std::string text = container + ",[1]] ";
            const auto extent = ns::json::containerExtent(text, 512);
            ASSERT_TRUE(extent.length) << text;
            EXPECT_EQ(text.substr(0, *extent.length), container);
            const size_t depth = body.starts_with("[[[[") ? 6 : body[0] == '{' ? 4 : 2;
            EXPECT_TRUE(ns::json::containerExtent(text, depth).length) << text;
            EXPECT_TRUE(ns::json::containerExtent(text, depth - 1).tooDeep) << text;
        }
    }
    // Not a container, or one that never closes.
    EXPECT_FALSE(ns::json::containerExtent("\"[]\"", 512).length);
    EXPECT_FALSE(ns::json::containerExtent("[1,[2]", 512).length);
    EXPECT_FALSE(ns::json::containerExtent("[\"]", 512).length);
    EXPECT_FALSE(ns::json::containerExtent("", 512).length);
}

// The whole-text check of UTF-8 follows the rules of the sequence-by-sequence one, for every
// sequence of up to three bytes drawn from the bytes where the rules change, alone, inside text
// long enough for the check's wide steps, and inside (or cut off at the end of) text long
// enough for the vector check that long text gets.
TEST(JSONTextTest, UTF8CheckFollowsTheSequenceRules) {
    const unsigned char edges[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0,
                                   0xC1, 0xC2, 0xDF, 0xE0, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
    auto bySequence = [](std::string_view text) {
        auto p = reinterpret_cast<const unsigned char*>(text.data());
        const auto end = p + text.size();
        while (p < end) {
            const size_t n = ns::utf8::sequenceLength(p, end);
            if (n == 0) return false;
            p += n;
        }
        return true;
    };
    const std::string padding(70, 'x');
    const std::string longPadding(300, 'x');
    for (unsigned char a : edges) {
        for (unsigned char b : edges) {
            for (unsigned char c : edges) {
                const std::string bytes{static_cast<char>(a), static_cast<char>(b),
                                        static_cast<char>(c)};
                for (const std::string& text :
                     {bytes, bytes.substr(0, 2), padding + bytes + padding, "\xF0\x90" + bytes,
                      longPadding + bytes + longPadding, longPadding + "\xF0\x90" + bytes}) {
                    ASSERT_EQ(ns::utf8::isValid(text), bySequence(text));
                }
            }
        }
    }
}

TEST(JSONTextTest, SlicesReadTheirPartOnly) {
    auto text = ns::JSONText::copy(R"([["a",1],{"b":[2,3]}])");
    const std::string_view whole = text->text();
    const ns::JSONSlice first(text, whole.substr(1, 7));
    const ns::JSONSlice second(text, whole.substr(9, 11));
    EXPECT_EQ(first.read().valueOr(ns::Value()), ns::Value::array({"a", 1}));
    EXPECT_EQ(second.read().valueOr(ns::Value()),
              ns::Value::dict({{"b", ns::Value::array({2, 3})}}));
    EXPECT_GE(second.readableBytes(), whole.size() - 9 + ns::JSONText::kPadding);
    EXPECT_THROW(ns::JSONSlice(text, std::string_view("[1]")), ns::Exception);
}

TEST(JSONTextTest, AdoptedBuffersAreReleasedOnce) {
    int released = 0;
    std::string buffer = "[1,2]" + std::string(ns::JSONText::kPadding, ' ');
    {
        auto text = ns::JSONText::adopt(buffer.data(), 5, buffer.size(), [&] { ++released; });
        EXPECT_EQ(ns::JSONSlice(text).read().valueOr(ns::Value()), ns::Value::array({1, 2}));
    }
    EXPECT_EQ(released, 1);
    // Without room for the padding the buffer is refused, and still released.
    EXPECT_THROW(ns::JSONText::adopt(buffer.data(), 5, 6, [&] { ++released; }), ns::Exception);
    EXPECT_EQ(released, 2);
}

// Reading part by part: strings and numbers come out as the tree reader reads them, and a
// part kept as text reads later as the same value.
TEST(JSONTextTest, OnDemandPartsMatchTheTreeReader) {
    const std::string text =
        R"({"sql":"INSERT \"x\"","params":[1,-2,3.5,18446744073709551615,1e30,)"
        R"(123456789012345678901234,0,-0,9007199254740992,9007199254740993,)"
        R"(999999999999999999,-999999999999999999,1000000000000000000,)"
        R"(9223372036854775807,9223372036854775808,-9223372036854775808,)"
        R"(-9223372036854775809,1E2,-0.5,12345678901234567.5,"\ud800"],"rest":{"k":[true,null]})"
        "\n\t }";
    ns::JSONReader reader(ns::JSONSlice(ns::JSONText::copy(text)));
    ASSERT_FALSE(reader.document().error());
    ns::ondemand::object root;
    ASSERT_FALSE(reader.document().get_object().get(root));
    ns::ondemand::value sql;
    ASSERT_FALSE(root.find_field("sql").get(sql));
    EXPECT_EQ(ns::json::string(sql).valueOr(""), "INSERT \"x\"");
    ns::ondemand::array params;
    ASSERT_FALSE(root.find_field("params").get_array().get(params));
    std::vector<ns::Value> read;
    for (auto element : params) {
        ns::ondemand::value param;
        ASSERT_FALSE(element.get(param));
        ns::ondemand::json_type type;
        ASSERT_FALSE(param.type().get(type));
        if (type == ns::ondemand::json_type::string) {
            auto lone = ns::json::string(param, true);
            ASSERT_TRUE(lone.ok());
            read.push_back(lone.value());
        } else {
            read.push_back(ns::json::number(param).valueOr(ns::Value("failed")));
        }
    }
    const auto expected = ns::JSONSerialization::read(
        R"([1,-2,3.5,18446744073709551615,1e30,123456789012345678901234,0,-0,9007199254740992,)"
        R"(9007199254740993,999999999999999999,-999999999999999999,1000000000000000000,)"
        R"(9223372036854775807,9223372036854775808,-9223372036854775808,)"
        R"(-9223372036854775809,1E2,-0.5,12345678901234567.5,"\ud800"])",
        {.loneSurrogatesReplaced = true});
    EXPECT_EQ(ns::Value(read), expected.valueOr(ns::Value()));
    ns::ondemand::value rest;
    ASSERT_FALSE(root.find_field("rest").get(rest));
    auto kept = ns::json::rawText(rest);
    ASSERT_TRUE(kept.ok());
    EXPECT_EQ(*kept, R"({"k":[true,null]})");
}

// Short decimal fractions, converted without the reader's help, come out as the tree reader
// reads them, to the bit: digits on either side of the point, at and past the digits a double
// holds exactly, signed zeros, leading zeros after the point.
TEST(JSONTextTest, ShortDecimalsReadAsTheTreeReaderReadsThem) {
    std::vector<std::string> tokens = {"0.0",
                                       "-0.0",
                                       "0.1",
                                       "0.000000000000001",
                                       "9007199254740.992",
                                       "9007199254740.993",
                                       "900719925474099.2",
                                       "0.9007199254740993",
                                       "12345678901234567.5",
                                       "1.7976931348623157",
                                       "2.675",
                                       "4.35"};
    uint64_t state = 88172645463325252u;
    for (int n = 0; n < 4000; ++n) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        const size_t digits = 1 + state % 17;
        std::string text = std::to_string(state >> 8).substr(0, digits);
        const size_t point = 1 + (state >> 4) % digits;
        if (point < text.size() && text.front() != '0')
            text.insert(point, ".");
        else
            text = "0." + text;
        tokens.push_back((state & 1) ? "-" + text : text);
    }
    for (const std::string& token : tokens) {
        const std::string text = "[" + token + "]";
        ns::JSONReader reader(ns::JSONSlice(ns::JSONText::copy(text)));
        ns::ondemand::array elements;
        ASSERT_FALSE(reader.document().get_array().get(elements)) << token;
        for (auto element : elements) {
            ns::ondemand::value value;
            ASSERT_FALSE(element.get(value)) << token;
            const auto read = ns::json::number(value);
            const auto tree = ns::JSONSerialization::read(text);
            ASSERT_TRUE(read.ok() && tree.ok()) << token;
            const ns::Value& expected = (*tree->array())[0];
            ASSERT_EQ(read->type(), expected.type()) << token;
            EXPECT_EQ(std::bit_cast<uint64_t>(*read->number()),
                      std::bit_cast<uint64_t>(*expected.number()))
                << token;
        }
    }
}

}  // namespace

// The on-demand reader's parser keeps the place of open containers to a fixed depth: one nested
// deeper is not entered (its text not taken, its check left to the tree reader), however deep
// the caller allows.
TEST(JSONTextTest, ContainersBeyondTheReadersDepthAreNotEntered) {
    const size_t nesting = ns::JSONReader::kMaxDepth + 8;
    const auto text = ns::JSONText::copy(std::string(nesting, '[') + std::string(nesting, ']'));
    const auto innerOf = [](ns::ondemand::value& outer, ns::ondemand::value& inner) {
        ns::ondemand::array elements;
        return !outer.get_array().get(elements) && !(*elements.begin()).get(inner);
    };
    for (const bool check : {false, true}) {
        ns::JSONReader reader{ns::JSONSlice(text)};
        ns::ondemand::value value;
        ASSERT_FALSE(reader.document().get_value().get(value));
        while (static_cast<size_t>(value.current_depth()) + 1 < ns::JSONReader::kMaxDepth) {
            ns::ondemand::value inner;
            ASSERT_TRUE(innerOf(value, inner));
            value = inner;
        }
        ns::ondemand::value deepest;
        ASSERT_TRUE(innerOf(value, deepest));
        if (check) {
            EXPECT_FALSE(ns::json::check(deepest, {.maxDepth = 4 * nesting}).ok());
        } else {
            EXPECT_FALSE(ns::json::rawText(deepest).ok());
        }
    }
}
