#include "sdk/core/NEBRequestSession.h"

#include <gtest/gtest.h>

#include "platform/net/HTTPURLResponse.h"
#include "platform/net/URLError.h"
#include "tests/sdk/core/NetworkFixture.h"

namespace {

using peers::HttpResponse;

TEST(NEBRequestSessionRule, RedirectsLeavingHttpsAndUnfollowedStatusesEndTheExchange) {
    struct Case {
        int status;
        const char* from;
        const char* to;
        bool client;  // with the HTTP client's limits
        bool follows;
    };
    const Case cases[] = {
        {307, "https://a.example/x", "https://b.example/y", false, true},
        {302, "https://a.example/x", "http://a.example/x", false, false},
        {301, "HTTPS://a.example/x", "Http://a.example/x", false, false},
        {308, "http://a.example/x", "https://a.example/x", false, true},
        {302, "http://a.example/x", "http://b.example/x", false, true},
        {302, "https://a.example/x", "https://a.example/y", true, false},
        {307, "https://a.example/x", "https://a.example/y", true, false},
        {303, "https://a.example/x", "https://a.example/y", true, true},
        {303, "https://a.example/x", "http://a.example/y", true, false},
    };
    const NEBRequestPolicies policies;
    for (const auto& c : cases) {
        const auto& limits = c.client ? policies.network : policies.checkin;
        EXPECT_EQ(NEBRequestSession::followsRedirect(limits, c.status, *ns::URL::parse(c.from),
                                                     *ns::URL::parse(c.to)),
                  c.follows)
            << c.status << " " << c.from << " -> " << c.to << (c.client ? " (client)" : "");
    }
}

TEST(NEBRequestSessionRule, SessionsTakeTheKindsTimeOutAndAnswerCap) {
    const auto configuration =
        NEBRequestSession::configured(net::URLSessionConfiguration::defaultSessionConfiguration(),
                                      NEBRequestLimits{.timeout = 7.5, .maximumResponseSize = 123});
    EXPECT_EQ(configuration.timeoutIntervalForRequest(), 7.5);
    EXPECT_EQ(configuration.timeoutIntervalForResource(), 7.5);
    EXPECT_EQ(configuration.maximumResponseSize(), 123u);
    const NEBRequestPolicies policies;
    EXPECT_EQ(policies.checkin.maximumResponseSize, 64u * 1024);
    EXPECT_EQ(policies.registration.maximumResponseSize, 16u * 1024);
    EXPECT_EQ(policies.checkin.timeout, 60.0);
}

// What one exchange's completion received.
struct Exchange {
    std::atomic<bool> done{false};
    int status = 0;
    std::string body;
    std::optional<ns::Error> error;
};

NEBRequestSession::Completion recordInto(const std::shared_ptr<Exchange>& exchange) {
    return [exchange](ns::Result<NEBReply> reply) {
        if (reply.ok()) {
            const auto& response = reply->response;
            exchange->status = response && response->http() ? response->http()->statusCode() : 0;
            exchange->body = reply->body.chars();
        } else {
            exchange->error = reply.error();
        }
        exchange->done = true;
    };
}

class NEBRequestSessionTest : public sdktest::NetworkTest {
protected:
    std::shared_ptr<Exchange> send(NEBRequestSession& session, const std::string& path) {
        auto exchange = std::make_shared<Exchange>();
        net::URLRequest request(server_->url(path));
        request.setHTTPMethod("POST");
        request.setValue("AidLogin 1:secret", "Authorization");
        session.send(std::move(request), recordInto(exchange));
        return exchange;
    }
    bool waitFor(const std::shared_ptr<Exchange>& exchange) {
        return waitUntil([&] { return exchange->done.load(); });
    }
};

TEST_F(NEBRequestSessionTest, ARedirectToPlainHttpIsNotFollowedAndItsAnswerEndsTheExchange) {
    peers::HttpsServer plain(peers::HttpsServer::Options{});
    plain.on("", "/checkin", HttpResponse::text(200, "in the clear"));
    server_->on("POST", "/checkin", HttpResponse::redirect(302, plain.baseURL() + "/checkin"));
    server_->on("POST", "/moved", HttpResponse::redirect(307, server_->baseURL() + "/here"));
    server_->on("POST", "/here", HttpResponse::text(200, "ok"));
    NEBRequestSession session(NEBRequestPolicies().checkin);

    auto refused = send(session, "/checkin");
    ASSERT_TRUE(waitFor(refused));
    EXPECT_FALSE(refused->error);
    EXPECT_EQ(refused->status, 302);
    EXPECT_TRUE(plain.requests().empty()) << "the credentials went out in the clear";

    auto followed = send(session, "/moved");
    ASSERT_TRUE(waitFor(followed));
    EXPECT_EQ(followed->status, 200);
    EXPECT_EQ(followed->body, "ok");
    EXPECT_EQ(server_->requests().back().header("Authorization"), "AidLogin 1:secret");
    plain.stop();
}

TEST_F(NEBRequestSessionTest, AnAnswerBeyondTheKindsCapFails) {
    server_->on(
        "POST", "/iid/register",
        HttpResponse::text(
            200, std::string(NEBRequestPolicies().registration.maximumResponseSize + 1, 'x')));
    NEBRequestSession session(NEBRequestPolicies().registration);
    auto exchange = send(session, "/iid/register");
    ASSERT_TRUE(waitFor(exchange));
    ASSERT_TRUE(exchange->error);
    EXPECT_EQ(exchange->error->code(), net::kURLErrorDataLengthExceedsMaximum);
}

TEST_F(NEBRequestSessionTest, CancelEndsTheRunningExchangeAndTheNextOneRunsOnANewSession) {
    server_->on("POST", "/slow", HttpResponse::hang());
    server_->on("POST", "/fast", HttpResponse::text(200, "fast"));
    NEBRequestSession session(NEBRequestPolicies().topicRegistration);
    auto slow = send(session, "/slow");
    EXPECT_TRUE(session.inProgress());
    ASSERT_TRUE(waitUntil([&] { return server_->requests().size() == 1; }));
    session.cancel();
    ASSERT_TRUE(waitFor(slow));
    ASSERT_TRUE(slow->error);
    EXPECT_EQ(slow->error->code(), net::kURLErrorCancelled);
    EXPECT_FALSE(session.inProgress());

    auto fast = send(session, "/fast");
    ASSERT_TRUE(waitFor(fast));
    EXPECT_EQ(fast->body, "fast");
    EXPECT_FALSE(session.inProgress());
}

// Every request under way ends with cancel(), not only the one sent last.
TEST_F(NEBRequestSessionTest, CancelEndsEveryExchangeUnderWay) {
    server_->on("POST", "/slow", HttpResponse::hang());
    NEBRequestSession session(NEBRequestPolicies().registration);
    auto first = send(session, "/slow");
    auto second = send(session, "/slow");
    ASSERT_TRUE(waitUntil([&] { return server_->requests().size() == 2; }));
    session.cancel();
    for (const auto& exchange : {first, second}) {
        ASSERT_TRUE(waitFor(exchange));
        ASSERT_TRUE(exchange->error);
        EXPECT_EQ(exchange->error->code(), net::kURLErrorCancelled);
    }
}

// Each kind of request keeps its own limits, whichever was made first: the measurement client
// takes an answer beyond check-in's 64 KiB and does not follow a 307 to the same https server,
// where check-in refuses the one and follows the other.
TEST_F(NEBRequestSessionTest, EachClientKeepsItsOwnLimits) {
    const std::string large(100 * 1024, 'x');
    server_->on("", "/large", HttpResponse::text(200, large));
    server_->on("", "/moved", HttpResponse::redirect(307, server_->baseURL() + "/here"));
    server_->on("", "/here", HttpResponse::text(200, "here"));
    NEBRequestSession checkinBefore(NEBRequestPolicies().checkin);
    auto measurement = NEBNetwork::create("localhost");
    ASSERT_TRUE(measurement);
    NEBRequestSession checkinAfter(NEBRequestPolicies().checkin);

    auto measured = [&](const std::string& path) {
        auto outcome = std::make_shared<sdktest::Outcome>();
        measurement->getURL(server_->url(path), {}, nullptr, false, sdktest::recordInto(outcome));
        EXPECT_TRUE(waitUntil([&] { return outcome->calls > 0; }));
        return outcome;
    };
    auto taken = measured("/large");
    EXPECT_EQ(taken->errorCode(), 0);
    EXPECT_EQ(taken->data.value_or(ns::Data()).length(), large.size());
    EXPECT_EQ(measured("/moved")->status(), 307);

    for (auto* checkin : {&checkinBefore, &checkinAfter}) {
        auto refused = send(*checkin, "/large");
        ASSERT_TRUE(waitFor(refused));
        ASSERT_TRUE(refused->error);
        EXPECT_EQ(refused->error->code(), net::kURLErrorDataLengthExceedsMaximum);
        auto followed = send(*checkin, "/moved");
        ASSERT_TRUE(waitFor(followed));
        EXPECT_EQ(followed->body, "here");
    }
}

}  // namespace
