#include "sdk/messaging/NEBMessagingClient.h"

#include <gtest/gtest.h>

#include "platform/dispatch/RunLoop.h"
#include "platform/sec/Keychain.h"
#include "sdk/messaging/NEBMessagingRmqManager.h"
#include "tests/sdk/messaging/MessagingTestSupport.h"

namespace {

using namespace std::chrono_literals;

struct Answers {
    std::vector<std::optional<ns::Error>> errors;
    NEBMessagingClient::ConnectHandler handler() {
        return [this](const std::optional<ns::Error>& error) { errors.push_back(error); };
    }
};

class NEBMessagingClientTest : public messagingtest::MessagingTest {
protected:
    void SetUp() override {
        MessagingTest::SetUp();
        store_ = std::make_shared<NEBMessagingRmqManager>("rmq2");
        store_->loadRmqId();
    }
    void makeClient(bool withCredentials = true,
                    std::shared_ptr<const NEBServices> services = MessagingTest::services()) {
        auto preferences = credentials();
        client_ = std::make_shared<NEBMessagingClient>(
            std::move(services), reachability_, store_,
            [this, preferences,
             withCredentials]() -> std::optional<NEBMessagingCheckinPreferences> {
                if (!withCredentials && !credentialsArrived_) return std::nullopt;
                return preferences;
            });
    }
    peers::MessagingServer::Options options() {
        return {
            .identity = &ca().localhost(), .expectedUser = "4242", .expectedToken = "secret-4242"};
    }
    NEBMessagingConnection::State state() { return client_->connection()->state(); }

