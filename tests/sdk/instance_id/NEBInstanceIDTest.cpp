// The facade: argument checks, the default token kept alive, the push-service token, the
// commands messaging relays, the application-delegate hook and the provisioning decision.
#include <gtest/gtest.h>

#include <thread>

#include <atomic>
#include <fstream>

#include "platform/dispatch/Queue.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/sec/SecItem.h"
#include "platform/testing/InjectedFaults.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/Application.h"
#include "sdk/core/NEBOptions.h"
#include "sdk/instance_id/NEBInstanceID.h"
#include "sdk/instance_id/NEBInstanceIDAppDelegateProxy.h"
#include "sdk/instance_id/NEBInstanceIDAuthService.h"
#include "sdk/instance_id/NEBInstanceIDErrors.h"
#include "sdk/instance_id/NEBInstanceIDFileHandleLogWriter.h"
#include "sdk/instance_id/NEBInstanceIDKeyPairStore.h"
#include "sdk/instance_id/NEBInstanceIDLogLevelFilter.h"
#include "sdk/instance_id/NEBInstanceIDLogStandardFormatter.h"
#include "sdk/instance_id/NEBInstanceIDProvisioningProfile.h"
#include "sdk/instance_id/NEBInstanceIDTokenManager.h"
#include "tests/sdk/instance_id/InstanceIDFixture.h"
#include "tests/support/LogCapture.h"

namespace {

using iidtest::InstanceIDTest;
using peers::CheckinPeer;
using peers::RegistrationPeer;

// Counts the notifications of one name, with their objects' texts.
class Observed {
public:
    explicit Observed(const char* name) {
        token_ = ns::NotificationCenter::defaultCenter().addObserver(
            name, nullptr, [this](const ns::Notification& note) {
                EXPECT_TRUE(dispatch::RunLoop::isMainThread());
                if (auto text = std::dynamic_pointer_cast<ns::Box<std::string>>(note.object)) {
                    objects.push_back(text->value());
                } else {
                    objects.push_back(note.object ? "<object>" : "<none>");
                }
            });
    }
    ~Observed() { ns::NotificationCenter::defaultCenter().removeObserver(token_); }
    size_t count() const { return objects.size(); }
    std::vector<std::string> objects;

private:
    uint64_t token_;
};

class FacadeTest : public InstanceIDTest {
protected:
    // A new launch: a fresh shared instance with the default configuration.
    std::shared_ptr<NEBInstanceID> launch() {
        instance_.reset();
        shared_.reset();
        shared_.emplace();
        instance_ = NEBInstanceID::instanceID();
        NEBInstanceIDSharedLogger().setFilter(nullptr);
        return instance_;
    }
    // An instance of its own with another configuration.
    std::shared_ptr<NEBInstanceID> launch(NEBInstanceIDConfig config) {
        instance_ = NEBInstanceID::create(config, services_);
        NEBInstanceIDSharedLogger().setFilter(nullptr);
        return instance_;
    }
    void TearDown() override {
        instance_.reset();
        shared_.reset();
        InstanceIDTest::TearDown();
    }
    struct Outcome {
        bool done = false;
        std::optional<std::string> token;
        std::optional<ns::Error> error;
    };
    std::shared_ptr<Outcome> token(const std::string& entity, const std::string& scope,
                                   std::optional<ns::Dictionary> options) {
        auto outcome = std::make_shared<Outcome>();
        instance_->tokenWithAuthorizedEntity(entity, scope, options, [outcome](auto t, auto e) {
            EXPECT_TRUE(dispatch::RunLoop::isMainThread());
            outcome->token = t;
            outcome->error = e;
            outcome->done = true;
        });
        return outcome;
    }
    static std::shared_ptr<NEBOptions> senderOptions() {
        return NEBOptions::initInternalWithOptionsDictionary(
            {{kNEBMSGSenderID, "123"}, {kNEBNebulaAppID, "1:123:ios:abc"}});
    }
    // A keychain of the test's own, for services other than the process's.
    testsupport::TempDir elsewhere_;
    std::unique_ptr<sec::Keychain> ownKeychain_;
    std::shared_ptr<NEBInstanceID> instance_;
    std::optional<ns::ScopedSharedInstance<NEBInstanceID>> shared_;
};

// The page's getToken can be the first to ask for the shared instance, from a background queue,
// while the main thread configures it and fetches the default token.
TEST_F(FacadeTest, ConcurrencyFirstUseFromABackgroundQueue) {
    checkin_->answer(CheckinPeer::credentials("1", "2"));
    shared_.reset();
    shared_.emplace();
    std::atomic<bool> go{false};
    std::atomic<bool> fetched{false};
    std::shared_ptr<NEBInstanceID> fromBackground;
    std::thread background([&] {
        while (!go) std::this_thread::yield();
        fromBackground = NEBInstanceID::instanceID();
        // Asks until the main thread's fetch has stored the token, reading as it is written.
        while (!fetched) {
            if (fromBackground->token()) fetched = true;
        }
    });
    go = true;
    instance_ = NEBInstanceID::instanceID();
    instance_->configureInstanceIDWithOptions(*senderOptions(), nullptr);
    ASSERT_TRUE(waitUntil([&] { return instance_->token().has_value(); }));
    fetched = true;
    background.join();
    EXPECT_EQ(fromBackground, instance_);
    EXPECT_EQ(instance_->token(), fromBackground->token());
}

TEST_F(FacadeTest, TokenRequestsAreCheckedInOrder) {
    launch();
    ns::Data apns = ns::Data::fromString("\x0a\xff");
    struct Case {
        const char* entity;
        const char* scope;
        std::optional<ns::Dictionary> options;
        int64_t code;
    } cases[] = {
        {"s", "NcM", std::nullopt, 1001},
        {"s", "ncm", ns::Dictionary{{"apns_token", apns}}, 1002},
        {"s", "ncm", ns::Dictionary{{"apns_token", "text"}, {"apns_sandbox", true}}, 7},
        {"", "ncm", ns::Dictionary{{"apns_token", apns}, {"apns_sandbox", true}}, 1003},
        {"", "*", std::nullopt, 1003},
        {"s", "", std::nullopt, 1004},
    };
    for (const auto& c : cases) {
        auto outcome = token(c.entity, c.scope, c.options);
        EXPECT_FALSE(outcome->done) << "answered synchronously";
        ASSERT_TRUE(waitUntil([&] { return outcome->done; }));
        ASSERT_TRUE(outcome->error) << c.scope;
        EXPECT_EQ(outcome->error->code(), c.code) << c.entity << "/" << c.scope;
    }
    // Registration without a device token allowed: the messaging scope passes the checks.
    NEBInstanceIDConfig allowing = NEBInstanceIDConfig::defaultConfig();
    allowing.setAllowMSGRegistrationWithoutAPNSToken(true);
    launch(allowing);
    auto outcome = token("", "ncm", std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return outcome->done; }));
    EXPECT_EQ(outcome->error->code(), 1003);
}

