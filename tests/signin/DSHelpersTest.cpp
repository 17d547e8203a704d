#include <gtest/gtest.h>

#include "platform/sec/Digest.h"
#include "signin/DSHelpers.h"
#include "signin/DSLogger.h"
#include "signin/DSStringHelpers.h"

namespace {

TEST(DSHelpersTest, KeyDerivationKnownAnswersAreOneHmacBlock) {
    std::vector<uint8_t> key16(16), key64(64);
    for (size_t i = 0; i < key64.size(); ++i) key64[i] = static_cast<uint8_t>(i);
    for (size_t i = 0; i < key16.size(); ++i) key16[i] = static_cast<uint8_t>(i);
    const ns::Data context = ns::Data::fromString("ctx");
    EXPECT_EQ(sec::hexString(DSHelpers::computeKDFInCounterMode(ns::Data(key16), context)),
              "475fcd0edd8fcba352859cadc5ded9afacb496e34fd1d91325f9720d1c0227ff");
    EXPECT_EQ(sec::hexString(DSHelpers::computeKDFInCounterMode(ns::Data(key64), context)),
              "70954b1f4ae6539d9fffb00e9fcabbda47fd2678ce6272995e22443e0f4a4d17");
}

TEST(DSHelpersTest, LogHashAndDigestKnownAnswers) {
    EXPECT_EQ(DSLogger::getHash("abc"), "ba7816b");
    EXPECT_EQ(DSLogger::getHash(std::nullopt), std::nullopt);
    EXPECT_EQ(dsComputeSHA256("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(DSHelpersTest, Base64UrlIsUnpaddedUrlSafeAndRoundTrips) {
    // 0xfb 0xff encodes to "+/8=" in the standard alphabet.
    EXPECT_EQ(adBase64UrlEncode("\xfb\xff"), "-_8");
    EXPECT_EQ(adBase64UrlEncode(""), "");
    EXPECT_EQ(adBase64UrlEncode("user@example.com"), "dXNlckBleGFtcGxlLmNvbQ");
    for (std::string text : {"", "a", "ab", "abc", "abcd", "ünïcødé ✓", "user@example.com"}) {
        EXPECT_EQ(adBase64UrlDecode(adBase64UrlEncode(text)), text) << text;
    }
    EXPECT_EQ(adBase64UrlDecode("dXNlckBleGFtcGxlLmNvbQ=="), "user@example.com");
    EXPECT_EQ(adBase64UrlDecode("a+b/"), std::nullopt);  // standard alphabet is refused
    EXPECT_EQ(adBase64UrlDecode("abcde"), std::nullopt);
    EXPECT_EQ(adBase64UrlDecode(adBase64UrlEncodeData("\xff\xfe")), std::nullopt);  // not UTF-8
}

TEST(DSHelpersTest, ConvertsBase64UrlToPaddedBase64) {
    EXPECT_EQ(DSHelpers::convertBase64UrlStringToBase64NSString("ab-_cd"), "ab+/cd==");
    EXPECT_EQ(DSHelpers::convertBase64UrlStringToBase64NSString("abcdefg"), "abcdefg=");
    EXPECT_EQ(DSHelpers::convertBase64UrlStringToBase64NSString("abcd"), "abcd");
    EXPECT_EQ(DSHelpers::convertBase64UrlStringToBase64NSString("abcde"), "abcde");
}

TEST(DSHelpersTest, FDSAuthoritiesAndEndpointNames) {
    EXPECT_TRUE(DSHelpers::isFDSInstance("https://sts.example/fds/ls"));
    EXPECT_TRUE(DSHelpers::isFDSInstance("https://sts.example/FDS/ls"));
    EXPECT_FALSE(DSHelpers::isFDSInstanceURL(ns::URL::parse("https://sts.example/FDS/ls")));
    EXPECT_FALSE(DSHelpers::isFDSInstance("https://sts.example/common"));
    EXPECT_FALSE(DSHelpers::isFDSInstance("  "));
    EXPECT_EQ(DSHelpers::getEndpointName("https://Host/Tenant/OAuth2/Token"), "token");
    EXPECT_EQ(DSHelpers::getEndpointName("https://host"), std::nullopt);
}

TEST(DSHelpersTest, ClientVersionJoinsTheQueryOnce) {
    EXPECT_EQ(DSHelpers::addClientVersionToURLString("https://h/p?a=1"),
              "https://h/p?a=1&x-client-Ver=2.3.1");
    EXPECT_EQ(DSHelpers::addClientVersionToURLString("https://h/p"),
              "https://h/p?x-client-Ver=2.3.1");
    EXPECT_EQ(DSHelpers::addClientVersionToURLString("https://h/p?b=2&x-client-Ver=9"),
              "https://h/p?b=2&x-client-Ver=9");
    EXPECT_EQ(DSHelpers::addClientVersionToURLString(std::nullopt), std::nullopt);
}

TEST(DSHelpersTest, SignedTokenVerifiesWithTheDerivedKey) {
    const ns::Data key = ns::Data::fromString("0123456789abcdef");
    const std::string jwt = DSHelpers::createSignedJWTUsingKeyDerivation(
        {{"alg", "HS256"}}, {{"aud", "x"}}, "context", key);
    const size_t dot = jwt.rfind('.');
    const ns::Data derived =
        DSHelpers::computeKDFInCounterMode(key, ns::Data::fromString("context"));
    EXPECT_EQ(jwt.substr(dot + 1),
              sec::hmacSHA256(derived.chars(), jwt.substr(0, dot)).base64EncodedString());
    EXPECT_NE(adBase64UrlDecode(jwt.substr(0, jwt.find('.')))->find("\"alg\""), std::string::npos);
}

TEST(DSHelpersTest, BlankAndTrim) {
    EXPECT_TRUE(dsIsStringNilOrBlank(std::optional<std::string>()));
    EXPECT_TRUE(dsIsStringNilOrBlank(" \t\n"));
    EXPECT_FALSE(dsIsStringNilOrBlank(" x "));
    EXPECT_EQ(dsTrimmedString("\t x y \n"), "x y");
    EXPECT_EQ(dsURLFormEncode({{"a b", "c&d"}, {"e", "f=g"}}), "a%20b=c%26d&e=f%3Dg");
}

}  // namespace
