#include "sdk/messaging/NEBMessagingPubSub.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/ns/Bundle.h"
#include "platform/ns/UserDefaults.h"
#include "platform/sec/Keychain.h"
#include "sdk/core/NEBServiceHosts.h"
#include "sdk/instance_id/NEBInstanceIDUtilities.h"
#include "sdk/messaging/NEBMessagingClient.h"
#include "sdk/messaging/NEBMessagingPubsubRegistrationClient.h"
#include "sdk/messaging/NEBMessagingRmqManager.h"
#include "sdk/messaging/NEBMessagingUtilities.h"
#include "services/peers/HttpsServer.h"
#include "tests/sdk/messaging/MessagingTestSupport.h"

namespace {

using peers::HttpResponse;
using Client = NEBMessagingPubsubRegistrationClient;

struct Outcome {
    bool done = false;
    std::optional<ns::Error> error;
    NEBMessagingPubSub::Handler handler() {
        return [this](std::optional<ns::Error> e) {
            done = true;
            error = std::move(e);
        };
    }
};

class NEBMessagingPubSubTest : public messagingtest::MessagingTest {
protected:
    void SetUp() override {
        MessagingTest::SetUp();
        server_ = std::make_unique<peers::HttpsServer>(ca());
        NEBServiceHosts::setRegistrationServerURL(server_->baseURL());
        store_ = std::make_shared<NEBMessagingRmqManager>("rmq2");
        makeClient(services());
    }
    void makeClient(std::shared_ptr<const NEBServices> services) {
        auto preferences = credentials();
        preferences.versionInfo = "v9";
        client_ = std::make_shared<NEBMessagingClient>(
            std::move(services), reachability(true), store_,
            [preferences] { return std::optional<NEBMessagingCheckinPreferences>(preferences); });
        pubsub_ = NEBMessagingPubSub::create(client_, [this] { return token_; });
    }
    void TearDown() override {
        pubsub_.reset();
        client_.reset();
        server_.reset();
        MessagingTest::TearDown();
    }
    Outcome subscribe(const std::string& topic, bool unsubscribe = false,
                      const ns::Dictionary& options = {}) {
        Outcome outcome;
        if (unsubscribe) {
            pubsub_->unsubscribeWithToken("T", topic, options, outcome.handler());
        } else {
            pubsub_->subscribeWithToken("T", topic, options, outcome.handler());
        }
        EXPECT_TRUE(runUntil([&] { return outcome.done; }));
        return outcome;
    }