TEST_F(FacadeTest, OptionsWithoutSenderIDEndConfiguration) {
    auto instance = launch();
    auto options =
        NEBOptions::initInternalWithOptionsDictionary({{kNEBNebulaAppID, "1:123:ios:abc"}});
    try {
        instance->configureInstanceIDWithOptions(*options, nullptr);
        ADD_FAILURE() << "no exception";
    } catch (const ns::Exception& exception) {
        EXPECT_EQ(exception.name(), "com.nebula.instanceid");
        EXPECT_EQ(exception.reason(), "Could not configure Nebula InstanceID.");
    }
    EXPECT_EQ(instance->ncmSenderID(), "");
    loop().runUntilIdle();
    EXPECT_EQ(checkin_->count(), 0u);
}

TEST_F(FacadeTest, MessagingTokenCarriesTheDeviceTokenText) {
    launch();
    checkin_->answer(CheckinPeer::credentials("1", "2"));
    auto outcome = token(
        "s", "ncm",
        ns::Dictionary{{"apns_token", ns::Data::fromString("\x0a\xff")}, {"apns_sandbox", true}});
    ASSERT_TRUE(waitUntil([&] { return outcome->done; }));
    ASSERT_FALSE(outcome->error) << outcome->error->description();
    EXPECT_EQ(registration_->requests().at(0).field("apns_token"), "s_0aff");
    EXPECT_EQ(registration_->problems(), std::vector<std::string>{});
}

