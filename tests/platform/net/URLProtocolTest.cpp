#include "platform/net/URLProtocol.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "platform/net/HTTPURLResponse.h"
#include "platform/net/URLError.h"
#include "platform/net/URLSession.h"
#include "tests/platform/net/NetTestSupport.h"
#include "tests/platform/net/RecordingSessionDelegate.h"

namespace {

using nettest::Outcome;
using nettest::RecordingSessionDelegate;

std::atomic<int> startCount{0};
std::atomic<int> stopCount{0};

// Serves "memo:" URLs: "memo://host/redirect" redirects to "memo://host/target" (and then
// reports a failure that must be ignored), "memo://host/fail" fails, anything else answers
// with its own path.
class MemoProtocol : public net::URLProtocol {
public:
    using URLProtocol::URLProtocol;

    static bool canInitWithRequest(const net::URLRequest& request) {
        return request.url().scheme() == std::optional<std::string>("memo");
    }
    static net::URLRequest canonicalRequestForRequest(const net::URLRequest& request) {
        net::URLRequest canonical = request;
        net::URLProtocol::setProperty(true, "canonical", canonical);
        return canonical;
    }

    void startLoading() override {
        startCount++;
        const auto& url = request().url();
        if (url.path() == "/redirect") {
            auto target = *ns::URL::parse("memo://host/target");
            auto response = std::make_shared<net::HTTPURLResponse>(
                url, 302, "HTTP/1.1", net::HTTPHeaderFields{{"Location", target.absoluteString()}});
            client()->wasRedirectedToRequest(*this, net::URLRequest(target), response);
            client()->didFailWithError(*this, ns::Error("NSCocoaErrorDomain", 3072));
            return;
        }
        if (url.path() == "/fail") {
            client()->didFailWithError(*this, ns::Error("MemoDomain", 7));
            return;
        }
        bool canonical = net::URLProtocol::propertyForKey("canonical", request()) != nullptr;
        auto response = std::make_shared<net::HTTPURLResponse>(
            url, 200, "HTTP/1.1", net::HTTPHeaderFields{{"Content-Type", "text/plain"}});
        client()->didReceiveResponse(*this, response, net::URLCacheStoragePolicy::NotAllowed);
        client()->didLoadData(*this, ns::Data::fromString(url.path()));
        client()->didLoadData(*this, ns::Data::fromString(canonical ? " canonical" : ""));
        client()->didFinishLoading(*this);
        client()->didLoadData(*this, ns::Data::fromString(" too late"));
    }
    void stopLoading() override { stopCount++; }
};

class URLProtocolTest : public testsupport::ManualRunLoop {
protected:
    void SetUp() override {
        ManualRunLoop::SetUp();
        startCount = 0;
        stopCount = 0;
        net::URLProtocol::registerClass<MemoProtocol>();
    }
    void TearDown() override {
        net::URLProtocol::unregisterClass<MemoProtocol>();
        ManualRunLoop::TearDown();
    }

    std::shared_ptr<net::URLSession> session(std::shared_ptr<net::URLSessionDelegate> d = nullptr) {
        return net::URLSession::sessionWithConfiguration(
            net::URLSessionConfiguration::defaultSessionConfiguration(), std::move(d),
            dispatch::Queue::main().shared_from_this());
    }
    std::shared_ptr<Outcome> load(const std::shared_ptr<net::URLSession>& s, const char* url) {
        auto outcome = std::make_shared<Outcome>();
        s->dataTask(net::URLRequest(*ns::URL::parse(url)), nettest::recordInto(outcome))->resume();
        loop().runUntilIdle();
        return outcome;
    }
};

TEST_F(URLProtocolTest, RegisteredProtocolServesItsRequestsInProcess) {
    auto s = session();
    auto outcome = load(s, "memo://host/notes/1");
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_FALSE(outcome->error);
    EXPECT_EQ(outcome->text(), "/notes/1 canonical");
    EXPECT_EQ(outcome->http()->statusCode(), 200);
    EXPECT_EQ(startCount, 1);
    EXPECT_EQ(stopCount, 1);
    s->finishTasksAndInvalidate();
}

TEST_F(URLProtocolTest, FailureReachesTheTaskUnchanged) {
    auto s = session();
    auto outcome = load(s, "memo://host/fail");
    EXPECT_EQ(outcome->error, ns::Error("MemoDomain", 7));
    EXPECT_EQ(stopCount, 1);
    s->finishTasksAndInvalidate();
}

TEST_F(URLProtocolTest, RedirectionGoesThroughTheDelegateAndLaterReportsAreIgnored) {
    auto delegate = std::make_shared<RecordingSessionDelegate>();
    delegate->followRedirects = true;
    auto s = session(delegate);
    auto outcome = load(s, "memo://host/redirect");
    EXPECT_FALSE(outcome->error);
    EXPECT_EQ(outcome->text(), "/target canonical");
    EXPECT_EQ(delegate->events, std::vector<std::string>{"redirect 302"});
    EXPECT_EQ(startCount, 2);
    EXPECT_EQ(stopCount, 2);
    s->finishTasksAndInvalidate();
}

TEST_F(URLProtocolTest, UnregisteredSchemesAreNotServed) {
    net::URLProtocol::unregisterClass<MemoProtocol>();
    auto s = session();
    auto outcome = load(s, "memo://host/x");
    EXPECT_EQ(outcome->errorCode(), net::kURLErrorUnsupportedURL);
    EXPECT_EQ(startCount, 0);
    s->finishTasksAndInvalidate();
}

TEST(URLProtocolPropertiesTest, PropertiesTravelWithCopiesOfTheRequest) {
    net::URLRequest request(*ns::URL::parse("https://example.test/"));
    EXPECT_EQ(net::URLProtocol::propertyForKey("correlationId", request), nullptr);
    net::URLProtocol::setProperty("E621E1F8", "correlationId", request);
    net::URLProtocol::setProperty(true, "Marked", request);
    net::URLRequest copy = request;
    net::URLProtocol::removePropertyForKey("Marked", copy);
    ASSERT_NE(net::URLProtocol::propertyForKey("correlationId", copy), nullptr);
    EXPECT_EQ(*net::URLProtocol::propertyForKey("correlationId", copy), ns::Value("E621E1F8"));
    EXPECT_EQ(net::URLProtocol::propertyForKey("Marked", copy), nullptr);
    EXPECT_NE(net::URLProtocol::propertyForKey("Marked", request), nullptr);
}

}  // namespace
