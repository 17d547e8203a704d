#include <gtest/gtest.h>

#include "signin/DSAuthenticationError.h"
#include "signin/DSLogger.h"
#include "tests/signin/SigninTestSupport.h"
#include "tests/support/LogCapture.h"

namespace {

using signintest::ScopedLogLines;

class Component : public DSLogContext {
public:
    std::optional<std::string> component() const override { return "cache"; }
};

TEST(DSLoggerTest, LevelsFilterAndZeroOrAbsentMessagesNeverLog) {
    ScopedLogLines lines;
    DSLogger::setLevel(DS_LOG_LEVEL_ERROR);
    DSLogger::log(DS_LOG_LEVEL_WARN, nullptr, "warned", 0, std::nullopt, std::nullopt);
    EXPECT_TRUE(lines.lines().empty());
    DSLogger::setLevel(DS_LOG_LEVEL_VERBOSE);
    DSLogger::log(DS_LOG_LEVEL_WARN, nullptr, "warned", 0, std::nullopt, std::nullopt);
    DSLogger::log(DS_LOG_LEVEL_NONE, nullptr, "none", 0, std::nullopt, std::nullopt);
    DSLogger::log(DS_LOG_LEVEL_ERROR, nullptr, std::nullopt, 0, std::nullopt, std::nullopt);
    ASSERT_EQ(lines.lines().size(), 1u);
    EXPECT_EQ(lines.lines()[0].level, DS_LOG_LEVEL_WARN);
}

TEST(DSLoggerTest, CallbackLineHasNoLevelNameAndSystemLineHasIt) {
    ScopedLogLines lines;
    testsupport::LogCapture system;
    DSLogger::setNSLogging(true);
    const ns::UUID correlation;
    Component component;
    DSLogger::log(DS_LOG_LEVEL_INFO, &component, "hello", 7, "more", correlation);
    DSLogger::log(DS_LOG_LEVEL_INFO, nullptr, "plain", 0, std::nullopt, std::nullopt);
    const auto got = lines.lines();
    ASSERT_EQ(got.size(), 2u);
    const std::string suffix = " - " + correlation.UUIDString() + "] [cache] hello";
    EXPECT_TRUE(got[0].message.starts_with("SAL 2.3.1 iOS ")) << got[0].message;
    EXPECT_TRUE(got[0].message.ends_with(suffix)) << got[0].message;
    EXPECT_EQ(got[0].info, "more");
    EXPECT_EQ(got[0].code, 7);
    // Without correlation the bracket closes right after the date.
    EXPECT_TRUE(got[1].message.ends_with("] plain"));
    EXPECT_EQ(got[1].message.find(" - "), std::string::npos);
    EXPECT_TRUE(system.contains("] [cache] INFO: hello"));
    EXPECT_TRUE(system.contains("] INFO: plain"));
}

TEST(DSLoggerTest, TokensAppearOnlyAsTheirHash) {
    ScopedLogLines lines;
    DSLogger::logToken("abc", "access token", std::nullopt, "ctx", std::nullopt);
    ASSERT_EQ(lines.lines().size(), 1u);
    EXPECT_TRUE(lines.lines()[0].message.ends_with("ctx access token (ba7816b)"));
}

TEST(DSLoggerTest, IdentificationHeadersAreCopies) {
    ns::Dictionary ids = DSLogger::salId();
    EXPECT_EQ(ids["x-client-SKU"], ns::Value("iOS"));
    EXPECT_EQ(ids["x-client-Ver"], ns::Value("2.3.1"));
    EXPECT_TRUE(ids.contains("x-client-OS"));
    EXPECT_TRUE(ids.contains("x-client-DM"));
    ids["x-client-Ver"] = "changed";
    EXPECT_EQ(DSLogger::salId()["x-client-Ver"], ns::Value("2.3.1"));
}

TEST(DSAuthenticationErrorTest, CodeNamesDependOnTheDomain) {
    EXPECT_EQ(DSAuthenticationError::getStringForErrorCode(302, DSAuthenticationErrorDomain),
              "DS_ERROR_CACHE_BAD_FORMAT");
    EXPECT_EQ(DSAuthenticationError::getStringForErrorCode(302, DSKeychainErrorDomain), "302");
    EXPECT_EQ(DSAuthenticationError::getStringForErrorCode(599, DSAuthenticationErrorDomain),
              "599");
    EXPECT_EQ(DSAuthenticationError::stringForADErrorCode(400),
              "DS_ERROR_UI_MULTLIPLE_INTERACTIVE_REQUESTS");
}

TEST(DSAuthenticationErrorTest, EveryErrorLogsOnceExceptTheQuietOne) {
    ScopedLogLines lines;
    const auto quiet = DSAuthenticationError::errorQuietWithAuthenticationError(203, "x", "y");
    EXPECT_TRUE(lines.lines().empty());
    const auto absent = DSAuthenticationError::initInternal(std::nullopt, 5, std::nullopt,
                                                            std::nullopt, std::nullopt, {}, false);
    EXPECT_EQ(absent.domain(), "SAL");
    const auto keychain =
        DSAuthenticationError::keychainErrorFromOperation("add", -25300, std::nullopt);
    EXPECT_EQ(keychain.code(), -25300);
    EXPECT_EQ(keychain.errorDetails(), "Keychain failed during \"add\" operation");
    const auto argument = DSAuthenticationError::errorFromArgument("v", "name", std::nullopt);
    EXPECT_EQ(argument.errorDetails(), "The argument 'name' is invalid. Value:v");
    EXPECT_EQ(argument.code(), 100);
    const auto got = lines.lines();
    ASSERT_EQ(got.size(), 3u);
    for (const auto& line : got) EXPECT_EQ(line.level, DS_LOG_LEVEL_ERROR);
    EXPECT_TRUE(got[1].message.ends_with(
        "Error raised: (Domain: \"DSKeychainErrorDomain\" Code: -25300 ProtocolCode: \"(null)\" "
        "Details: \"Keychain failed during \"add\" operation\""));
    EXPECT_THROW(DSAuthenticationError::errorFromArgument("v", " ", std::nullopt), ns::Exception);
}

}  // namespace