TEST_F(FacadeTest, WaitForARunningCheckinIsCountedPerWait) {
    auto instance = launch();
    checkin_->answer(peers::HttpResponse::hang());
    auto auth = instance->tokenManager()->registrar()->authService();
    auth->scheduleCheckin(true);
    ASSERT_TRUE(waitUntil([&] { return checkin_->count() == 1; }));
    auto first = token("s", "*", std::nullopt);
    for (int i = 0; i < 21; ++i) advance(2);
    ASSERT_TRUE(waitUntil([&] { return first->done; }));
    EXPECT_EQ(first->error->code(), 501);
    EXPECT_EQ(first->error->userInfo().at("msg").stringValue(),
              "Missing device credentials. Retry later.");

    // A later caller waits its own turns and gets the credentials once they arrive.
    auto second = token("s", "app-scope", std::nullopt);
    advance(2);
    EXPECT_FALSE(second->done);
    server_->releaseHeld();
    checkin_->answer(CheckinPeer::credentials("1", "2"));
    auth->stopCheckinRequest();
    ASSERT_TRUE(waitUntil([&] { return !auth->isCheckinInProgress(); }));
    bool fetched = false;
    auth->fetchCheckinInfoWithHandler([&](auto, auto) { fetched = true; });
    ASSERT_TRUE(waitUntil([&] { return fetched; }));
    advance(2);
    ASSERT_TRUE(waitUntil([&] { return second->done; }));
    EXPECT_FALSE(second->error) << second->error->description();
}

TEST_F(FacadeTest, DefaultTokenRetriesAfterTwelveTwentyFourThirtyEightFiftySixSeconds) {
    auto instance = launch();
    checkin_->answer(CheckinPeer::credentials("1", "2"));
    registration_->answer(RegistrationPeer::text("Error=INVALID_SENDER\n"));
    Observed failures(kNEBInstanceIDDefaultTokenFailNotification);
    instance->configureInstanceIDWithOptions(*senderOptions(), nullptr);
    EXPECT_FALSE(instance->token());
    ASSERT_TRUE(waitUntil([&] { return failures.count() == 1; }));
    for (double wait : {12.0, 24.0, 38.0, 56.0}) {
        size_t before = registration_->count();
        advance(wait - 1);
        EXPECT_EQ(registration_->count(), before) << wait;
        advance(1);
        ASSERT_TRUE(waitUntil([&] { return failures.count() == before + 1; })) << wait;
    }
    advance(2000);
    loop().runUntilIdle();
    EXPECT_EQ(failures.count(), 5u);
    EXPECT_EQ(registration_->count(), 5u);
}

// An instance made with services of its own keeps its items in their keychain and waits by
// their retry rule.
TEST_F(FacadeTest, AnInstanceStandsOnTheServicesItIsGiven) {
    ownKeychain_ = std::make_unique<sec::Keychain>(elsewhere_.path());
    NEBBackoffPolicies backoff;
    backoff.defaultToken = NEBBackoff{.base = 3, .capFrom = 5};
    services_ = std::make_shared<const NEBServices>(*ownKeychain_, NEBRequestPolicies{}, backoff);
    auto instance = launch(NEBInstanceIDConfig::defaultConfig());
    checkin_->answer(CheckinPeer::credentials("1", "2"));
    registration_->answer(RegistrationPeer::text("Error=INVALID_SENDER\n"));
    Observed failures(kNEBInstanceIDDefaultTokenFailNotification);
    instance->configureInstanceIDWithOptions(*senderOptions(), nullptr);
    ASSERT_TRUE(waitUntil([&] { return failures.count() == 1; }));
    const size_t before = registration_->count();
    advance(5);
    EXPECT_EQ(registration_->count(), before);
    advance(1);
    ASSERT_TRUE(waitUntil([&] { return failures.count() == 2; }));
    EXPECT_EQ(instance->retryIntervalToFetchDefaultToken(), 12);

    const ns::Dictionary checkinItem{{sec::kSecClass, sec::kSecClassGenericPassword},
                                     {sec::kSecAttrService, "com.nebula.iid.checkin-service"}};
    ns::Value found;
    EXPECT_EQ(ownKeychain_->copyMatching(checkinItem, &found), sec::errSecSuccess);
    EXPECT_EQ(sec::Keychain::shared().copyMatching(checkinItem, &found), sec::errSecItemNotFound);
    ASSERT_TRUE(instance->appInstanceID().ok());
    const ns::Dictionary keys{{sec::kSecClass, sec::kSecClassKey}};
    EXPECT_EQ(ownKeychain_->copyMatching(keys, &found), sec::errSecSuccess);
    EXPECT_EQ(sec::Keychain::shared().copyMatching(keys, &found), sec::errSecItemNotFound);
}

