#include "sdk/messaging/NEBMessaging.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/dispatch/RunLoop.h"
#include "platform/ns/Locale.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ns/UserDefaults.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/ui/Application.h"
#include "sdk/core/NEBAnalyticsInternalLogging.h"
#include "sdk/core/NEBAnalyticsStarting.h"
#include "sdk/instance_id/NEBInstanceID.h"
#include "sdk/messaging/NEBMessagingClient.h"
#include "sdk/messaging/NEBMessagingDataMessageManager.h"
#include "sdk/messaging/NEBMessagingFileHandleLogWriter.h"
#include "sdk/messaging/NEBMessagingPubSub.h"
#include "sdk/messaging/NEBMessagingReceiver.h"
#include "sdk/messaging/NEBMessagingRmqManager.h"
#include "sdk/messaging/NEBMessagingSyncMessageManager.h"
#include "tests/sdk/messaging/MessagingTestSupport.h"
#include "tests/support/LogCapture.h"

namespace {

// Records what notification analytics logs, standing in for the analytics class.
class RecordingAnalytics : public ns::Object, public NEBAnalyticsInternalLogging {
public:
    static inline std::vector<std::string> events;
    void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                    const ns::Dictionary&) override {
        events.push_back(origin + ":" + name);
    }
    void setInternalUserProperty(const ns::Value& value, const std::string& name) override {
        events.push_back("property:" + name + "=" + value.stringValue());
    }
};

class NEBMessagingTest : public messagingtest::MessagingTest {
protected:
    void SetUp() override {
        MessagingTest::SetUp();
        RecordingAnalytics::events.clear();
        registry_->registerClass(kNEBAnalyticsClassName, std::nullopt,
                                 [] { return std::make_shared<RecordingAnalytics>(); },
                                 {kNEBAnalyticsLogInternalEventOperation,
                                  kNEBAnalyticsSetInternalUserPropertyOperation});
        auto preferences = credentials();
        messaging_ = messagingtest::startedMessaging(
            [preferences] { return std::optional<NEBMessagingCheckinPreferences>(preferences); },
            [this] { return reachability_; });
    }
    void TearDown() override {
        messaging_.reset();
        MessagingTest::TearDown();
    }
    void announceToken(const std::string& token) {
        ns::NotificationCenter::defaultCenter().post(kNEBInstanceIDTokenNotification,
                                                     std::make_shared<ns::Box<std::string>>(token));
    }

    ns::ScopedSharedInstance<rt::ClassRegistry> registry_;
    ns::ScopedSharedInstance<ui::Application> application_;
    std::shared_ptr<NIPReachability> reachability_ = reachability(true);
    std::shared_ptr<NEBMessaging> messaging_;
};

// The locale instance identity's check-in names: the service's entry that best serves the
// user's first served language, the platform's way ("zh-Hant-TW" is served by "zh_TW"), else
// "en".
TEST_F(NEBMessagingTest, CurrentLocaleIsTheServicesBestEntryForTheUser) {
    struct Case {
        std::vector<std::string> languages;
        const char* locale;
    };
    for (const auto& c : std::vector<Case>{{{"fr-FR"}, "fr_FR"},
                                           {{"xx", "de"}, "de"},
                                           {{"zh-Hant-TW"}, "zh_TW"},
                                           {{"pt-PT"}, "pt_PT"},
                                           {{"xx"}, "en"}}) {
        ns::Array languages;
        for (const auto& language : c.languages) languages.emplace_back(language);
        ns::UserDefaults::standardUserDefaults()->setObject(ns::kAppleLanguagesKey,
                                                            ns::Value(languages));
        EXPECT_EQ(NEBMessaging::NEBMessagingSDKCurrentLocale(), c.locale) << c.languages[0];
    }
}

