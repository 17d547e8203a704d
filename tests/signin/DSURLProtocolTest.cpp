#include "signin/DSURLProtocol.h"

#include <gtest/gtest.h>

#include <future>

#include "platform/net/HTTPURLResponse.h"
#include "platform/net/URLError.h"
#include "platform/net/URLProtectionSpace.h"
#include "signin/DSCustomHeaderHandler.h"
#include "signin/DSTelemetryUIEvent.h"
#include "tests/signin/SigninNetTest.h"
#include "tests/support/LogCapture.h"

namespace {

using peers::HttpResponse;

// A session of the process, as any of its parts makes one, that records what it is told.
class Recorder : public net::URLSessionDelegate {
public:
    void willPerformHTTPRedirection(net::URLSession&, net::URLSessionTask&,
                                    std::shared_ptr<const net::URLResponse>,
                                    net::URLRequest request,
                                    const RedirectionHandler& handler) override {
        redirects.push_back(request);
        handler(request);
    }
    void didReceiveResponse(net::URLSession&, net::URLSessionTask&,
                            std::shared_ptr<const net::URLResponse> r) override {
        response = r;
    }
    void didCompleteWithError(net::URLSession&, net::URLSessionTask&,
                              const std::optional<ns::Error>& e) override {
        error = e;
        done.set_value();
    }

    std::vector<net::URLRequest> redirects;
    std::shared_ptr<const net::URLResponse> response;
    std::optional<ns::Error> error;
    std::promise<void> done;
};

class DSURLProtocolTest : public signintest::SigninNetTest {
protected:
    void TearDown() override {
        DSURLProtocol::unregisterProtocol();
        SigninNetTest::TearDown();
    }

    std::shared_ptr<Recorder> load(const std::string& path) {
        auto recorder = std::make_shared<Recorder>();
        auto session = net::URLSession::sessionWithConfiguration(
            net::URLSessionConfiguration::defaultSessionConfiguration(), recorder);
        net::URLRequest request(server_.url(path));
        DSURLProtocol::addCorrelationId(kId, request);
        auto task = session->dataTask(std::move(request));
        session->finishTasksAndInvalidate();
        task->resume();
        EXPECT_EQ(recorder->done.get_future().wait_for(std::chrono::seconds(20)),
                  std::future_status::ready);
        return recorder;
    }