    std::shared_ptr<NIPReachability> reachability_ = reachability(true);
    std::shared_ptr<NEBMessagingRmqManager> store_;
    std::shared_ptr<NEBMessagingClient> client_;
    bool credentialsArrived_ = false;
    Answers answers_;
};

// The server comes from the run's environment here, as a user points the host at a local one.
TEST_F(NEBMessagingClientTest, LoginAnswersTheHandlerOnceAndASecondConnectIsRefused) {
    peers::MessagingServer server(options());
    const std::string address = "127.0.0.1:" + std::to_string(server.port());
    ::setenv(NEBServiceHosts::kMessagingServerVariable, address.c_str(), 1);
    makeClient();
    client_->connectWithHandler(answers_.handler());
    ASSERT_TRUE(runUntil([&] { return client_->isConnectionActive(); }));
    ASSERT_EQ(answers_.errors.size(), 1u);
    EXPECT_FALSE(answers_.errors[0]);

    Answers second;
    client_->connectWithHandler(second.handler());
    ASSERT_EQ(second.errors.size(), 1u);
    EXPECT_EQ(second.errors[0]->code(), NEBMessagingClient::kErrorAlreadyConnected);
    EXPECT_EQ(second.errors[0]->domain(), "com.nebula.ncm");
    EXPECT_TRUE(client_->isConnectionActive());
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(answers_.errors.size(), 1u);
    ::unsetenv(NEBServiceHosts::kMessagingServerVariable);
}

TEST(NEBMessagingServiceHostsTest, ServerSettingsAreHostAndOptionalPort) {
    using Hosts = NEBMessagingServiceHosts;
    struct Case {
        const char* text;
        std::optional<std::pair<std::string, uint16_t>> expected;
    };
    const Case cases[] = {
        {"messaging.example.test",
         std::pair<std::string, uint16_t>{"messaging.example.test", 5228}},
        {"127.0.0.1:40000", std::pair<std::string, uint16_t>{"127.0.0.1", 40000}},
        {"[::1]:443", std::pair<std::string, uint16_t>{"::1", 443}},
        {"[::1]", std::pair<std::string, uint16_t>{"::1", 5228}},
        {"::1", std::pair<std::string, uint16_t>{"::1", 5228}},
        {"", std::nullopt},
        {":5228", std::nullopt},
        {"host:", std::nullopt},
        {"host:0", std::nullopt},
        {"host:65536", std::nullopt},
        {"host:12ab", std::nullopt},
        {"host:-1", std::nullopt},
        {"[::1]x", std::nullopt},
        {"[]:1", std::nullopt},
    };
    for (const auto& c : cases) {
        auto server = Hosts::parseServer(c.text);
        ASSERT_EQ(server.has_value(), c.expected.has_value()) << c.text;
        if (!server) continue;
        EXPECT_EQ(server->host, c.expected->first) << c.text;
        EXPECT_EQ(server->port, c.expected->second) << c.text;
    }
}

TEST_F(NEBMessagingClientTest, BacksOffFromTwoToTenTwentyFourSecondsAndLoginResetsIt) {
    auto o = options();
    o.answerLogin = false;
    peers::MessagingServer server(o);
    NEBMessagingServiceHosts::setMessagingServer("127.0.0.1", server.port());
    makeClient();
    client_->connectWithHandler(answers_.handler());
    for (int attempt = 1; attempt <= 11; ++attempt) {
        ASSERT_TRUE(runUntil([&] { return server.loginRequests().size() == size_t(attempt); }));
        loop().advanceBy(40s);  // no login: the attempt times out
        EXPECT_EQ(state(), NEBMessagingConnection::kDisconnected) << attempt;
        if (attempt == 11) server.setAnswerLogin(true);  // the next attempt succeeds
        auto wait = std::chrono::seconds(1 << std::min(attempt, 10));
        loop().advanceBy(wait - 1s);
        EXPECT_EQ(state(), NEBMessagingConnection::kDisconnected) << attempt;
        loop().advanceBy(1s);
        EXPECT_NE(state(), NEBMessagingConnection::kDisconnected) << attempt;
    }
    EXPECT_EQ(client_->connectRetryCount(), 10u);
    EXPECT_TRUE(answers_.errors.empty());
    ASSERT_TRUE(runUntil([&] { return client_->isConnectionActive(); }));
    EXPECT_EQ(client_->connectRetryCount(), 0u);
    ASSERT_EQ(answers_.errors.size(), 1u);
    EXPECT_FALSE(answers_.errors[0]);
}

// The waits are the services' messaging connect row, whatever it holds.
TEST_F(NEBMessagingClientTest, BackOffFollowsTheServicesRow) {
    auto o = options();
    o.answerLogin = false;
    peers::MessagingServer server(o);
    NEBMessagingServiceHosts::setMessagingServer("127.0.0.1", server.port());
    NEBBackoffPolicies rules;
    rules.messagingConnect = {.base = 3, .maxExponent = 1};
    makeClient(true, std::make_shared<const NEBServices>(sec::Keychain::shared(),
                                                         NEBRequestPolicies{}, rules));
    client_->connectWithHandler(answers_.handler());
    for (int attempt = 1; attempt <= 3; ++attempt) {
        ASSERT_TRUE(runUntil([&] { return server.loginRequests().size() == size_t(attempt); }));
        loop().advanceBy(40s);
        loop().advanceBy(5s);  // 3 * 2^1 seconds, the row's longest
        EXPECT_EQ(state(), NEBMessagingConnection::kDisconnected) << attempt;
        loop().advanceBy(1s);
        EXPECT_NE(state(), NEBMessagingConnection::kDisconnected) << attempt;
    }
}

TEST_F(NEBMessagingClientTest, UnreachableNetworkAnswersFourAndReachableRetriesAtOnce) {
    peers::MessagingServer server(options());
    NEBMessagingServiceHosts::setMessagingServer("127.0.0.1", server.port());
    server.setAnswerLogin(false);
    makeClient();
    client_->connectWithHandler(answers_.handler());
    ASSERT_TRUE(runUntil([&] { return server.loginRequests().size() == 1; }));
    reachability_->callbackWithFlags(0);
    loop().advanceBy(40s);
    ASSERT_EQ(answers_.errors.size(), 1u);
    EXPECT_EQ(answers_.errors[0]->code(), NEBMessagingClient::kErrorNoNetwork);
    EXPECT_EQ(answers_.errors[0]->domain(),
              "No internet available, cannot connect to NEBMessaging");
    EXPECT_TRUE(client_->stayConnected());
    loop().advanceBy(2000s);
    EXPECT_EQ(state(), NEBMessagingConnection::kDisconnected);

    server.setAnswerLogin(true);
    reachability_->callbackWithFlags(net::kReachabilityFlagsReachable);
    client_->retryConnectionImmediately(true);
    ASSERT_TRUE(runUntil([&] { return client_->isConnectionActive(); }));
    EXPECT_EQ(answers_.errors.size(), 1u);

    // A server that goes away is tried again after the back-off.
    server.closeConnection();
    ASSERT_TRUE(runUntil([&] { return state() == NEBMessagingConnection::kDisconnected; }));
    loop().advanceBy(2s);
    ASSERT_TRUE(runUntil([&] { return client_->isConnectionActive(); }));

    client_->disconnect();
    reachability_->callbackWithFlags(net::kReachabilityFlagsReachable);
    client_->retryConnectionImmediately(true);
    EXPECT_EQ(state(), NEBMessagingConnection::kDisconnected);
}

TEST_F(NEBMessagingClientTest, MissingCredentialsAnswerFiveHundredOneOnce) {
    peers::MessagingServer server(options());
    NEBMessagingServiceHosts::setMessagingServer("127.0.0.1", server.port());
    makeClient(false);
    client_->connectWithHandler(answers_.handler());
    ASSERT_EQ(answers_.errors.size(), 1u);
    EXPECT_EQ(answers_.errors[0]->code(), NEBMessagingClient::kErrorMissingCheckin);
    EXPECT_EQ(log_->count("NEBMessaging registration is not ready with auth credentials"), 1u);
    credentialsArrived_ = true;
    client_->connect();
    ASSERT_TRUE(runUntil([&] { return client_->isConnectionActive(); }));
    EXPECT_EQ(answers_.errors.size(), 1u);
}

TEST_F(NEBMessagingClientTest, LaterReconnectIsScheduledOnce) {
    peers::MessagingServer server(options());
    NEBMessagingServiceHosts::setMessagingServer("127.0.0.1", server.port());
    makeClient();
    client_->connect();
    ASSERT_TRUE(runUntil([&] { return client_->isConnectionActive(); }));
    reachability_->callbackWithFlags(0);
    server.closeConnection();
    ASSERT_TRUE(runUntil([&] { return state() == NEBMessagingConnection::kDisconnected; }));
    reachability_->callbackWithFlags(net::kReachabilityFlagsReachable);
    client_->retryConnectionImmediately(false);
    client_->retryConnectionImmediately(false);
    EXPECT_TRUE(client_->didScheduleReconnect());
    loop().advanceBy(119s);
    EXPECT_EQ(state(), NEBMessagingConnection::kDisconnected);
    loop().advanceBy(1s);
    EXPECT_FALSE(client_->didScheduleReconnect());
    ASSERT_TRUE(runUntil([&] { return client_->isConnectionActive(); }));
    EXPECT_EQ(server.connections(), 2);
}

}  // namespace
