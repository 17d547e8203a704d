// Decimal numbers, digests, query strings and the keychain wrapper.
#include "platform/ns/Sandbox.h"
#include "platform/sec/Keychain.h"
#include "platform/sec/SecItem.h"
#include "sdk/analytics/NEBADecimal.h"
#include "sdk/analytics/NEBAKeychainWrapper.h"
#include "sdk/analytics/NEBNSDictionaryQuery.h"
#include "sdk/analytics/NSData+MD5.h"
#include "sdk/analytics/NSString+NEBD5Additions.h"
#include "tests/sdk/analytics/AnalyticsFixture.h"

namespace {

using analyticstest::AnalyticsTest;
using NEBAUtilitiesTest = AnalyticsTest;

TEST_F(NEBAUtilitiesTest, DecimalsAreExactAndRefuseWhatTheyCannotHold) {
    for (const char* yes : {"5", "-5.", ".5", "+0.25", "00012.500"})
        EXPECT_TRUE(NEBADecimal::isDecimalString(yes)) << yes;
    for (const char* no : {"", "1e5", "1,5", "..5", "+", ".", " 5"})
        EXPECT_FALSE(NEBADecimal::isDecimalString(no)) << no;
    EXPECT_EQ(NEBADecimal::decimalFromString(".5")->text(), "0.5");
    EXPECT_EQ(NEBADecimal::decimalFromString("-5.")->text(), "-5");
    EXPECT_EQ(NEBADecimal::decimalFromString("00012.500")->text(), "12.5");
    EXPECT_EQ(NEBADecimal::decimalFromString("-0.000")->text(), "0");
    std::string digits38(38, '9');
    EXPECT_EQ(NEBADecimal::decimalFromString(digits38)->text(), digits38);
    EXPECT_FALSE(NEBADecimal::decimalFromString(digits38 + "1"));
    EXPECT_TRUE(logs().contains("loss of precision"));
    EXPECT_FALSE(NEBADecimal::decimalFromString("1" + std::string(200, '0')));
    auto a = *NEBADecimal::decimalFromString("0.1");
    auto b = *NEBADecimal::decimalFromString("0.10000000000000000000000000000000000001");
    EXPECT_LT(a, b);
    EXPECT_LT(*NEBADecimal::decimalFromString("-10"), *NEBADecimal::decimalFromString("-9.5"));
    EXPECT_EQ(NEBADecimal(int64_t{1200}), *NEBADecimal::decimalFromString("1200.0"));
    EXPECT_EQ(NEBADecimal(INT64_MIN).text(), "-9223372036854775808");
}

TEST_F(NEBAUtilitiesTest, DigestsAndQueryStrings) {
    EXPECT_EQ(neba_64LeastSignificantBits("\x01\x02"), 258);
    EXPECT_EQ(neba_MD5String("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(neba_64LSBMD5("abc"), static_cast<int64_t>(0xd6963f7d28e17f72ULL));
    EXPECT_FALSE(neba_MD5String("\xff"));

    auto decoded = neba_dictionaryWithHttpArgumentsString("a=1&b=2&a=3&&x&q=a+b%20c&bad=%zz");
    EXPECT_EQ(decoded.at("a").stringValue(), "1");
    EXPECT_EQ(decoded.at("b").stringValue(), "2");
    EXPECT_EQ(decoded.at("x").stringValue(), "");
    EXPECT_EQ(decoded.at("q").stringValue(), "a b c");
    EXPECT_FALSE(decoded.contains("bad"));
    ns::Dictionary pairs{{"k y", ns::Value("a&b=c+d#e\xc3\xa9")}, {"n=&", ns::Value("3")}};
    EXPECT_EQ(neba_queryString(pairs), "k%20y=a%26b%3Dc%2Bd%23e%C3%A9&n%3D%26=3");
    EXPECT_EQ(neba_dictionaryWithHttpArgumentsString(neba_queryString(pairs)), pairs);
}

TEST_F(NEBAUtilitiesTest, KeychainHoldsOneValuePerIdentifier) {
    sec::Keychain::setDirectory(ns::Sandbox::keychainDirectory());
    NEBAKeychainWrapper keychain(sec::Keychain::shared());
    EXPECT_TRUE(keychain.upsertKeychainValue("1", "_pfo", "com.example.app"));
    EXPECT_TRUE(keychain.upsertKeychainValue("2", "_pfo", "com.example.app"));
    EXPECT_EQ(keychain.keychainValueWithIdentifier("_pfo", "com.example.app"), "2");
    EXPECT_FALSE(keychain.keychainValueWithIdentifier("_pfo", "com.other.app"));
    EXPECT_FALSE(keychain.upsertKeychainValue("1", "", "com.example.app"));
    EXPECT_FALSE(keychain.upsertKeychainValue("1", "_pfo", ""));
    EXPECT_FALSE(keychain.upsertKeychainValue("", "_pfo", "com.example.app"));
    EXPECT_TRUE(keychain.deleteKeychainValueWithIdentifier("_pfo", "com.example.app"));
    EXPECT_FALSE(keychain.keychainDataWithIdentifier("_pfo", "com.example.app"));
    EXPECT_TRUE(keychain.deleteKeychainValueWithIdentifier("_pfo", "com.example.app"));
}

// An item that holds no value reads as absent; a write must still take its place rather than
// fail beside it.
TEST_F(NEBAUtilitiesTest, KeychainWriteReplacesAnItemWithoutValue) {
    sec::Keychain::setDirectory(ns::Sandbox::keychainDirectory());
    NEBAKeychainWrapper keychain(sec::Keychain::shared());
    auto item = NEBAKeychainWrapper::searchDirectoryForIdentifier("_pfo", "com.example.app");
    ASSERT_TRUE(item);
    (*item)[sec::kSecValueData] = ns::Value(ns::Data());
    ASSERT_EQ(sec::Keychain::shared().add(*item, nullptr), sec::errSecSuccess);
    ASSERT_FALSE(keychain.keychainValueWithIdentifier("_pfo", "com.example.app"));

    EXPECT_TRUE(keychain.upsertKeychainValue("4", "_pfo", "com.example.app"));
    EXPECT_EQ(keychain.keychainValueWithIdentifier("_pfo", "com.example.app"), "4");
}

}  // namespace