    static inline const ns::UUID kId =
        *ns::UUID::fromString("6FD1F5CD-A94C-4335-889B-6C598E6D8048");
    peers::HttpsServer server_{ca()};
};

TEST_F(DSURLProtocolTest, TakesOnlyUnmarkedHttpsRequests) {
    net::URLRequest https(*ns::URL::parse("https://login.example/t"));
    net::URLRequest http(*ns::URL::parse("http://login.example/t"));
    EXPECT_TRUE(DSURLProtocol::canInitWithRequest(https));
    EXPECT_FALSE(DSURLProtocol::canInitWithRequest(http));
    net::URLProtocol::setProperty(true, DSURLProtocol::kProtocolMark, https);
    EXPECT_FALSE(DSURLProtocol::canInitWithRequest(https));

    // Registered, it serves the process's https loads; the load reaches the server once.
    server_.on("GET", "/plain", HttpResponse::text(200, "ok"));
    ASSERT_TRUE(DSURLProtocol::registerProtocol("x-app://done", nullptr));
    EXPECT_TRUE(net::URLProtocol::classForRequest(net::URLRequest(server_.url("/plain"))));
    auto plain = load("/plain");
    EXPECT_FALSE(plain->error);
    ASSERT_TRUE(plain->response && plain->response->http());
    EXPECT_EQ(plain->response->http()->statusCode(), 200);
    EXPECT_EQ(server_.requestCount(), 1u);
    DSURLProtocol::unregisterProtocol();
    EXPECT_FALSE(net::URLProtocol::classForRequest(net::URLRequest(server_.url("/plain"))));
}

// The end URL, registered in other letter case, is met over plain http: the load fails with
// "cannot find host" and the end URL, query and all, as its failing URL.
TEST_F(DSURLProtocolTest, PlainHttpRedirectStopsAndTheEndUrlEndsTheLoad) {
    server_.on("GET", "/authorize",
               HttpResponse::redirect(302, "http://LocalHost/Done?code=c1&state=s1"));
    server_.on("GET", "/elsewhere", HttpResponse::redirect(302, "http://other.example/x"));
    ASSERT_TRUE(DSURLProtocol::registerProtocol("HTTP://localhost/done", nullptr));
    EXPECT_EQ(DSURLProtocol::endURL(), "http://localhost/done");

    auto ended = load("/authorize");
    ASSERT_TRUE(ended->error);
    EXPECT_EQ(ended->error->code(), net::kURLErrorCannotFindHost);
    EXPECT_EQ(ended->error->userInfo().at(net::kURLErrorFailingURLStringErrorKey).stringValue(),
              "http://LocalHost/Done?code=c1&state=s1");
    EXPECT_TRUE(ended->redirects.empty());

    // Any other plain-http redirect is not followed, and no error is made of it.
    auto stopped = load("/elsewhere");
    EXPECT_FALSE(stopped->error);
    ASSERT_TRUE(stopped->response && stopped->response->http());
    EXPECT_EQ(stopped->response->http()->statusCode(), 302);

    EXPECT_EQ(DSURLProtocol::interceptionOf(*ns::URL::parse("x-app://x")),
              DSURLProtocol::Interception::Load);
    EXPECT_EQ(DSURLProtocol::interceptionOf(*ns::URL::parse("http://localhost/DONE#f")),
              DSURLProtocol::Interception::End);
    EXPECT_EQ(DSURLProtocol::interceptionOf(*ns::URL::parse("http://localhost/")),
              DSURLProtocol::Interception::Stop);
}

// An https redirect reaches the client as a redirect carrying the persistent header and the
// correlation id, without the mark (so the protocol takes it again); single-use headers go
// with the first redirect that takes them.
TEST_F(DSURLProtocolTest, HttpsRedirectsCarryTheCustomHeaders) {
    testsupport::LogCapture log;
    server_.on("GET", "/one", HttpResponse::redirect(302, server_.baseURL() + "/two"));
    server_.on("GET", "/two", HttpResponse::redirect(302, server_.baseURL() + "/three"));
    server_.on("GET", "/three", HttpResponse::text(200, "there"));
    ASSERT_TRUE(DSURLProtocol::registerProtocol("x-app://done", nullptr));
    DSCustomHeaderHandler::addCustomHeaderValue("a", "x-once-a", true);
    DSCustomHeaderHandler::addCustomHeaderValue("b", "x-once-b", true);

    auto followed = load("/one");
    EXPECT_FALSE(followed->error);
    ASSERT_EQ(followed->redirects.size(), 2u);
    const net::URLRequest& first = followed->redirects[0];
    EXPECT_EQ(first.valueForHTTPHeaderField("x-ds-PkeyAuth"), "1.0");
    EXPECT_FALSE(net::URLProtocol::propertyForKey(DSURLProtocol::kProtocolMark, first));
    ASSERT_TRUE(net::URLProtocol::propertyForKey(DSURLProtocol::kCorrelationIdKey, first));
    EXPECT_EQ(
        net::URLProtocol::propertyForKey(DSURLProtocol::kCorrelationIdKey, first)->stringValue(),
        kId.UUIDString());

    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].header("x-once-a"), "a");
    EXPECT_EQ(requests[1].header("x-once-b"), "b");
    EXPECT_EQ(requests[1].header("x-ds-PkeyAuth"), "1.0");
    EXPECT_EQ(requests[2].header("x-ds-PkeyAuth"), "1.0");

    // The next load's redirect carries the persistent header only.
    EXPECT_FALSE(load("/one")->error);
    const auto again = server_.requests();
    ASSERT_EQ(again.size(), 6u);
    EXPECT_EQ(again[4].path, "/two");
    EXPECT_FALSE(again[4].header("x-once-a"));
    EXPECT_EQ(again[4].header("x-ds-PkeyAuth"), "1.0");
    // The connection the protocol cancelled once it handed the redirect on fails no more.
    EXPECT_EQ(log.count("didFailedWithError"), 0u);
}

// A handler registered for a method gets that method's challenges (the server-trust one of
// every TLS connection here); it is told to reset when the protocol goes, and stays registered.
TEST_F(DSURLProtocolTest, HandlersTakeTheirMethodsChallenges) {
    server_.on("GET", "/x", HttpResponse::text(200, "ok"));
    auto handled = std::make_shared<std::atomic<int>>(0);
    auto resets = std::make_shared<std::atomic<int>>(0);
    auto handler = std::make_shared<DSURLProtocol::Handler>();
    handler->handleChallenge = [handled](const net::URLAuthenticationChallenge&,
                                         const net::URLSessionDelegate::ChallengeHandler& done,
                                         DSURLProtocol&) {
        ++*handled;
        done(net::URLSessionAuthChallengeDisposition::PerformDefaultHandling, nullptr);
        return true;
    };
    handler->resetHandler = [resets] { ++*resets; };
    DSURLProtocol::registerHandler(handler, std::string("NSURLAuthenticationMethodServerTrust"));
    DSURLProtocol::registerHandler(nullptr, std::string("ignored"));
    auto event = std::make_shared<DSTelemetryUIEvent>("ui_event", "req", kId);
    ASSERT_TRUE(DSURLProtocol::registerProtocol("x-app://done", event));
    EXPECT_FALSE(load("/x")->error);
    EXPECT_GE(handled->load(), 1);
    EXPECT_FALSE(event->property("ntlm"));  // only a handled NTLM challenge is marked

    DSURLProtocol::unregisterProtocol();
    EXPECT_EQ(resets->load(), 1);
    EXPECT_FALSE(DSURLProtocol::endURL());
    DSURLProtocol::registerHandler(std::make_shared<DSURLProtocol::Handler>(),
                                   std::string("NSURLAuthenticationMethodServerTrust"));
}

}  // namespace
