#include "signin/DSWebRequest.h"

#include <gtest/gtest.h>

#include "platform/net/URLError.h"
#include "signin/DSAuthenticationError.h"
#include "signin/DSAuthenticationSettings.h"
#include "signin/DSClientMetrics.h"
#include "signin/DSLogger.h"
#include "tests/signin/SigninNetTest.h"
#include "tests/support/LogCapture.h"

namespace {

using peers::HttpResponse;
using peers::HttpsServer;
using signintest::NetContext;

class DSWebRequestTest : public signintest::SigninNetTest {
protected:
    std::shared_ptr<DSWebRequest> request(const std::string& path, bool withId = true) {
        NetContext context;
        if (withId) context.id = ns::UUID::fromString("6fd1f5cd-a94c-4335-889b-6c598e6d8048");
        return DSWebRequest::initWithURL(server_.url(path), context);
    }
    std::optional<std::string> header(size_t index, std::string_view name) const {
        return server_.requests().at(index).header(name);
    }

    HttpsServer server_{ca()};
};

TEST_F(DSWebRequestTest, AddsIdentificationAndCorrelationHeadersOnlyWhereTheyApply) {
    server_.on("", "/a/token", HttpResponse::text(200, "ok"));
    auto get = request("/a/token", /*withId=*/false);
    get->setIsGetRequest(true);
    net::setHeaderValue(get->headers(), "x-client-SKU", "spoofed");
    Outcome outcome = sendAndWait(get);
    ASSERT_TRUE(outcome.response);
    EXPECT_EQ(outcome.response->statusCode(), 200);
    EXPECT_EQ(outcome.response->body().chars(), "ok");

    auto post = request("/a/token?x-client-Ver=9.9");
    post->setBody(ns::Data::fromString("grant_type=x"));
    ASSERT_TRUE(sendAndWait(post).response);

    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_FALSE(requests[0].header("Content-Length"));
    EXPECT_FALSE(requests[0].header("client-request-id"));
    EXPECT_FALSE(requests[0].header("return-client-request-id"));
    EXPECT_EQ(requests[0].header("x-client-SKU"), DSLogger::salId()["x-client-SKU"].stringValue());
    EXPECT_NE(requests[0].query.find("x-client-Ver="), std::string::npos);

    EXPECT_EQ(requests[1].method, "POST");
    EXPECT_EQ(requests[1].body, "grant_type=x");
    EXPECT_EQ(requests[1].header("client-request-id"), "6FD1F5CD-A94C-4335-889B-6C598E6D8048");
    EXPECT_EQ(requests[1].header("return-client-request-id"), "true");
    // A version already in the query is not added a second time.
    EXPECT_EQ(requests[1].query, "x-client-Ver=9.9");
}

TEST_F(DSWebRequestTest, EachRequestCarriesThePreviousRecordOnceAndFdsLeavesItPending) {
    server_.on("", "", HttpResponse::text(200, "{}"));
    auto& metrics = DSClientMetrics::getInstance();
    const std::string endpoints[] = {"/t/oauth2/first", "/t/oauth2/second", "/t/oauth2/third"};
    for (int i = 0; i < 3; ++i) {
        auto r = request(endpoints[i]);
        metrics.addClientMetrics(r->headers(), server_.url(endpoints[i]).absoluteString());
        ASSERT_TRUE(sendAndWait(r).response);
        metrics.endClientMetricsRecord(
            server_.url(endpoints[i]).absoluteString(), ns::Date::now(),
            ns::UUID::fromString(i == 0 ? "11111111-1111-1111-1111-111111111111"
                                        : "22222222-2222-2222-2222-222222222222"),
            i == 0 ? std::optional<std::string>(" \t") : std::optional<std::string>("boom"));
    }
    EXPECT_FALSE(header(0, "x-client-last-request"));
    EXPECT_EQ(header(1, "x-client-last-request"), "11111111-1111-1111-1111-111111111111");
    EXPECT_EQ(header(1, "x-client-last-endpoint"), "first");
    EXPECT_EQ(header(1, "x-client-last-error"), "");  // blank details report as empty
    EXPECT_EQ(header(1, "x-client-last-response-time"), "0.000000");  // the manual clock
    EXPECT_EQ(header(2, "x-client-last-endpoint"), "second");
    EXPECT_EQ(header(2, "x-client-last-error"), "boom");

    // An FDS endpoint neither takes the pending record nor replaces it.
    auto fds = request("/fds/oauth2/token");
    metrics.addClientMetrics(fds->headers(), server_.url("/fds/oauth2/token").absoluteString());
    ASSERT_TRUE(sendAndWait(fds).response);
    metrics.endClientMetricsRecord(server_.url("/fds/oauth2/token").absoluteString(),
                                   ns::Date::now(), std::nullopt, "fds");
    EXPECT_FALSE(header(3, "x-client-last-request"));
    EXPECT_TRUE(metrics.isPending());
    net::HTTPHeaderFields next;
    metrics.addClientMetrics(next, server_.url("/t/oauth2/token").absoluteString());
    EXPECT_EQ(net::headerValue(next, "x-client-last-endpoint"), "third");
    EXPECT_FALSE(metrics.isPending());
}

TEST_F(DSWebRequestTest, ReportedErrorTextCannotSplitTheHeaderLineAndIsBounded) {
    auto& metrics = DSClientMetrics::getInstance();
    metrics.endClientMetricsRecord("https://h/t/oauth2/token", ns::Date::now(),
                                   ns::UUID::fromString("11111111-1111-1111-1111-111111111111"),
                                   "bad\r\nX-Injected: 1\t" + std::string(1000, 'e'));
    net::HTTPHeaderFields headers;
    metrics.addClientMetrics(headers, "https://h/t/oauth2/token");
    const std::string value = net::headerValue(headers, "x-client-last-error").value_or("?");
    EXPECT_TRUE(net::isHeaderFieldValue(value));
    EXPECT_EQ(value.rfind("badX-Injected: 1eee", 0), 0u);
    EXPECT_EQ(value.size(), DSClientMetrics::kMaxErrorToReport);
}

// A redirected POST follows the platform's rule: 301, 302 and 303 become a GET without the
// body (a one-time grant must not be sent twice), 307 and 308 keep method and body. Either way
// our own headers travel on.
struct RedirectCase {
    int status;
    bool keepsBody;
};

class DSWebRequestRedirectTest : public DSWebRequestTest,
                                 public ::testing::WithParamInterface<RedirectCase> {};

TEST_P(DSWebRequestRedirectTest, PostIsResentOnlyWhereTheStatusKeepsTheMethod) {
    const RedirectCase c = GetParam();
    server_.on("POST", "/start", HttpResponse::redirect(c.status, server_.baseURL() + "/next"));
    server_.on("", "/next", HttpResponse::text(200, "landed"));
    auto r = request("/start");
    r->setBody(ns::Data::fromString("grant_type=authorization_code&code=once"));
    net::setHeaderValue(r->headers(), "Accept", "application/json");
    net::setHeaderValue(r->headers(), "Content-Type", "application/x-www-form-urlencoded");
    Outcome outcome = sendAndWait(r);
    ASSERT_TRUE(outcome.response) << (outcome.error ? outcome.error->description() : "");
    EXPECT_EQ(outcome.response->body().chars(), "landed");
    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 2u);
    const auto& next = requests[1];
    EXPECT_EQ(next.method, c.keepsBody ? "POST" : "GET");
    EXPECT_EQ(next.body, c.keepsBody ? "grant_type=authorization_code&code=once" : "");
    EXPECT_EQ(next.header("Content-Length").has_value(), c.keepsBody);
    EXPECT_EQ(next.header("Content-Type").has_value(), c.keepsBody);
    EXPECT_EQ(next.header("Accept"), "application/json");
    EXPECT_TRUE(next.header("client-request-id"));
    EXPECT_NE(next.query.find("x-client-Ver="), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Statuses, DSWebRequestRedirectTest,
                         ::testing::Values(RedirectCase{301, false}, RedirectCase{302, false},
                                           RedirectCase{303, false}, RedirectCase{307, true},
                                           RedirectCase{308, true}),
                         [](const auto& info) { return std::to_string(info.param.status); });

// A chain of ten redirects is followed to its end; the eleventh redirect is not.
struct ChainCase {
    int hops;
    bool completes;
};

class DSWebRequestRedirectChainTest : public DSWebRequestTest,
                                      public ::testing::WithParamInterface<ChainCase> {};

TEST_P(DSWebRequestRedirectChainTest, IsFollowedUpToTenRedirects) {
    const ChainCase c = GetParam();
    for (int i = 0; i < c.hops; ++i) {
        server_.on(
            "", "/hop/" + std::to_string(i),
            HttpResponse::redirect(302, server_.baseURL() + "/hop/" + std::to_string(i + 1)));
    }
    server_.on("", "/hop/" + std::to_string(c.hops), HttpResponse::text(200, "arrived"));
    Outcome outcome = sendAndWait(request("/hop/0"));
    if (c.completes) {
        ASSERT_TRUE(outcome.response) << (outcome.error ? outcome.error->description() : "");
        EXPECT_EQ(outcome.response->body().chars(), "arrived");
        EXPECT_EQ(server_.requestCount(), static_cast<size_t>(c.hops) + 1);
    } else {
        ASSERT_TRUE(outcome.error);
        EXPECT_FALSE(outcome.response);
        EXPECT_EQ(outcome.error->code(), net::kURLErrorHTTPTooManyRedirects);
        EXPECT_EQ(server_.requestCount(), static_cast<size_t>(c.hops));
    }
}

INSTANTIATE_TEST_SUITE_P(Hops, DSWebRequestRedirectChainTest,
                         ::testing::Values(ChainCase{10, true}, ChainCase{11, false}),
                         [](const auto& info) { return std::to_string(info.param.hops) + "Hops"; });

TEST_F(DSWebRequestTest, RedirectFromHttpsToHttpFailsWithoutFollowing) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("Code: DS_ERROR_SERVER_NON_HTTPS_REDIRECT ");
    HttpsServer plain(HttpsServer::Options{});
    plain.on("", "", HttpResponse::text(200, "should not be reached"));
    server_.on("", "/start", HttpResponse::redirect(302, plain.baseURL() + "/next"));
    Outcome outcome = sendAndWait(request("/start"));
    ASSERT_TRUE(outcome.error);
    EXPECT_FALSE(outcome.response);
    EXPECT_EQ(outcome.error->domain(), DSAuthenticationErrorDomain);
    EXPECT_EQ(outcome.error->code(), DS_ERROR_SERVER_NON_HTTPS_REDIRECT);
    EXPECT_EQ(plain.requestCount(), 0u);
}