// What a server sends is quoted in lines; none of it forges a line or reaches the terminal.
TEST_F(FacadeTest, LoggedTextIsEscaped) {
    launch();
    NEBInstanceIDSharedLogger().setWriter(NEBInstanceIDFileHandleLogWriter::standardOutput());
    testsupport::LogCapture capture;
    capture.expect("Unexpected result");
    NEBInstanceIDLoggerError("Unexpected result %@",
                             std::string("x\n<NEBInstanceID/ERROR> forged\x1b[2J"));
    const auto entries = capture.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].subsystem, kNEBInstanceIDLogSubsystem);
    EXPECT_NE(entries[0].line.find("Unexpected result x\\n<NEBInstanceID/ERROR> forged\\u001B[2J"),
              std::string::npos)
        << entries[0].line;
    EXPECT_EQ(entries[0].line.find_first_of("\n\x1b"), std::string::npos) << entries[0].line;
}

// The identity, or the keychain's refusal to give its key pair, reaches the handler: never both.
TEST_F(FacadeTest, GetIDAnswersTheAppIdentityOrWhyThereIsNone) {
    struct Answer {
        std::optional<std::string> id;
        std::optional<ns::Error> error;
    };
    auto getID = [&](NEBInstanceID& instance) {
        auto answer = std::make_shared<std::optional<Answer>>();
        instance.getIDWithHandler([answer](auto id, auto error) { *answer = Answer{id, error}; });
        EXPECT_TRUE(waitUntil([&] { return answer->has_value(); }));
        return answer->value_or(Answer{});
    };
    ns::InjectedFaults faults;
    ns::InjectedFaults::add("keychain", sec::errSecInternalComponent, 100);
    auto refused = getID(*launch());
    ns::InjectedFaults::clear();
    EXPECT_FALSE(refused.id);
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->code(), sec::errSecInternalComponent);

    auto instance = launch();
    auto answered = getID(*instance);
    EXPECT_FALSE(answered.error);
    EXPECT_EQ(answered.id, instance->appInstanceID().value());
}

TEST_F(FacadeTest, DefaultTokenFetchedBeforeTheDeviceTokenIsFetchedAgainWithIt) {
    registerMessaging();
    auto instance = launch();
    checkin_->answer(CheckinPeer::credentials("1", "2"));
    Observed tokens(kNEBInstanceIDTokenNotification);
    Observed refreshes(kNEBInstanceIDTokenRefreshNotification);
    Observed apns(kNEBInstanceIDAPNSTokenNotification);
    instance->configureInstanceIDWithOptions(*senderOptions(), nullptr);
    EXPECT_FALSE(instance->token());
    EXPECT_FALSE(instance->token());  // one fetch at a time
    ASSERT_TRUE(waitUntil([&] { return refreshes.count() == 1; }));
    EXPECT_EQ(registration_->count(), 1u);
    EXPECT_EQ(registration_->requests()[0].field("apns_token"), "");

    instance->setAPNSToken(ns::Data::fromString("\x01\x02"), NEBInstanceIDAPNSTokenType::Sandbox);
    instance->setAPNSToken(ns::Data::fromString("\x01\x02"), NEBInstanceIDAPNSTokenType::Sandbox);
    // An automatically fetched token does not replace the one the app set.
    instance->setAutoFetchedAPNSToken(ns::Data::fromString("\x09"), std::nullopt);
    loop().runUntilIdle();
    EXPECT_EQ(apns.count(), 1u);
    EXPECT_EQ(instance->apnsToken(), "s_0102");
    advance(5);
    ASSERT_TRUE(waitUntil([&] { return refreshes.count() == 2; }));
    EXPECT_EQ(registration_->requests().back().field("apns_token"), "s_0102");
    // The token registered with the app's own environment is the one the cache serves.
    EXPECT_EQ(instance->token(), instance->defaultNCMToken());
    EXPECT_EQ(registration_->problems(), std::vector<std::string>{});
}

