#include "platform/sec/Digest.h"

#include <gtest/gtest.h>

#include "platform/sec/Random.h"

namespace {

using sec::hexString;

TEST(Digest, KnownAnswers) {
    struct Case {
        ns::Data (*digest)(std::string_view);
        std::string_view input;
        const char* hex;
    };
    const Case cases[] = {
        {sec::md5, "", "d41d8cd98f00b204e9800998ecf8427e"},
        {sec::md5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {sec::sha1, "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {sec::sha1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {sec::sha256, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {sec::sha256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hexString(c.digest(c.input)), c.hex) << c.input;
    }
    EXPECT_EQ(sec::sha1(ns::Data::fromString("abc")).length(), sec::kSHA1Length);
}

TEST(Digest, HmacSHA256MatchesPublishedVectors) {
    EXPECT_EQ(hexString(sec::hmacSHA256(std::string(20, '\x0b'), "Hi There")),
              "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
    EXPECT_EQ(hexString(sec::hmacSHA256(ns::Data::fromString("Jefe"),
                                        ns::Data::fromString("what do ya want for nothing?"))),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    // An empty key is a key of zero bytes, not a failure.
    EXPECT_EQ(sec::hmacSHA256("", "").length(), sec::kSHA256Length);
}

TEST(Digest, HexStringIsLowerCaseTwoDigitsPerByte) {
    EXPECT_EQ(hexString(std::string_view("\x00\x0f\xa0\xff", 4)), "000fa0ff");
    EXPECT_EQ(hexString(""), "");
}

TEST(Digest, LogDigestIsTheFirstSevenHexDigitsOfTheSecretsSHA256) {
    EXPECT_EQ(sec::logDigest("secret"), "2bb80d5");
    EXPECT_EQ(sec::logDigest("abc"), "ba7816b");
    EXPECT_NE(sec::logDigest("secret"), sec::logDigest("secret2"));
}

TEST(Random, GivesTheBytesAskedForAndNeverTheSameTwice) {
    EXPECT_TRUE(sec::randomBytes(0).empty());
    ns::Data a = sec::randomBytes(32);
    ns::Data b = sec::randomBytes(32);
    EXPECT_EQ(a.length(), 32u);
    EXPECT_NE(a, b);
}

}  // namespace
