#include <gtest/gtest.h>

#include "signin/DSUserIdentifier.h"
#include "signin/DSUserInformation.h"
#include "tests/signin/SigninTestSupport.h"
#include "tests/support/LogCapture.h"

namespace {

using signintest::idToken;
using signintest::ScopedLogLines;

const ns::Value kJwtHeader = ns::Value::dict({{"typ", "JWT"}, {"alg", "none"}});

TEST(DSUserInformationTest, KnownTokenGivesTrimmedLowerCaseUpnAndUniqueId) {
    // Header and payload encoded independently of the library.
    const std::string token =
        "eyJ0eXAiOiAiSldUIiwgImFsZyI6ICJub25lIn0."
        "eyJ1cG4iOiAiICBKb2huLkRvZUBFeGFtcGxlLkNPTSAiLCAib2lkIjogIk9JRC0xIiwgInN1YiI6ICJTdWItMSIs"
        "ICJ0aWQiOiAidDEifQ.";
    std::optional<DSAuthenticationError> error;
    auto info = DSUserInformation::initWithIdToken(token, &error);
    ASSERT_TRUE(info) << (error ? error->description() : "");
    EXPECT_EQ(info->userId(), "john.doe@example.com");
    EXPECT_TRUE(info->userIdDisplayable());
    EXPECT_EQ(info->uniqueId(), "oid-1");
    EXPECT_EQ(info->tenantId(), "t1");
    EXPECT_EQ(info->rawIdToken(), token);
    EXPECT_EQ(info->allClaims().at("typ"), ns::Value("JWT"));  // claims of all segments merged
}

TEST(DSUserInformationTest, UserIdFollowsTheClaimOrder) {
    struct Case {
        ns::Value payload;
        std::optional<std::string> userId;
        bool displayable;
    } cases[] = {
        {ns::Value::dict({{"email", "E@x"}, {"sub", "s"}}), "e@x", true},
        {ns::Value::dict({{"sub", " S "}, {"oid", "O"}}), "s", false},
        {ns::Value::dict({{"unique_name", "U"}, {"sub", "s"}}), "s", false},
        {ns::Value::dict({{"oid", "O"}, {"unique_name", "u"}}), "o", false},
        {ns::Value::dict({{"unique_name", "U"}, {"altsecid", "a"}}), "u", true},
        {ns::Value::dict({{"altsecid", "A"}, {"upn", "  "}}), "a", false},
    };
    for (const Case& c : cases) {
        auto info = DSUserInformation::initWithIdToken(idToken(kJwtHeader, c.payload));
        ASSERT_TRUE(info) << c.payload.description();
        EXPECT_EQ(info->userId(), c.userId);
        EXPECT_EQ(info->userIdDisplayable(), c.displayable);
    }
}

TEST(DSUserInformationTest, MalformedTokensFailWithTheirErrors) {
    ScopedLogLines lines;
    std::optional<DSAuthenticationError> error;
    EXPECT_FALSE(DSUserInformation::initWithIdToken("  ", &error));
    EXPECT_EQ(error->code(), 206);
    error.reset();
    const std::string array = adBase64UrlEncode("[1,2]");
    EXPECT_FALSE(DSUserInformation::initWithIdToken(array + ".x", &error));
    EXPECT_EQ(error->code(), 206);
    error.reset();
    const std::string notJson = adBase64UrlEncode("{not json");
    EXPECT_FALSE(DSUserInformation::initWithIdToken(notJson, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), ns::kCocoaErrorDomain);
    EXPECT_EQ(error->errorDetails(), "Failed to deserialize the id_token contents: " + notJson);
    error.reset();
    EXPECT_FALSE(DSUserInformation::initWithIdToken("%%%.%%%", &error));  // nothing decodes
    EXPECT_EQ(error->code(), 206);
    EXPECT_FALSE(DSUserInformation::initWithIdToken(std::nullopt, &error));
    error.reset();
    EXPECT_FALSE(DSUserInformation::userInformationWithIdToken(std::nullopt, &error));
    EXPECT_EQ(error->code(), 100);
}

TEST(DSUserInformationTest, TokenTypeWarnings) {
    ScopedLogLines lines;
    EXPECT_TRUE(DSUserInformation::initWithIdToken(
        idToken(ns::Value::dict({{"typ", "JOSE"}}), ns::Value::dict({{"upn", "u"}}))));
    EXPECT_EQ(lines.count("Incompatible id_token type."), 1u);
    EXPECT_TRUE(DSUserInformation::initWithIdToken(
        idToken(ns::Value::dict({{"alg", "none"}}), ns::Value::dict({{"upn", "u"}}))));
    EXPECT_EQ(lines.count("The id_token type is missing."), 1u);
}

TEST(DSUserInformationTest, BareUserIdHasNoTokenToCopy) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("ERROR: InvalidArgumentException: userId");
    auto info = DSUserInformation::initWithUserId(" Someone@X ");
    EXPECT_EQ(info->userId(), "someone@x");
    EXPECT_FALSE(info->copy());
    EXPECT_THROW(DSUserInformation::initWithUserId("  "), ns::Exception);
}

TEST(DSUserIdentifierTest, TypesAndMatching) {
    ScopedLogLines lines;
    auto required = DSUserIdentifier::identifierWithId("  John@X.com ");
    EXPECT_EQ(required->userId(), "john@x.com");
    EXPECT_EQ(required->type(), RequiredDisplayableId);
    EXPECT_EQ(DSUserIdentifier::identifierWithId("  ")->userId(), std::nullopt);
    EXPECT_EQ(DSUserIdentifier::typeFromString("uniqueid"), RequiredDisplayableId);
    EXPECT_TRUE(lines.anyContains("Did not recognize type \"uniqueid\""));
    EXPECT_EQ(DSUserIdentifier::typeFromString("UniqueId"), UniqueId);

    auto john = DSUserInformation::initWithIdToken(
        idToken(kJwtHeader, ns::Value::dict({{"upn", "john@x.com"}, {"oid", "O1"}})));
    auto noUnique = DSUserInformation::initWithUserId("john@x.com");
    EXPECT_TRUE(DSUserIdentifier::identifierMatchesInfo(required.get(), john.get()));
    EXPECT_FALSE(DSUserIdentifier::identifierMatchesInfo(
        DSUserIdentifier::identifierWithId("other@x.com").get(), john.get()));
    auto optional = DSUserIdentifier::identifierWithId("x", OptionalDisplayableId);
    EXPECT_TRUE(DSUserIdentifier::identifierMatchesInfo(optional.get(), nullptr));
    auto unique = DSUserIdentifier::identifierWithId("o1", UniqueId);
    EXPECT_TRUE(DSUserIdentifier::identifierMatchesInfo(unique.get(), john.get()));
    EXPECT_TRUE(DSUserIdentifier::identifierMatchesInfo(unique.get(), noUnique.get()));
    EXPECT_FALSE(DSUserIdentifier::identifierMatchesInfo(required.get(), nullptr));
}

}  // namespace