TEST_F(FacadeTest, DefaultTokenAskedFromABackgroundQueueIsFetchedOnTheMainQueue) {
    auto instance = launch();
    checkin_->answer(CheckinPeer::credentials("1", "2"));
    instance->configureInstanceIDWithOptions(*senderOptions(), nullptr);
    ASSERT_TRUE(
        waitUntil([&] { return registration_->count() == 1 && instance->defaultNCMToken(); }));
    ASSERT_TRUE(instance->tokenManager()->instanceIDStore()->removeAllCachedTokens().ok());
    std::atomic<bool> answered{false};
    std::optional<std::string> fromBackground{"unset"};
    dispatch::Queue::global().async([&] {
        fromBackground = instance->token();
        answered = true;
    });
    ASSERT_TRUE(waitUntil([&] { return answered && registration_->count() == 2; }));
    EXPECT_FALSE(fromBackground);
    EXPECT_EQ(registration_->problems(), std::vector<std::string>{});
}

TEST_F(FacadeTest, CommandsFromMessagingResetOrRefresh) {
    auto instance = launch();
    struct Case {
        const char* command;
        bool keyPairKept;
        bool refreshed;
    } cases[] = {{"RST", false, true},
                 {"SYNC", true, true},
                 {"RST_FULL", false, true},
                 {"PING", true, false},
                 {"", true, false}};
    for (const auto& c : cases) {
        auto pair = instance->keyPairStore()->loadKeyPair();
        ASSERT_TRUE(pair.ok());
        ASSERT_TRUE(instance->tokenManager()->instanceIDStore()->saveToken("t", "s", "*"));
        Observed refreshes(kNEBInstanceIDTokenRefreshNotification);
        ns::NotificationCenter::defaultCenter().post(
            kNEBInstanceIDMessagingCommandNotification,
            std::make_shared<ns::Box<ns::Dictionary>>(ns::Dictionary{{"CMD", c.command}}));
        loop().runUntilIdle();
        EXPECT_EQ(refreshes.count(), c.refreshed ? 1u : 0u) << c.command;
        EXPECT_EQ(instance->keyPairStore()->hasCachedKeyPairs(), c.keyPairKept) << c.command;
        EXPECT_EQ(instance->tokenManager()
                      ->instanceIDStore()
                      ->tokenWithAuthorizedEntity("s", "*")
                      .has_value(),
                  !c.refreshed)
            << c.command;
    }
    // Without cached key pairs and with a failing local deletion, no refresh.
    ASSERT_TRUE(instance->keyPairStore()->deleteSavedKeyPairWithSubtype("").ok());
    Observed refreshes(kNEBInstanceIDTokenRefreshNotification);
    ns::InjectedFaults faults;
    ns::InjectedFaults::add("keychain", sec::errSecInternalComponent, 3);
    ns::NotificationCenter::defaultCenter().post(
        kNEBInstanceIDMessagingCommandNotification,
        std::make_shared<ns::Box<ns::Dictionary>>(ns::Dictionary{{"CMD", "RST_FULL"}}));
    ns::InjectedFaults::clear();
    loop().runUntilIdle();
    EXPECT_EQ(refreshes.count(), 0u);
}

class TokenRecordingDelegate : public ui::ApplicationDelegate {
public:
    bool implements(ui::DelegateOp op) const override {
        return op == ui::DelegateOp::DidRegisterForRemoteNotifications;
    }
    void didRegisterForRemoteNotificationsWithDeviceToken(ui::Application&,
                                                          const ns::Data& token) override {
        received.push_back(token);
    }
    std::vector<ns::Data> received;
};