TEST_F(NEBMessagingTest, StartWritesTheVersionAndMakesTheStoreFolder) {
    EXPECT_EQ(ns::UserDefaults::standardUserDefaults()
                  ->objectForKey(kNEBMessagingVersionDefaultsKey)
                  .stringValue(),
              "1.2.0");
    EXPECT_TRUE(NEBMessaging::hasApplicationSupportSubDirectory("Nebula/NebulaMessaging"));
    EXPECT_TRUE(messaging_->isClientSetup());
    EXPECT_EQ(NEBMessaging::NEBMessagingSDKVersion(), "ncm-1.2.0");

    // A file in the way of a folder is reported, not taken for one.
    std::string path = NEBMessaging::pathForApplicationSupportSubDirectory("blocked");
    { std::ofstream(path) << "x"; }
    EXPECT_FALSE(NEBMessaging::createApplicationSupportSubDirectory("blocked"));
    EXPECT_EQ(log_->count("Found file instead of directory at"), 1u);
}

TEST_F(NEBMessagingTest, TopicFrontsNeedATokenAndAValidName) {
    messaging_->subscribeToTopic("news");
    EXPECT_EQ(log_->count("Cannot subscribe to topic: news with token: "), 1u);

    announceToken("T1");
    messaging_->subscribeToTopic("news");
    EXPECT_EQ(log_->count("WARNING. Topic name news should be prefixed with /topics/ as "
                          "/topics/news"),
              1u);
    messaging_->subscribeToTopic("/topics/a b");
    EXPECT_EQ(log_->count("Cannot parse topic name /topics/a b. Will not subscribe."), 1u);
    messaging_->unsubscribeFromTopic("x/y");
    EXPECT_EQ(log_->count("Cannot parse topic name x/y. Will not unsubscribe."), 1u);
    // A name that would forge a line, or reach the terminal, is written escaped.
    {
        testsupport::LogCapture written;
        written.expect("Cannot parse topic name x");
        NEBMessagingSharedLogger().setWriter(std::make_shared<NEBMessagingFileHandleLogWriter>());
        messaging_->subscribeToTopic("x\n2026-01-01 00:00:00: <NEBMessaging/ERROR> forged\x1b[2J");
        NEBMessagingSharedLogger().setWriter(log_);
        ASSERT_EQ(written.entries().size(), 1u);
        const std::string line = written.entries()[0].line;
        EXPECT_NE(line.find("Cannot parse topic name x\\n2026-01-01 00:00:00: "
                            "<NEBMessaging/ERROR> forged\\u001B[2J. Will not subscribe."),
                  std::string::npos)
            << line;
        EXPECT_EQ(line.find('\n'), std::string::npos);
        EXPECT_EQ(line.find('\x1b'), std::string::npos);
        EXPECT_EQ(written.entries()[0].subsystem, kNEBMessagingLogSubsystem);
    }

    // From a background thread the work waits for the main loop.
    std::thread([&] { messaging_->subscribeToTopic("/topics/sport"); }).join();
    auto wanted = messaging_->pubsub()->cache()->allTopics();
    EXPECT_TRUE(wanted.contains("/topics/news"));
    EXPECT_FALSE(wanted.contains("/topics/sport"));
    loop().runUntilIdle();
    EXPECT_TRUE(messaging_->pubsub()->cache()->allTopics().contains("/topics/sport"));
}

TEST_F(NEBMessagingTest, TokenNotificationsOfTheWrongKindAreIgnored) {
    announceToken("T1");
    ns::NotificationCenter::defaultCenter().post(kNEBInstanceIDTokenNotification,
                                                 std::make_shared<ns::Box<int>>(3));
    EXPECT_EQ(messaging_->defaultNcmToken(), "T1");
    ns::NotificationCenter::defaultCenter().post(
        kNEBInstanceIDAPNSTokenNotification,
        std::make_shared<ns::Box<ns::Data>>(ns::Data::fromString("apns")));
    ASSERT_TRUE(messaging_->apnsTokenData());
    EXPECT_EQ(messaging_->apnsTokenData()->chars(), "apns");
}

