#include <gtest/gtest.h>

#include "bridge/NSArray+HYBJSONSerializingPrivate.h"
#include "bridge/NSDictionary+HYBJSONSerializingPrivate.h"
#include "bridge/NSString+HYBJSONSerializingPrivate.h"
#include "tests/support/LogCapture.h"
#include "tests/support/NsPrinters.h"

namespace {

TEST(HYBJSONSerializingPrivateTest, ArrayIsCompact) {
    EXPECT_EQ(hyb_JSONString(ns::Array{"a \"q\""}), R"(["a \"q\""])");
    EXPECT_EQ(hyb_JSONString(ns::Array{1, ns::Value::dict({{"k", nullptr}})}), R"([1,{"k":null}])");
}

TEST(HYBJSONSerializingPrivateTest, DictionaryIsPrettyPrinted) {
    auto text = hyb_JSONString(ns::Dictionary{{"a", 1}});
    ASSERT_TRUE(text);
    EXPECT_NE(text->find('\n'), std::string::npos);
}

TEST(HYBJSONSerializingPrivateTest, WriteErrorsAreLoggedAndGiveNothing) {
    testsupport::LogCapture log;
    EXPECT_FALSE(hyb_JSONString(ns::Array{ns::Value(ns::Data())}));
    EXPECT_TRUE(log.contains("NSArray JSONString error: "));
    EXPECT_FALSE(hyb_JSONString(ns::Dictionary{{"d", ns::Value(ns::Date())}}));
    EXPECT_TRUE(log.contains("NSDictionary JSONString error: "));
}

TEST(HYBJSONSerializingPrivateTest, ObjectNeedsAContainerWhileFragmentTakesAnyValue) {
    testsupport::LogCapture log;
    EXPECT_FALSE(hyb_JSONObject("42"));
    ASSERT_EQ(log.texts().size(), 1u);
    EXPECT_EQ(log.texts()[0].rfind("NSString JSONObject error: ", 0), 0u);
    EXPECT_NE(log.texts()[0].find(", Malformed Data: 42"), std::string::npos);
    EXPECT_EQ(hyb_JSONFragment("42"), ns::Value(42));
    EXPECT_EQ(hyb_JSONObject("[1,[2]]"), ns::Value::array({1, ns::Value::array({2})}));
    log.clear();
    EXPECT_FALSE(hyb_JSONFragment("{"));
    EXPECT_TRUE(log.contains("NSString JSONObject error: "));
    EXPECT_FALSE(log.contains("Malformed Data"));
}

}  // namespace