TEST_F(FacadeTest, DelegateHookHandsTheDeviceTokenOnAndTheInfoPlistCanSwitchItOff) {
    struct Case {
        ns::Value setting;
        bool enabled;
    } cases[] = {{ns::Value(), true},
                 {ns::Value(false), false},
                 {ns::Value("NO"), true},
                 {ns::Value(0), false}};
    for (const auto& c : cases) {
        ns::Dictionary info{{"CFBundleIdentifier", iidtest::kBundleID}};
        if (!c.setting.isNull()) info[kNEBInstanceIDAppDelegateProxyEnabledKey] = c.setting;
        writeInfo(info);
        EXPECT_EQ(NEBInstanceIDAppDelegateProxy::canSwizzleAppDelegate(), c.enabled)
            << c.setting.description();
    }
    auto instance = launch();
    auto delegate = std::make_shared<TokenRecordingDelegate>();
    auto& application = ui::Application::shared();
    auto previous = application.delegate();
    application.setDelegate(delegate);
    NEBInstanceIDAppDelegateProxy::swizzleOriginalAppDelegate();
    application.deliver<ui::DelegateOp::DidRegisterForRemoteNotifications>(
        ns::Data::fromString("\xab"));
    EXPECT_EQ(instance->apnsToken(), "p_ab");
    EXPECT_EQ(delegate->received.size(), 1u);
    application.setDelegate(previous);
}

TEST_F(FacadeTest, ProvisioningProfileDecidesSandboxOnlyForDevelopment) {
    auto profile = [](const std::string& environment) {
        std::string plist =
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Entitlements</key><dict>";
        if (!environment.empty())
            plist += "<key>aps-environment</key><string>" + environment + "</string>";
        plist += "</dict></dict></plist>";
        return ns::Data::fromString(std::string("\x30\x82\x01\xff signed ") + plist +
                                    "\x00\x80 trailer");
    };
    struct Case {
        const char* name;
        ns::Data contents;
        std::optional<std::string> environment;
    } cases[] = {
        {"development", profile("development"), "development"},
        {"production", profile("production"), "production"},
        {"no entitlement", profile(""), std::nullopt},
        {"no plist", ns::Data::fromString("garbage"), std::nullopt},
        {"broken plist", ns::Data::fromString("<plist><dict><key>x</dict>"), std::nullopt},
    };
    for (const auto& c : cases) {
        auto environment =
            NEBInstanceIDProvisioningProfile::apsEnvironment(c.contents, [](auto&) {});
        EXPECT_EQ(environment, c.environment) << c.name;
    }
    // Through the facade, once per process: the profile in the bundle, never the machine name.
    std::filesystem::remove(bundlePath() + "/embedded.mobileprovision");
    EXPECT_TRUE(launch()->isProductionApp());
    auto contents = profile("development");
    std::ofstream(bundlePath() + "/embedded.mobileprovision", std::ios::binary)
        .write(reinterpret_cast<const char*>(contents.bytes()),
               static_cast<std::streamsize>(contents.length()));
    EXPECT_TRUE(launch()->isSandboxApp());
    sys::DeviceFacts::current().setMachine("x86_64");
    EXPECT_TRUE(launch()->isProductionApp());
}

TEST(InstanceIDLoggerTest, LinesCarryDateLevelAndMessageAndPassTheLevelFilter) {
    NEBInstanceIDLogStandardFormatter formatter;
    std::string line =
        formatter.stringForFunc("f", "hello", NEBInstanceIDLogLevel::Error).value_or("");
    ASSERT_GT(line.size(), 25u);
    EXPECT_EQ(line.substr(23), ": <NEBInstanceID/WARNING> hello");
    EXPECT_EQ(line[4], '-');
    EXPECT_EQ(line[19], '.');
    struct Case {
        int8_t filterLevel;
        NEBInstanceIDLogLevel level;
        bool passes;
    } cases[] = {
        {2, NEBInstanceIDLogLevel::Error, true},  {2, NEBInstanceIDLogLevel::Assert, true},
        {2, NEBInstanceIDLogLevel::Info, false},  {0, NEBInstanceIDLogLevel::Info, true},
        {0, NEBInstanceIDLogLevel::Debug, false}, {1, NEBInstanceIDLogLevel::Info, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NEBInstanceIDLogLevelFilter(c.filterLevel).filterAllowsMessage("x", c.level),
                  c.passes)
            << int(c.filterLevel) << "/" << int(c.level);
    }
    EXPECT_EQ(NEBInstanceIDLogStandardFormatter::stringForLogLevel(3), "ERROR");
    EXPECT_EQ(NEBInstanceIDLogStandardFormatter::stringForLogLevel(9), "INFO");
}

}  // namespace