    ns::ScopedSharedInstance<NEBServiceHosts> hosts_;
    std::unique_ptr<peers::HttpsServer> server_;
    std::shared_ptr<NEBMessagingRmqManager> store_;
    std::shared_ptr<NEBMessagingClient> client_;
    std::shared_ptr<NEBMessagingPubSub> pubsub_;
    std::string token_ = "T";
};

TEST(NEBMessagingPubSubNames, TopicPatternAndPrefix) {
    for (const char* valid : {"/topics/news", "/topics/a_b.c~d%e", "/topics/x-y"}) {
        EXPECT_TRUE(NEBMessagingPubSub::isValidTopicWithPrefix(valid)) << valid;
    }
    for (const char* invalid : {"news", "/topics/", "/topics/a b", "/topics/x/y", "/topics/é"}) {
        EXPECT_FALSE(NEBMessagingPubSub::isValidTopicWithPrefix(invalid)) << invalid;
    }
    EXPECT_EQ(NEBMessagingPubSub::addPrefixToTopic("news"), "/topics/news");
    EXPECT_EQ(NEBMessagingPubSub::addPrefixToTopic("/topics/news"), "/topics/news");
}

TEST(NEBMessagingPubSubNames, RequestBodyEncodesEveryValueButTheTopic) {
    EXPECT_EQ(Client::requestBody("T", "A", "D", "1.0", "/topics/news", false),
              "sender=T&app=A&device=D&app_ver=1.0&X-msg.topic=/topics/news&X-scope=/topics/news");
    EXPECT_EQ(Client::requestBody("a&b=c", "A", "D", "1 0", "/topics/n", true),
              "sender=a%26b%3Dc&app=A&device=D&app_ver=1%200&X-msg.topic=/topics/n"
              "&X-scope=/topics/n&delete=true");
}

TEST(NEBMessagingPubSubNames, ReplyParsing) {
    struct Case {
        std::string body;
        std::optional<std::string> result;
    };
    for (const auto& c : std::vector<Case>{{"token=/topics/x", "/topics/x"},
                                           {"token=a=b", "a"},
                                           {"token=", ""},
                                           {"Error=INVALID_PARAMETERS", std::nullopt},
                                           {"", std::nullopt},
                                           {"tokens=x", std::nullopt}}) {
        auto result = Client::parseReply(c.body);
        EXPECT_EQ(result.ok(), c.result.has_value()) << c.body;
        if (result.ok()) EXPECT_EQ(*result, c.result) << c.body;
        if (!result.ok()) EXPECT_EQ(result.error().code(), 0);
    }
}

TEST_F(NEBMessagingPubSubTest, SubscribeSendsTheFormAndASecondOneIsAnsweredFromTheCache) {
    server_->on("POST", "/iid/register", HttpResponse::text(200, "token=/topics/news"));
    EXPECT_FALSE(subscribe("/topics/news").error);
    ASSERT_EQ(server_->requestCount(), 1u);
    auto request = server_->requests()[0];
    EXPECT_EQ(request.header("Authorization"), "AidLogin 4242:secret-4242");
    EXPECT_EQ(request.header("info"), "v9");
    EXPECT_TRUE(request.body.starts_with("sender=T&app="));
    EXPECT_TRUE(request.body.ends_with("&X-msg.topic=/topics/news&X-scope=/topics/news"));

    auto again = subscribe("/topics/news");
    ASSERT_TRUE(again.error);
    EXPECT_EQ(again.error->code(), NEBMessagingPubSub::kErrorAlreadySubscribed);
    EXPECT_EQ(server_->requestCount(), 1u);

    // Unsubscribing always asks the server; afterwards a subscribe asks again.
    EXPECT_FALSE(subscribe("/topics/news", true).error);
    EXPECT_TRUE(server_->requests()[1].body.ends_with("&delete=true"));
    EXPECT_FALSE(subscribe("/topics/news").error);
    EXPECT_EQ(server_->requestCount(), 3u);
    // Each request's outcome is logged; the cache's answer made no request and logs nothing.
    EXPECT_EQ(log_->count("Successfully subscribed to topic /topics/news"), 2u);
    EXPECT_EQ(log_->count("Successfully unsubscribed from topic /topics/news"), 1u);
    EXPECT_EQ(log_->count("Failed to subscribe"), 0u);
}

TEST_F(NEBMessagingPubSubTest, ServerRefusalsAreErrors) {
    server_->on("POST", "/iid/register", HttpResponse::text(200, "Error=INVALID_PARAMETERS"));
    server_->on("POST", "/iid/register", HttpResponse::text(500, "token=/topics/b"));
    EXPECT_EQ(subscribe("/topics/a").error->code(), 0);
    EXPECT_EQ(log_->count("Failed to subscribe to topic /topics/a"), 1u);
    // Only the body counts: a failing status with a token body is taken as the answer.
    EXPECT_FALSE(subscribe("/topics/b").error);
    EXPECT_EQ(subscribe("/topics/a b").error->code(), NEBMessagingPubSub::kErrorInvalidTopic);
}

// A topic request runs on the SDK's request road: within the services' topic registration
// limits, and never redirected from https to plain http, where the device's credentials would
// travel in the clear. A redirect not followed is the answer, which holds no token.
TEST_F(NEBMessagingPubSubTest, RequestsKeepToTheServicesLimitsAndToHttps) {
    server_->on("POST", "/iid/register",
                HttpResponse::redirect(307, "http://127.0.0.1:9/iid/register"));
    server_->on("POST", "/iid/register", HttpResponse::text(200, "token=/topics/b"));
    auto refused = subscribe("/topics/a");
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->domain(), kNEBMessagingDomain);
    EXPECT_EQ(refused.error->code(), NEBMessagingPubsubRegistrationClient::kErrorInvalidReply);

    NEBRequestPolicies small;
    small.topicRegistration.maximumResponseSize = 8;
    makeClient(
        std::make_shared<const NEBServices>(sec::Keychain::shared(), small, NEBBackoffPolicies{}));
    auto tooLong = subscribe("/topics/b");
    ASSERT_TRUE(tooLong.error);
    EXPECT_NE(tooLong.error->domain(), kNEBMessagingDomain);
    EXPECT_EQ(server_->requestCount(), 2u);
}

TEST_F(NEBMessagingPubSubTest, ASecondRequestForTheSameKeyWhileOneRunsIsRefused) {
    server_->on("POST", "/iid/register", HttpResponse::hang());
    // The first answer may come after the test: it must find its outcome alive.
    auto first = std::make_shared<Outcome>();
    pubsub_->subscribeWithToken("T", "/topics/slow", {}, [first](std::optional<ns::Error> e) {
        first->done = true;
        first->error = std::move(e);
    });
    ASSERT_TRUE(server_->waitForRequests(1));
    auto second = subscribe("/topics/slow");
    EXPECT_EQ(second.error->code(), 5);
    EXPECT_FALSE(first->done);
}

