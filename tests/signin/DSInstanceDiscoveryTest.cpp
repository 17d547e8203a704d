#include "signin/DSInstanceDiscovery.h"

#include <gtest/gtest.h>

#include <future>

#include "platform/net/URLError.h"

#include "services/peers/IdentityPeer.h"
#include "signin/DSRequestParameters.h"
#include "tests/signin/SigninNetTest.h"
#include "tests/support/LogCapture.h"

namespace {

using peers::IdentityPeer;
using Discovery = peers::IdentityPeer::Discovery;

struct Answer {
    bool validated = false;
    std::optional<DSAuthenticationError> error;
};

class DSInstanceDiscoveryTest : public signintest::SigninNetTest {
protected:
    DSInstanceDiscoveryTest() {
        params_.setCorrelationId(ns::UUID::fromString("6fd1f5cd-a94c-4335-889b-6c598e6d8048"));
    }

    Answer validate(const std::string& authority) {
        auto promise = std::make_shared<std::promise<Answer>>();
        auto future = promise->get_future();
        discovery_.validateAuthority(authority, params_,
                                     [promise](bool validated, const auto& error) {
                                         promise->set_value({validated, error});
                                     });
        EXPECT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        return future.get();
    }

    peers::HttpsServer server_{ca()};
    IdentityPeer peer_{server_};
    DSInstanceDiscovery discovery_{{peer_.authority(), "https://login.directory.example"}};
    DSRequestParameters params_;
};

struct DiscoveryCase {
    Discovery answer;
    bool validated;
    int64_t code;
    std::optional<std::string> protocolCode;
    std::string detailsStart;
};

class DiscoveryAnswers : public DSInstanceDiscoveryTest,
                         public ::testing::WithParamInterface<DiscoveryCase> {};

TEST_P(DiscoveryAnswers, MapToTheirResult) {
    const DiscoveryCase& c = GetParam();
    testsupport::LogCapture expectedLog;
    if (!c.validated) expectedLog.expect("ERROR: Error raised: ");
    peer_.answerDiscovery(c.answer);
    Answer answer = validate("https://Sts.Contoso.Test/Tenant.Example/oauth2");
    EXPECT_EQ(answer.validated, c.validated);
    EXPECT_EQ(discovery_.isAuthorityValidated("https://sts.contoso.test"), c.validated);
    if (c.validated) {
        EXPECT_FALSE(answer.error);
        return;
    }
    ASSERT_TRUE(answer.error);
    EXPECT_EQ(answer.error->code(), c.code);
    EXPECT_EQ(answer.error->protocolCode(), c.protocolCode);
    EXPECT_EQ(answer.error->errorDetails().value_or("").rfind(c.detailsStart, 0), 0u)
        << answer.error->errorDetails().value_or("(none)");
}

INSTANTIATE_TEST_SUITE_P(
    EveryAnswer, DiscoveryAnswers,
    ::testing::Values(
        DiscoveryCase{Discovery::Valid, true, 0, std::nullopt, ""},
        DiscoveryCase{Discovery::BadRequestWithEndpoint, true, 0, std::nullopt, ""},
        DiscoveryCase{Discovery::UnauthorizedWithEndpoint, true, 0, std::nullopt, ""},
        DiscoveryCase{Discovery::RedirectToHttps, true, 0, std::nullopt, ""},
        DiscoveryCase{Discovery::InvalidInstance, false, 101, "invalid_instance",
                      "Unknown or invalid instance."},
        DiscoveryCase{Discovery::ErrorWithoutDescription, false, 101, "invalid_instance",
                      "The authority validation server returned an error: invalid_instance."},
        DiscoveryCase{Discovery::ServerError, false, 101, std::nullopt,
                      "Server HTTP Response the instance service is down"},
        DiscoveryCase{Discovery::Array, false, 101, std::nullopt, "Unexpected object type: Array"},
        DiscoveryCase{Discovery::Empty, false, 101, std::nullopt,
                      "No JSON object was in the web response data"},
        DiscoveryCase{Discovery::Malformed, false, 101, std::nullopt, ""},
        DiscoveryCase{Discovery::RedirectToHttp, false, DS_ERROR_SERVER_NON_HTTPS_REDIRECT,
                      std::nullopt, "The server has redirected to a non-https url."},
        DiscoveryCase{Discovery::Closed, false, net::kURLErrorNetworkConnectionLost, std::nullopt,
                      ""}));

TEST_F(DSInstanceDiscoveryTest, RequestCarriesTheQueryAndHeadersOfTheExchange) {
    peer_.answerDiscovery(Discovery::Valid);
    ASSERT_TRUE(validate("https://STS.contoso.test:8443/tenant").validated);
    const auto requests = peer_.discoveryRequests();
    ASSERT_EQ(requests.size(), 1u);
    const peers::HttpRequest& r = requests[0];
    EXPECT_EQ(r.method, "GET");
    EXPECT_NE(r.query.find("api-version=1.0"), std::string::npos);
    EXPECT_NE(r.query.find("authorization_endpoint=https%3A%2F%2Fsts.contoso.test%3A8443%2Ftenant%"
                           "2Foauth2%2Fauthorize"),
              std::string::npos)
        << r.query;
    EXPECT_NE(r.query.find("x-client-Ver="), std::string::npos);
    EXPECT_EQ(r.header("Accept"), "application/json");
    EXPECT_EQ(r.header("client-request-id"), "6FD1F5CD-A94C-4335-889B-6C598E6D8048");
    EXPECT_FALSE(r.header("Content-Length"));

    // Validation is per host: the same host without a port, in any case, needs no request.
    EXPECT_TRUE(validate("https://sts.CONTOSO.test/other-tenant").validated);
    EXPECT_EQ(peer_.discoveryRequests().size(), 1u);
    // The record of the first exchange goes with the next request to the service.
    ASSERT_TRUE(validate("https://second.contoso.test/t").validated);
    EXPECT_EQ(peer_.discoveryRequests().at(1).header("x-client-last-endpoint"), "instance");
}

TEST_F(DSInstanceDiscoveryTest, AuthoritiesThatCannotBeValidatedFailAtOnceWithoutARequest) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("Code: DS_ERROR_DEVELOPER_INVALID_ARGUMENT ");
    struct Case {
        std::optional<std::string> authority;
        std::string detailsStart;
    };
    const Case cases[] = {
        {"http://sts.contoso.test/tenant", "The argument 'authority'"},
        {"not a url", "The argument 'authority'"},
        {std::nullopt, "The argument 'authority'"},
        {"https://user:pw@sts.contoso.test/tenant", "The argument 'authority'"},
        {"https://evil.test%2F@sts.contoso.test/tenant", "The argument 'authority'"},
        {"https://sts.contoso.test%2Fx/tenant", "The argument 'authority'"},
        {"https://sts.contoso.test", "Missing tenant in the authority URL."},
        {"https://sts.contoso.test/", "Missing tenant in the authority URL."},
        {"https://sts.contoso.test/FDS/oauth2", "Authority validation is not supported for FDS"},
    };
    for (const Case& c : cases) {
        Answer answer = validate(c.authority.value_or(""));
        if (!c.authority) {
            std::optional<DSAuthenticationError> error;
            EXPECT_FALSE(DSInstanceDiscovery::extractHost(std::nullopt, std::nullopt, error));
            ASSERT_TRUE(error);
            answer.error = error;
        }
        EXPECT_FALSE(answer.validated) << c.authority.value_or("(none)");
        ASSERT_TRUE(answer.error);
        EXPECT_EQ(answer.error->code(), DS_ERROR_DEVELOPER_INVALID_ARGUMENT);
        EXPECT_EQ(answer.error->errorDetails().value_or("").rfind(c.detailsStart, 0), 0u)
            << answer.error->errorDetails().value_or("(none)");
    }
    // A seeded host validates without asking.
    EXPECT_TRUE(validate("https://LOGIN.directory.example/common").validated);
    EXPECT_EQ(server_.requestCount(), 0u);
}

TEST(DSInstanceDiscoveryCanonical, KeepsSchemeHostPortAndTenantOnly) {
    EXPECT_EQ(DSInstanceDiscovery::canonicalizeAuthority(
                  "  HTTPS://Login.Directory.Example:443/Contoso.Test/a/b?x=1  "),
              "https://login.directory.example:443/contoso.test");
    EXPECT_EQ(DSInstanceDiscovery::canonicalizeAuthority("https://h/T"), "https://h/t");
    // Escapes could turn the key into another authority when it is read back.
    for (const char* refused : {"http://h/t", "https://h", "https://h/", "https://u@h/t", "",
                                "https://h/a%2Fb", "https://h%2Fevil.test/t", "https://h/%7d"})
        EXPECT_FALSE(DSInstanceDiscovery::canonicalizeAuthority(std::string(refused))) << refused;
}

}  // namespace
