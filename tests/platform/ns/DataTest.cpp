#include "platform/ns/Data.h"

#include <gtest/gtest.h>

#include "tests/support/NsPrinters.h"

namespace {

using ns::Data;

Data bytes(std::initializer_list<uint8_t> b) {
    return Data(std::vector<uint8_t>(b));
}

TEST(DataBase64, EncodesWithPadding) {
    EXPECT_EQ(Data().base64EncodedString(), "");
    EXPECT_EQ(Data::fromString("f").base64EncodedString(), "Zg==");
    EXPECT_EQ(Data::fromString("fo").base64EncodedString(), "Zm8=");
    EXPECT_EQ(Data::fromString("foo").base64EncodedString(), "Zm9v");
    EXPECT_EQ(Data::fromString("foobar").base64EncodedString(), "Zm9vYmFy");
    EXPECT_EQ(bytes({0xFB, 0xFF, 0xBF}).base64EncodedString(), "+/+/");
    EXPECT_EQ(bytes({0, 1, 2}).base64EncodedString(), "AAEC");
}

TEST(DataBase64, URLFormSwapsTheTwoSymbolsAndDropsPadding) {
    EXPECT_EQ(Data().base64URLEncodedString(), "");
    EXPECT_EQ(Data::fromString("f").base64URLEncodedString(), "Zg");
    EXPECT_EQ(Data::fromString("fo").base64URLEncodedString(), "Zm8");
    EXPECT_EQ(bytes({0xFB, 0xFF, 0xBF, 0xFB}).base64URLEncodedString(), "-_-_-w");
}

TEST(DataBase64, LargeDataEncodesAsOneText) {
    // Past the encoder's block of input, with a remainder that needs padding.
    std::vector<uint8_t> large((size_t{3} << 24) + 4);
    for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    const Data data(large);
    const std::string text = data.base64EncodedString();
    EXPECT_EQ(text.size(), (large.size() + 2) / 3 * 4);
    EXPECT_EQ(text.substr(text.size() - 4),
              Data(large.data() + large.size() - 1, 1).base64EncodedString());
    EXPECT_EQ(Data::fromBase64(text), data);
}

TEST(DataBase64, DecodesValidText) {
    EXPECT_EQ(Data::fromBase64(""), Data());
    EXPECT_EQ(Data::fromBase64("AAEC"), bytes({0, 1, 2}));
    EXPECT_EQ(Data::fromBase64("Zg=="), Data::fromString("f"));
    EXPECT_EQ(Data::fromBase64("Zm8="), Data::fromString("fo"));
    EXPECT_EQ(Data::fromBase64("+/+/"), bytes({0xFB, 0xFF, 0xBF}));
    // Non-zero bits under the padding are tolerated.
    EXPECT_EQ(Data::fromBase64("Zh=="), Data::fromString("f"));
}

TEST(DataBase64, RefusesAnythingNotStrict) {
    for (const char* text : {"Zg", "Zg=", "Zm9", "Z===", "====", "Zg==Zg==", "Z=g=", "Zm 9v",
                             "Zm9v\n", "Zm9-", "Zm9_", "Zm9v=", "A", "\xC3\xA9\xC3\xA9"}) {
        EXPECT_FALSE(Data::fromBase64(text).has_value()) << text;
    }
    EXPECT_FALSE(Data::fromBase64(std::string_view("AA\0A", 4)).has_value());
}

TEST(DataDescription, ShortAndLongForms) {
    EXPECT_EQ(Data().description(), "{length = 0, bytes = 0x}");
    EXPECT_EQ(bytes({0, 1, 2}).description(), "{length = 3, bytes = 0x000102}");
    std::vector<uint8_t> hundred(100);
    for (size_t i = 0; i < hundred.size(); ++i) hundred[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(Data(hundred).description(),
              "{length = 100, bytes = 0x00010203 04050607 ... 5c5d5e5f 60616263 }");
    std::string hex;
    for (int i = 0; i < 24; ++i) hex += "ab";
    EXPECT_EQ(Data(std::vector<uint8_t>(24, 0xAB)).description(),
              "{length = 24, bytes = 0x" + hex + "}");
}

}  // namespace