TEST_F(NEBMessagingPubSubTest, SyncSubscribesWantedTopicsAndCountsACacheHitAsDone) {
    server_->on("POST", "/iid/register", HttpResponse::text(200, "token=x"));
    auto cache = pubsub_->cache();
    token_.clear();
    cache->addTopic("/topics/a");
    loop().runUntilIdle();
    EXPECT_EQ(server_->requestCount(), 0u);  // no token: nothing sent, nothing scheduled

    token_ = "T";
    EXPECT_FALSE(subscribe("/topics/b").error);  // a valid cache entry for b
    cache->addTopic("/topics/b");
    ASSERT_TRUE(runUntil([&] { return cache->subscribedTopics().size() == 2; }));
    EXPECT_EQ(server_->requestCount(), 2u);  // a once by the sync; b from the cache
    EXPECT_EQ(ns::UserDefaults::standardUserDefaults()
                  ->objectForKey(kNEBMessagingSubscribedTopicsKey)
                  .count(),
              2u);
}

// Two syncs in a row (two topics added at once, or a configuration sync beside one) see the
// same topic to subscribe: the second leaves it to the request the first has out, so that it
// is neither refused as in progress (and logged as failed) nor registered twice.
TEST_F(NEBMessagingPubSubTest, ASecondSyncLeavesATopicInFlightToTheFirstRequest) {
    // The first request for /topics/all is held until released; the first for /topics/b fails.
    // The server's thread counts in memory of its own handler, which lives until the server
    // has stopped: this body's frame may be gone before then, and nothing but the socket orders
    // the server's last count before the end of the test.
    struct Counts {
        std::atomic<int> all{0}, b{0};
    };
    server_->on("POST", "/iid/register",
                [counts = std::make_shared<Counts>()](const peers::HttpRequest& request) {
                    if (request.body.ends_with("=/topics/b") && counts->b++ == 0) {
                        return HttpResponse::text(200, "Error=INTERNAL");
                    }
                    auto answer = HttpResponse::text(200, "token=x");
                    if (request.body.ends_with("=/topics/all") && counts->all++ == 0) {
                        answer.afterRequests = HttpResponse::kForever;
                    }
                    return answer;
                });
    auto cache = pubsub_->cache();
    cache->addTopic("/topics/all");
    cache->addTopic("/topics/all");
    loop().runUntilIdle();  // both syncs run while the first request is held
    ASSERT_TRUE(server_->waitForRequests(1));
    loop().runUntilIdle();
    server_->releaseHeld();
    ASSERT_TRUE(runUntil([&] { return cache->subscribedTopics().size() == 1; }));
    loop().runUntilIdle();
    EXPECT_EQ(server_->requestCount(), 1u);
    EXPECT_EQ(log_->count("Failed to subscribe"), 0u);
    EXPECT_EQ(log_->count("Successfully subscribe to topic: /topics/all"), 1u);

    // A failed request is retried by the next sync, which the first one scheduled.
    cache->addTopic("/topics/b");
    ASSERT_TRUE(runUntil([&] { return log_->count("Failed to subscribe to topic /topics/b"); }));
    ASSERT_TRUE(runUntil([&] { return cache->subscribeTopicsSyncCount() == 0; }));
    loop().advanceBy(std::chrono::milliseconds(NEBMessagingPubSubCache::kSyncSpacingMillis));
    ASSERT_TRUE(runUntil([&] { return cache->subscribedTopics().size() == 2; }));
    EXPECT_EQ(server_->requestCount(), 3u);
}

TEST_F(NEBMessagingPubSubTest, MissingCredentialsAnswer501) {
    auto bare = std::make_shared<NEBMessagingClient>(services(), reachability(true), store_, [] {
        return std::optional<NEBMessagingCheckinPreferences>();
    });
    auto pubsub = NEBMessagingPubSub::create(bare, [] { return std::string("T"); });
    Outcome outcome;
    pubsub->subscribeWithToken("T", "/topics/a", {}, outcome.handler());
    ASSERT_TRUE(runUntil([&] { return outcome.done; }));
    EXPECT_EQ(outcome.error->code(), 501);
    EXPECT_EQ(log_->count("Failed to subscribe to topic /topics/a"), 1u);
}

}  // namespace
