#include "services/LocalServices.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "platform/ns/NotificationCenter.h"
#include "platform/ns/Sandbox.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/ui/Application.h"
#include "sdk/core/NEBLogbookLogger.h"
#include "sdk/core/NEBNetwork.h"
#include "sdk/core/NEBServiceHosts.h"
#include "sdk/messaging/NEBMessaging.h"
#include "sdk/messaging/NEBMessagingPubSub.h"
#include "tests/sdk/messaging/MessagingTestSupport.h"

namespace {

// The messaging library, pointed at the local services through the environment they print,
// as tools/dev run points the host at them.
class LocalServicesTest : public messagingtest::MessagingTest {
protected:
    void SetUp() override {
        MessagingTest::SetUp();
        services_ = std::make_unique<localservices::LocalServices>();
        services_->start();
        for (const auto& [name, value] : services_->environment()) {
            ::setenv(name.c_str(), value.c_str(), 1);
            variables_[name] = value;
        }
        ASSERT_TRUE(NEBServiceHosts::applyTrustedCAFile());
        auto preferences = credentials();
        messaging_ = messagingtest::startedMessaging(
            [preferences] { return std::optional<NEBMessagingCheckinPreferences>(preferences); },
            [this] { return reachability_; });
        messaging_->setRemoteMessageDelegate(delegate_);
    }
    void TearDown() override {
        messaging_.reset();
        services_.reset();
        for (const auto& [name, value] : variables_) ::unsetenv(name.c_str());
        MessagingTest::TearDown();
    }
    void subscribe(const std::string& topic) {
        bool done = false;
        std::optional<ns::Error> error;
        messaging_->pubsub()->subscribeWithToken("T", topic, {}, [&](std::optional<ns::Error> e) {
            done = true;
            error = std::move(e);
        });
        ASSERT_TRUE(runUntil([&] { return done; }));
        ASSERT_FALSE(error) << error->description();
    }
    void connect() {
        bool connected = false;
        messaging_->connectWithCompletion(
            [&](const std::optional<ns::Error>& error) { connected = !error; });
        ASSERT_TRUE(runUntil([&] { return connected; }));
    }

    std::unique_ptr<localservices::LocalServices> services_;
    std::map<std::string, std::string> variables_;
    ns::ScopedSharedInstance<rt::ClassRegistry> registry_;
    ns::ScopedSharedInstance<ui::Application> application_;
    std::shared_ptr<NIPReachability> reachability_ = reachability(true);
    std::shared_ptr<messagingtest::RecordingDelegate> delegate_ =
        std::make_shared<messagingtest::RecordingDelegate>();
    std::shared_ptr<NEBMessaging> messaging_;
};

TEST_F(LocalServicesTest, EveryServiceIsNamedForTheHost) {
    for (const char* name : {"NEBULA_TRUSTED_CA_FILE", "NEBULA_CHECKIN_SERVER_URL",
                             "NEBULA_REGISTRATION_SERVER_URL", "NEBULA_MESSAGING_SERVER",
                             "NEBULA_MEASUREMENT_UPLOAD_HOST", "NEBULA_LOGBOOK_SERVER_URL"}) {
        EXPECT_FALSE(variables_[name].empty()) << name;
    }
    EXPECT_EQ(NEBServiceHosts::messagingServer().rfind("127.0.0.1:", 0), 0u);
    EXPECT_EQ(NEBServiceHosts::registrationServerURL().rfind("https://127.0.0.1:", 0), 0u);
}

// A subscription is greeted on its topic over the socket: one made while the device is away
// waits for its login, one made while it is connected comes at once. What reaches the
// application is the message without the library's own keys.
TEST_F(LocalServicesTest, SubscribingToATopicBringsAWelcomeOnThatTopic) {
    subscribe("/topics/early");
    connect();
    ASSERT_TRUE(runUntil([&] { return delegate_->received.size() == 1; }));
    subscribe("/topics/news");
    ASSERT_TRUE(runUntil([&] { return delegate_->received.size() == 2; }));

    EXPECT_EQ(delegate_->received[0].at("from"), ns::Value("/topics/early"));
    const ns::Dictionary& news = delegate_->received[1];
    EXPECT_EQ(news.at("from"), ns::Value("/topics/news"));
    EXPECT_EQ(news.at("topic"), ns::Value("/topics/news"));
    EXPECT_EQ(news.at("message").stringValue(),
              "Welcome to news, from the local messaging server.");
    for (const auto& [key, value] : news) EXPECT_NE(key.rfind("msg.", 0), 0u) << key;
}

// The diagnostic log uploader, pointed at the local services, has its upload taken: the queued
// file goes, which it does only on the service's 200.
TEST_F(LocalServicesTest, DiagnosticLogsAreTaken) {
    auto url = ns::URL::parse(NEBServiceHosts::logbookServerURL());
    ASSERT_TRUE(url);
    auto network = NEBNetwork::create("localhost");
    ASSERT_TRUE(network);
    const std::string queue = ns::Sandbox::root() + "/logbook";
    auto logger = NEBLogbookLogger::create(network, queue);
    logger->setServerURL(*url);
    NEB_LOGBOOK::LogEvent event;
    event.set_source_extension("local services");
    logger->logEvent(event, 137, "greenhouse");
    bool flushed = false;
    logger->flushWithCompletionHandler([&] { flushed = true; });
    ASSERT_TRUE(runUntil([&] { return flushed; }));
    std::error_code ec;
    EXPECT_TRUE(std::filesystem::is_empty(queue + "/greenhouse/137", ec)) << ec.message();
    EXPECT_EQ(logger->uploadRetriesRemaining(), kNEBLogbookUploadRetries);
}

}  // namespace