TEST_F(NEBMessagingTest, ARemoteMessageDelegateCannotBeCleared) {
    auto delegate = std::make_shared<messagingtest::RecordingDelegate>();
    messaging_->setRemoteMessageDelegate(delegate);
    messaging_->setRemoteMessageDelegate(nullptr);
    EXPECT_EQ(messaging_->remoteMessageDelegate(), delegate);

    messaging_->receiver()->didReceiveMessage({{"k", ns::Value("v")}}, "");
    ASSERT_EQ(delegate->received.size(), 1u);
    EXPECT_EQ(delegate->received[0].at("k").stringValue(), "v");
}

TEST_F(NEBMessagingTest, UpstreamMessageCarriesAnEmptyIdWhenNoneIsGiven) {
    auto message = NEBMessaging::createNEBMessagingMessageWithMessage({{"a", ns::Value("1")}}, "to",
                                                                      std::nullopt, 60, 0);
    EXPECT_EQ(message.at("nebula.msg_id").stringValue(), "");
    EXPECT_EQ(message.at("nebula.ttl").int64(), 60);
    EXPECT_EQ(message.at("nebula.to").stringValue(), "to");
    EXPECT_EQ(message.at("nebula.data").find("a")->stringValue(), "1");
}

TEST_F(NEBMessagingTest, DebugEventsKeepTheNewest199) {
    for (int i = 0; i < 200; ++i) messaging_->addEvent("e" + std::to_string(i));
    auto events = messaging_->debugEvents();
    ASSERT_EQ(events.size(), 199u);
    EXPECT_TRUE(events.front().ends_with(":1:0:e199")) << events.front();
    EXPECT_TRUE(events.back().ends_with(":e1"));
}

// A stored message that waits for a connection shows in the debug events; one that cannot
// wait (no time to live) does not.
TEST_F(NEBMessagingTest, AStoredMessageWaitingForTheConnectionIsADebugEvent) {
    reachability_->callbackWithFlags(0);
    messaging_->dataMessageManager()->setDeviceAuthID("4242", "secret-4242");
    messaging_->sendMessage({{"k", ns::Value("v")}}, "to@example.test", std::string("m-1"), 60);
    loop().runUntilIdle();
    auto events = messaging_->debugEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(events.front().ends_with(":0:0:Queued message: m-1")) << events.front();
    messaging_->sendMessage({{"k", ns::Value("v")}}, "to@example.test", std::string("m-2"), 0);
    loop().runUntilIdle();
    EXPECT_EQ(messaging_->debugEvents().size(), 1u);
}

// Analytics is logged once per message id and process; a silent push already seen on the
// socket is a duplicate and is not logged at all.
TEST_F(NEBMessagingTest, ReceiptLogsAnalyticsOncePerMessageAndSkipsSilentDuplicates) {
    ns::Dictionary visible{{"msg.message_id", ns::Value("m1")},
                           {"nebula.c.a.c_id", ns::Value("c1")},
                           {"nebula.c.a.tc", ns::Value("1")}};
    EXPECT_EQ(messaging_->appDidReceiveMessage({}).status, NEBMessagingMessageInfo::kStatusUnknown);
    EXPECT_EQ(messaging_->appDidReceiveMessage(visible).status,
              NEBMessagingMessageInfo::kStatusNew);
    messaging_->appDidReceiveMessage(visible);
    EXPECT_EQ(RecordingAnalytics::events,
              (std::vector<std::string>{"property:_ln=c1", "ncm:_cmp", "ncm:_no"}));
    EXPECT_EQ(messaging_->rmq2Manager()->unackedS2dRmqIds().front(), "m1");

    RecordingAnalytics::events.clear();
    ns::Dictionary silent{{"msg.message_id", ns::Value("m2")},
                          {"nebula.c.a.c_id", ns::Value("c2")},
                          {"aps", ns::Value::dict({{"content-available", ns::Value(true)}})}};
    std::optional<bool> seenBefore;
    messaging_->syncMessageManager()->didReceiveMCSSyncMessage(
        silent, NEBMessagingSyncMessageManager::Copy::SocketCopy,
        [&](bool seen) { seenBefore = seen; });
    messaging_->appDidReceiveMessage(silent);
    loop().runUntilIdle();
    EXPECT_EQ(seenBefore, false);
    EXPECT_TRUE(RecordingAnalytics::events.empty());
    // Both roads seen: the record is gone.
    EXPECT_FALSE(messaging_->rmq2Manager()->querySyncMessageWithRmqID("m2"));

    // In the foreground the event is "_nf", and campaigns belong to opened notifications.
    application_->launch();
    application_->becomeActive();
    visible.insert_or_assign("msg.message_id", ns::Value("m3"));
    messaging_->appDidReceiveMessage(visible);
    loop().runUntilIdle();
    EXPECT_EQ(RecordingAnalytics::events, std::vector<std::string>{"ncm:_nf"});
}

