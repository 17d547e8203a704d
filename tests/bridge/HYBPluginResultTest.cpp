#include "bridge/HYBPluginResult.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/ns/JSONSerialization.h"
#include "tests/support/LogCapture.h"
#include "tests/support/NsPrinters.h"

namespace {

TEST(HYBPluginResultTest, MessagesAsTheirJSONValue) {
    struct Case {
        std::shared_ptr<HYBPluginResult> result;
        std::string json;
    };
    const Case cases[] = {
        {HYBPluginResult::resultWithStatus(HYBResultStatusOK), "null"},
        {std::make_shared<HYBPluginResult>(), "null"},
        {HYBPluginResult::resultWithStatusMessageAsBool(HYBResultStatusOK, true), "true"},
        {HYBPluginResult::resultWithStatusMessageAsBool(HYBResultStatusOK, false), "false"},
        {HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK, "say \"hi\""),
         R"("say \"hi\"")"},
        {HYBPluginResult::resultWithStatusMessageAsInt(HYBResultStatusError, -1), "-1"},
        {HYBPluginResult::resultWithStatusMessageAsNSInteger(HYBResultStatusOK, -(1LL << 40)),
         "-1099511627776"},
        {HYBPluginResult::resultWithStatusMessageAsNSUInteger(HYBResultStatusOK, UINT64_MAX),
         "18446744073709551615"},
        {HYBPluginResult::resultWithStatusMessageAsDouble(HYBResultStatusOK, 2.5), "2.5"},
        {HYBPluginResult::resultWithStatusMessageAsArray(HYBResultStatusOK, {1, "a"}),
         R"([1,"a"])"},
        {HYBPluginResult::resultWithStatusMessageAsDictionary(HYBResultStatusOK,
                                                              {{"b", 2}, {"a", true}}),
         R"({"a":true,"b":2})"},
        {HYBPluginResult::resultWithStatusMessageToErrorObject(HYBResultStatusError, 3),
         R"({"code":3})"},
        {HYBPluginResult::resultWithStatusMessageAsArrayBuffer(
             HYBResultStatusOK, ns::Data(std::vector<uint8_t>{0, 1, 2})),
         R"({"HYBType":"ArrayBuffer","data":"AAEC"})"},
        {HYBPluginResult::resultWithStatusMessageAsArrayBuffer(HYBResultStatusOK, ns::Data()),
         R"({"HYBType":"ArrayBuffer","data":""})"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result->argumentsAsJSON(), c.json);
        EXPECT_FALSE(c.result->keepCallback());
    }
}

TEST(HYBPluginResultTest, ArrayBufferFastPathMatchesTheGeneralWriter) {
    ns::Data bytes(std::vector<uint8_t>{0xff, 0xfe, 0x00, 0x10, 0x7f});
    auto result = HYBPluginResult::resultWithStatusMessageAsArrayBuffer(HYBResultStatusOK, bytes);
    auto general = ns::JSONSerialization::write(ns::Value(ns::Array{result->message()}));
    ASSERT_TRUE(general.ok());
    EXPECT_EQ("[" + result->argumentsAsJSON() + "]", *general);
    EXPECT_EQ(result->message()["data"], ns::Value(bytes.base64EncodedString()));
}

TEST(HYBPluginResultTest, MultipartWrapsOnlyBinaryParts) {
    ns::Array parts{ns::Value(ns::Data(std::vector<uint8_t>{0, 1, 2})), "text", 5};
    auto result = HYBPluginResult::resultWithStatusMessageAsMultipart(HYBResultStatusOK, parts);
    EXPECT_EQ(result->argumentsAsJSON(),
              R"({"HYBType":"MultiPart","messages":[{"HYBType":"ArrayBuffer","data":"AAEC"},)"
              R"("text",5]})");
}

TEST(HYBPluginResultTest, MessageWithoutJSONFormReachesThePageAsNull) {
    testsupport::LogCapture log;
    const ns::Value unwritable[] = {
        std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::infinity(),
        ns::Value(ns::Date::fromTimeIntervalSince1970(0)),
        ns::Value(ns::Data::fromString("raw")),
        ns::Value::array({1, std::nan("")}),
    };
    for (const ns::Value& message : unwritable) {
        log.clear();
        HYBPluginResult result(HYBResultStatusOK, message);
        EXPECT_EQ(result.argumentsAsJSON(), "null");
        ASSERT_EQ(log.texts().size(), 1u);
        EXPECT_EQ(log.texts()[0].rfind("NSArray JSONString error: ", 0), 0u) << log.texts()[0];
    }
}

TEST(HYBPluginResultTest, IllFormedTextIsRepairedNotDropped) {
    // The writer replaces bytes that are not UTF-8, so the page still gets valid text.
    auto result = HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK, "a\xff\xfe");
    EXPECT_EQ(result->argumentsAsJSON(), "\"a\xEF\xBF\xBD\xEF\xBF\xBD\"");
}

TEST(HYBPluginResultTest, KeepCallbackChangesOnlyWhenSet) {
    auto result = HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK, "x");
    EXPECT_FALSE(result->keepCallback());
    result->setKeepCallbackAsBool(true);
    EXPECT_TRUE(result->keepCallback());
    result->setKeepCallback(false);
    EXPECT_FALSE(result->keepCallback());
}

TEST(HYBPluginResultTest, AMessageGivenAsTextGoesAsItIsAndReadsBack) {
    auto result =
        HYBPluginResult::resultWithStatusMessageAsJSON(HYBResultStatusOK, R"({"a":[1,2.5,"x"]})");
    EXPECT_EQ(result->argumentsAsJSON(), R"({"a":[1,2.5,"x"]})");
    std::string out = "cb(";
    result->appendArgumentsAsJSON(out, 1);
    EXPECT_EQ(out, R"(cb({"a":[1,2.5,"x"]})");
    // Copies share the text and read it once.
    const HYBPluginResult copy = *result;
    EXPECT_EQ(copy.message(), ns::Value::dict({{"a", ns::Value::array({1, 2.5, "x"})}}));
    EXPECT_EQ(&copy.message(), &result->message());
    EXPECT_EQ(HYBPluginResult::resultWithStatusMessageAsJSON(HYBResultStatusOK, "7")->message(),
              ns::Value(7));
}

}  // namespace
