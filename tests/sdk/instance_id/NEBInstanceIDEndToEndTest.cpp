// Three launches of one installation in one sandbox against the loopback check-in and
// registration services: the first checks in, makes the key pair and registers; the second
// serves its token from the cache; the third, after a reinstall, deletes the old installation's
// tokens with its old credentials and gets a new identity.
#include <gtest/gtest.h>

#include "platform/ns/NotificationCenter.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/Application.h"
#include "sdk/core/NEBApp.h"
#include "sdk/core/NEBAppRegistry.h"
#include "sdk/core/NEBLogbookLogger.h"
#include "sdk/core/NEBOptions.h"
#include "sdk/instance_id/NEBInstanceID.h"
#include "tests/sdk/instance_id/InstanceIDFixture.h"
#include "tests/support/LogCapture.h"

namespace {

using iidtest::InstanceIDTest;
using peers::CheckinPeer;
using peers::RegistrationPeer;

constexpr const char* kSenderID = "1234567890";

class EndToEndTest : public InstanceIDTest {
protected:
    void SetUp() override {
        InstanceIDTest::SetUp();
        registerMessaging();
        NEBInstanceID::load();
        for (const char* name :
             {kNEBInstanceIDTokenNotification, kNEBInstanceIDTokenRefreshNotification}) {
            observers_.push_back(ns::NotificationCenter::defaultCenter().addObserver(
                name, nullptr, [this, name](const ns::Notification& note) {
                    if (!dispatch::RunLoop::isMainThread()) offMain_ = true;
                    auto token = std::dynamic_pointer_cast<ns::Box<std::string>>(note.object);
                    posted_.push_back(std::string(name) + "=" + (token ? token->value() : ""));
                }));
        }
    }
    void TearDown() override {
        for (auto token : observers_) ns::NotificationCenter::defaultCenter().removeObserver(token);
        endLaunch();
        InstanceIDTest::TearDown();
    }

    // A new process: nothing of the last one is kept but what it wrote to disk.
    std::shared_ptr<NEBInstanceID> startLaunch() {
        endLaunch();
        ns::UserDefaults::resetStandardUserDefaults();
        apps_.emplace();
        logbook_ = NEBLogbookLogger::create(nullptr, dir_.str() + "/logbook");
        NEBLogbookLogger::setSharedInstance(logbook_);
        shared_.emplace();
        instance_ = NEBInstanceID::instanceID();
        NEBInstanceIDSharedLogger().setFilter(nullptr);
        posted_.clear();
        return instance_;
    }
    void configure() {
        NEBApp::configureWithOptions(NEBOptions::initInternalWithOptionsDictionary(
            {{"NEBULA_APP_ID", "1:1234567890:ios:0123456789abcdef"},
             {"MSG_SENDER_ID", kSenderID},
             {"API_KEY", "test-api-key"},
             {"BUNDLE_ID", iidtest::kBundleID}}));
    }
    void endLaunch() {
        loop().runUntilIdle();
        instance_.reset();
        shared_.reset();
        apps_.reset();
        NEBLogbookLogger::setSharedInstance(nullptr);
        logbook_.reset();
        ns::UserDefaults::resetStandardUserDefaults();
    }
    size_t postedCount(const char* name) const {
        size_t n = 0;
        for (const auto& entry : posted_) n += entry.rfind(std::string(name) + "=", 0) == 0;
        return n;
    }

    std::shared_ptr<NEBInstanceID> instance_;
    std::optional<ns::ScopedSharedInstance<NEBInstanceID>> shared_;
    std::optional<ns::ScopedSharedInstance<NEBAppRegistry>> apps_;
    std::shared_ptr<NEBLogbookLogger> logbook_;
    std::vector<uint64_t> observers_;
    std::vector<std::string> posted_;
    bool offMain_ = false;
};

TEST_F(EndToEndTest, ThreeLaunchesOfOneInstallation) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("[I-COR000012] Could not locate configuration file");
    expectedLog.expect("[I-COR000022] Nebula Analytics is not available.");
    const ns::Data apnsToken = ns::Data::fromString("\x01\x23\x45");