// The push service marks a silent notification with the number 1, not a boolean.
TEST(NEBMessagingSilentNotifications, AnyTrueContentAvailableMarksThem) {
    auto silent = [](ns::Value flag) {
        return NEBMessaging::isAPNSSyncMessage(
            {{"aps", ns::Value::dict({{"content-available", std::move(flag)}})}});
    };
    EXPECT_TRUE(silent(ns::Value(1)));
    EXPECT_TRUE(silent(ns::Value(true)));
    EXPECT_TRUE(silent(ns::Value("1")));
    EXPECT_FALSE(silent(ns::Value(0)));
    EXPECT_FALSE(silent(ns::Value(false)));
    EXPECT_FALSE(NEBMessaging::isAPNSSyncMessage({{"aps", ns::Value(1)}}));
    EXPECT_FALSE(NEBMessaging::isAPNSSyncMessage({{"content-available", ns::Value(1)}}));
}

TEST_F(NEBMessagingTest, SyncExpirySaturatesInsteadOfWrapping) {
    int64_t far = NEBMessagingSyncMessageManager::expirationTimeForSyncMessage(
        {{"msg.ttl", ns::Value(std::numeric_limits<int64_t>::max())}});
    EXPECT_EQ(far, std::numeric_limits<int64_t>::max());
}

// Two sends finishing in one turn are two pieces of news.
TEST_F(NEBMessagingTest, SendOutcomesAreNotCoalescedAcrossMessages) {
    std::vector<std::string> heard;
    auto token = ns::NotificationCenter::defaultCenter().addObserver(
        kNEBMessagingSendSuccessNotification, nullptr, [&](const ns::Notification& note) {
            heard.push_back(note.userInfo.at(kNEBMessagingMessageIDKey).stringValue());
        });
    messaging_->receiver()->didSendDataMessageWithID("a");
    messaging_->receiver()->didSendDataMessageWithID("b");
    loop().runUntilIdle();
    ns::NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_EQ(heard, (std::vector<std::string>{"a", "b"}));
}

TEST_F(NEBMessagingTest, NetworkReturningWhileDisconnectedRetriesAndSyncsTopics) {
    announceToken("T1");
    loop().advanceBy(std::chrono::seconds(100));
    reachability_->callbackWithFlags(0);
    messaging_->networkStatusChanged();
    EXPECT_FALSE(messaging_->client()->stayConnected());
    reachability_->callbackWithFlags(net::kReachabilityFlagsReachable);
    messaging_->networkStatusChanged();
    EXPECT_EQ(messaging_->pubsub()->cache()->nextScheduledSyncTimestampMillis(),
              static_cast<int64_t>(dispatch::Clock::current().wallTime() * 1000));
}

}  // namespace
