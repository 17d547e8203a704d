#include "toolbox/Foundation/NSDK_TBXStringEncoding.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/ns/Exception.h"

namespace {

using Factory = std::function<std::shared_ptr<NSDK_TBXStringEncoding>()>;

struct Vector {
    const char* name;
    Factory make;
    std::string plain;
    std::string encoded;
};

class StringEncodingVectorTest : public testing::TestWithParam<Vector> {};

TEST_P(StringEncodingVectorTest, EncodesAndDecodesKnownText) {
    const auto& v = GetParam();
    auto encoding = v.make();
    ASSERT_TRUE(encoding);
    EXPECT_EQ(encoding->encodeString(v.plain), v.encoded);
    const auto decoded = encoding->decode(v.encoded);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->chars(), v.plain);
}

INSTANTIATE_TEST_SUITE_P(
    Known, StringEncodingVectorTest,
    testing::Values(
        Vector{"base64_abc", NSDK_TBXStringEncoding::rfc4648Base64StringEncoding, "abc", "YWJj"},
        Vector{"base64_a", NSDK_TBXStringEncoding::rfc4648Base64StringEncoding, "a", "YQ=="},
        Vector{"base64_foobar", NSDK_TBXStringEncoding::rfc4648Base64StringEncoding, "fooba",
               "Zm9vYmE="},
        Vector{"websafe", NSDK_TBXStringEncoding::rfc4648Base64WebsafeStringEncoding,
               "\xfb\xff\xbf", "-_-_"},
        Vector{"base32_a", NSDK_TBXStringEncoding::rfc4648Base32StringEncoding, "a", "ME======"},
        Vector{"base32_foobar", NSDK_TBXStringEncoding::rfc4648Base32StringEncoding, "foobar",
               "MZXW6YTBOI======"},
        Vector{"base32hex", NSDK_TBXStringEncoding::rfc4648Base32HexStringEncoding, "foobar",
               "CPNMUOJ1E8======"},
        Vector{"crockford", NSDK_TBXStringEncoding::crockfordBase32StringEncoding, "foobar",
               "CSQPYRK1E8"},
        Vector{"hex", NSDK_TBXStringEncoding::hexStringEncoding, "\x01\xab\xff", "01ABFF"},
        Vector{"binary", NSDK_TBXStringEncoding::binaryStringEncoding, "\xa5", "10100101"},
        Vector{"empty", NSDK_TBXStringEncoding::rfc4648Base64StringEncoding, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StringEncodingTest, RoundTripsEveryAlphabetSizeAndLength) {
    // All of ASCII, the padding character last so that only the 128-character alphabet uses it.
    std::string alphabet;
    for (int c = 0; c < 128; ++c) {
        if (c != '=') alphabet += static_cast<char>(c);
    }
    alphabet += '=';
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 40; ++i) bytes.push_back(static_cast<uint8_t>(i * 97 + 13));
    for (size_t size = 2; size <= 128; size *= 2) {
        auto encoding = NSDK_TBXStringEncoding::stringEncodingWithString(alphabet.substr(0, size));
        ASSERT_TRUE(encoding) << size;
        for (bool pad : {false, true}) {
            if (pad && size == 128) continue;
            if (pad) encoding->setPaddingChar('=');
            encoding->setDoPad(pad);
            for (size_t n = 0; n <= bytes.size(); ++n) {
                const ns::Data data(bytes.data(), n);
                const auto text = encoding->encode(data);
                EXPECT_EQ(encoding->decode(text), data) << size << " " << n << " " << text;
            }
        }
    }
}

TEST(StringEncodingTest, PaddingIsOptionalButOnlyAtTheEnd) {
    auto base64 = NSDK_TBXStringEncoding::rfc4648Base64StringEncoding();
    EXPECT_EQ(base64->stringByDecoding("YQ"), "a");
    EXPECT_EQ(base64->stringByDecoding("YQ="), "a");
    EXPECT_EQ(base64->stringByDecoding("YQ======"), "a");
    EXPECT_FALSE(base64->decode("YQ=a"));
    EXPECT_FALSE(base64->decode("Y=Q="));
    base64->setDoPad(false);
    EXPECT_EQ(base64->encodeString("a"), "YQ");
}

TEST(StringEncodingTest, OnlyCanonicalTextDecodes) {
    auto base64 = NSDK_TBXStringEncoding::rfc4648Base64StringEncoding();
    EXPECT_FALSE(base64->decode("YR=="));  // leftover bits not zero
    EXPECT_FALSE(base64->decode("Y"));
    EXPECT_FALSE(base64->decode("YW Jj"));  // unknown character
    EXPECT_FALSE(base64->decode("YWJ\xc3\xa9"));
    EXPECT_EQ(base64->decode(""), ns::Data());
    EXPECT_TRUE(base64->decode("/w=="));
    EXPECT_FALSE(base64->stringByDecoding("/w=="));  // not UTF-8 text
    auto base32 = NSDK_TBXStringEncoding::rfc4648Base32StringEncoding();
    EXPECT_FALSE(base32->decode("MF======"));
    EXPECT_FALSE(base32->decode("me======"));  // no lower-case synonyms
}

TEST(StringEncodingTest, SynonymsDecodeLikeTheirGroupLeader) {
    auto hex = NSDK_TBXStringEncoding::hexStringEncoding();
    EXPECT_EQ(hex->decode("ff"), hex->decode("FF"));
    EXPECT_EQ(hex->decode("fF")->vector(), std::vector<uint8_t>{0xFF});
    EXPECT_FALSE(hex->decode("fg"));

    auto crockford = NSDK_TBXStringEncoding::crockfordBase32StringEncoding();
    EXPECT_FALSE(crockford->doPad());
    EXPECT_EQ(crockford->decode("oOiIlL00"), crockford->decode("00111100"));
    EXPECT_EQ(crockford->decode("csqpyrk1e8"), crockford->decode("CSQPYRK1E8"));
    EXPECT_FALSE(crockford->decode("U0"));
}

TEST(StringEncodingTest, IgnoredCharactersAreSkipped) {
    auto base64 = NSDK_TBXStringEncoding::rfc4648Base64StringEncoding();
    base64->ignoreCharacters(" \n");
    EXPECT_EQ(base64->stringByDecoding("YW\nJj Y Q = ="), "abca");
    EXPECT_THROW(base64->ignoreCharacters("A"), ns::Exception);
    EXPECT_THROW(base64->ignoreCharacters("="), ns::Exception);
}

TEST(StringEncodingTest, CharactersOutsideASCIIAreRefused) {
    auto hex = NSDK_TBXStringEncoding::hexStringEncoding();
    EXPECT_THROW(hex->setPaddingChar('\xC3'), ns::Exception);
    EXPECT_THROW(hex->addDecodeSynonyms("A\xC3"), ns::Exception);
    EXPECT_THROW(hex->ignoreCharacters("\x80"), ns::Exception);
    EXPECT_EQ(hex->encodeString("\x12"), "12");  // the encoder is unchanged
}

TEST(StringEncodingTest, UnusableAlphabetsGiveNoEncoder) {
    EXPECT_FALSE(NSDK_TBXStringEncoding::stringEncodingWithString(""));
    EXPECT_FALSE(NSDK_TBXStringEncoding::stringEncodingWithString("0"));
    EXPECT_FALSE(NSDK_TBXStringEncoding::stringEncodingWithString("012"));
    EXPECT_FALSE(NSDK_TBXStringEncoding::stringEncodingWithString("0120"));
    EXPECT_FALSE(NSDK_TBXStringEncoding::stringEncodingWithString("0\xC3"));
    EXPECT_FALSE(NSDK_TBXStringEncoding::stringEncodingWithString(std::string(256, 'a')));
    EXPECT_TRUE(NSDK_TBXStringEncoding::stringEncodingWithString("01"));
}

TEST(StringEncodingTest, OutputLengthsFollowThePaddingBlock) {
    EXPECT_EQ(NSDK_TBXStringEncoding::binaryStringEncoding()->encode(ns::Data("ab", 2)).size(),
              16u);
    auto base32 = NSDK_TBXStringEncoding::rfc4648Base32StringEncoding();
    for (size_t n = 1; n <= 10; ++n) {
        EXPECT_EQ(base32->encode(ns::Data(std::vector<uint8_t>(n))).size() % 8, 0u) << n;
    }
    EXPECT_EQ(NSDK_TBXStringEncoding::hexStringEncoding()->description(),
              "<Base16 StringEncoder: <30313233 34353637 38394142 43444546>>");
}

}  // namespace