    // Launch 1: check in, make the key pair, register, announce.
    checkin_->answer(CheckinPeer::credentials("9223372036854775809", "18446744073709551614"));
    auto first = startLaunch();
    configure();
    ASSERT_TRUE(
        waitUntil([&] { return postedCount(kNEBInstanceIDTokenRefreshNotification) == 1; }));
    ASSERT_EQ(checkin_->count(), 1u);
    ASSERT_EQ(registration_->count(), 1u);
    auto request = registration_->requests()[0];
    EXPECT_EQ(request.authorization, "AidLogin 9223372036854775809:18446744073709551614");
    EXPECT_EQ(request.field("sender"), kSenderID);
    EXPECT_EQ(request.field("X-scope"), "*");
    EXPECT_EQ(request.field("nmp_app_id"), "1:1234567890:ios:0123456789abcdef");
    const std::string firstAppID = request.field("appid");
    std::string token = "tok-" + request.field("X-kid");
    EXPECT_EQ(first->defaultNCMToken(), token);
    EXPECT_EQ(postedCount(kNEBInstanceIDTokenNotification), 1u);

    // The push-service token arrives later: the default token is fetched again with it.
    ui::Application::shared().deliver<ui::DelegateOp::DidRegisterForRemoteNotifications>(apnsToken);
    ASSERT_TRUE(waitUntil([&] {
        return registration_->count() == 2 &&
               postedCount(kNEBInstanceIDTokenRefreshNotification) == 2;
    }));
    EXPECT_EQ(registration_->requests()[1].field("apns_token"), "p_012345");
    token = "tok-" + registration_->requests()[1].field("X-kid");
    EXPECT_EQ(first->token(), token);
    EXPECT_EQ(registration_->problems(), std::vector<std::string>{});
    EXPECT_FALSE(offMain_);

    // Launch 2: the check-in and the token come from the cache; nothing is sent.
    auto second = startLaunch();
    second->setAPNSToken(apnsToken, NEBInstanceIDAPNSTokenType::Prod);
    configure();
    loop().runUntilIdle();
    EXPECT_TRUE(second->hasValidCheckinInfo());
    EXPECT_EQ(second->token(), token);
    advance(60);
    EXPECT_EQ(checkin_->count(), 1u);
    EXPECT_EQ(registration_->count(), 2u);

    // Launch 3, after a reinstall: the sandbox is new, the keychain is not.
    ASSERT_TRUE(ns::Sandbox::simulateReinstall().ok());
    registration_->answer(RegistrationPeer::text("deleted=1\n"));
    registration_->answer(RegistrationPeer::token(""));
    checkin_->answer(CheckinPeer::credentials("77", "88"));
    auto third = startLaunch();
    configure();
    ASSERT_TRUE(
        waitUntil([&] { return postedCount(kNEBInstanceIDTokenRefreshNotification) == 1; }));
    auto requests = registration_->requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_TRUE(requests[2].isDelete());
    EXPECT_EQ(requests[2].field("X-scope"), "ncm");
    EXPECT_EQ(requests[2].authorization, "AidLogin 9223372036854775809:18446744073709551614");
    EXPECT_EQ(checkin_->bodies().back()["id"].int64(), 0);
    EXPECT_EQ(requests[3].authorization, "AidLogin 77:88");
    EXPECT_NE(requests[3].field("appid"), firstAppID);
    EXPECT_EQ(third->defaultNCMToken(), "tok-" + requests[3].field("X-kid"));
    EXPECT_EQ(registration_->problems(), std::vector<std::string>{});

    // Secrets never reach the log: not the device secrets, not a token.
    for (const auto& line : recorder_->lines()) {
        for (const std::string& secret : {std::string("18446744073709551614"), token}) {
            EXPECT_EQ(line.find(secret), std::string::npos) << line;
        }
    }
}

}  // namespace