TEST_F(DSWebRequestTest, OversizedBodyFailsInsteadOfBeingHeld) {
    server_.on("", "/big",
               HttpResponse::text(200, std::string(DSWebRequest::kMaxResponseBody + 1, 'x')));
    Outcome outcome = sendAndWait(request("/big"));
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code(), net::kURLErrorDataLengthExceedsMaximum);
    EXPECT_FALSE(outcome.response);

    // Without a length announced, the pieces of a chunked body are counted as they come: each
    // is small, their sum is not.
    std::string chunked =
        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\n\r\n";
    const std::string piece(16 * 1024, 'y');
    for (size_t sent = 0; sent <= DSWebRequest::kMaxResponseBody; sent += piece.size()) {
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        chunked += size + piece + "\r\n";
    }
    chunked += "0\r\n\r\n";
    server_.on("", "/chunked", HttpResponse::raw(std::move(chunked)));
    outcome = sendAndWait(request("/chunked"));
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code(), net::kURLErrorDataLengthExceedsMaximum);
    EXPECT_FALSE(outcome.response);
}

TEST_F(DSWebRequestTest, TimeoutIsTheSettingAtCreationAndZeroMeansTheDefault) {
    auto& settings = DSAuthenticationSettings::sharedInstance();
    const int32_t saved = settings.requestTimeOut();
    settings.setRequestTimeOut(0);
    auto zero = request("/x");
    settings.setRequestTimeOut(-5);
    auto negative = request("/x");
    settings.setRequestTimeOut(42);
    auto configured = request("/x");
    settings.setRequestTimeOut(7);
    EXPECT_EQ(zero->timeout(), DSWebRequest::kDefaultTimeout);
    EXPECT_EQ(negative->timeout(), DSWebRequest::kDefaultTimeout);
    EXPECT_EQ(configured->timeout(), 42u);
    settings.setRequestTimeOut(saved);
}

}  // namespace
