// The device check-in: what is sent, how answers are read (credentials digit for digit), and
// how check-ins are scheduled, one at a time, with back-off on the manual clock.
#include <gtest/gtest.h>

#include "sdk/instance_id/NEBInstanceIDAuthService.h"
#include "sdk/instance_id/NEBInstanceIDCheckinService.h"
#include "sdk/instance_id/NEBInstanceIDErrors.h"
#include "sdk/instance_id/NEBInstanceIDStore.h"
#include "tests/sdk/instance_id/InstanceIDFixture.h"

namespace {

using iidtest::InstanceIDTest;
using peers::CheckinPeer;
using peers::HttpResponse;

TEST(CheckinResponseTest, CredentialsKeepTheirDigitsAndFieldsAreTypeChecked) {
    struct Case {
        const char* body;
        int64_t errorCode;  // 0: parses
        const char* deviceID;
        const char* secret;
    } cases[] = {
        {R"({"mobile_id":9007199254740993,"security_token":1})", 0, "9007199254740993", "1"},
        {R"({"mobile_id":18446744073709551615,"security_token":9223372036854775808})", 0,
         "18446744073709551615", "9223372036854775808"},
        {R"({"mobile_id":123456789012345678901234567890,"security_token":2})", 7, "", ""},
        {R"({"security_token":2})", 7, "", ""},
        {R"({"mobile_id":"123","security_token":2})", 7, "", ""},
        {R"({"mobile_id":1.5,"security_token":2})", 7, "", ""},
        {R"({"mobile_id":1e3,"security_token":2})", 7, "", ""},
        {R"({"mobile_id":12,"security_token":"34"})", 0, "12", ""},
        {R"({"nested":{"mobile_id":5},"mobile_id":6,"security_token":7})", 0, "6", "7"},
        {R"([1,2])", 7, "", ""},
        {R"({"mobile_id":12,)", 3840, "", ""},
    };
    for (const auto& c : cases) {
        auto parsed = NEBInstanceIDCheckinService::parseCheckinResponse(c.body);
        if (c.errorCode) {
            ASSERT_FALSE(parsed.ok()) << c.body;
            EXPECT_EQ(parsed.error().code(), c.errorCode) << c.body;
            continue;
        }
        ASSERT_TRUE(parsed.ok()) << c.body;
        EXPECT_EQ(parsed->deviceID, c.deviceID) << c.body;
        EXPECT_EQ(parsed->secretToken, c.secret) << c.body;
    }
}

TEST(CheckinResponseTest, SettingsAndTextsOfTheWrongKindAreLeftOut) {
    auto parsed = NEBInstanceIDCheckinService::parseCheckinResponse(
        R"({"mobile_id":1,"security_token":2,"digest":5,"version_info":"v",
            "setting":[{"name":"a","value":"1"},{"name":"b"},{"value":"3"},7,{"name":"c","value":"x"}]})");
    ASSERT_TRUE(parsed.ok());
    EXPECT_EQ(parsed->digest, "");
    EXPECT_EQ(parsed->versionInfo, "v");
    EXPECT_EQ(parsed->settings, (ns::Dictionary{{"a", "1"}, {"c", "x"}}));
    EXPECT_FALSE(parsed->timeMillis);
}

class CheckinTest : public InstanceIDTest {
protected:
    void SetUp() override {
        InstanceIDTest::SetUp();
        ASSERT_TRUE(NEBInstanceIDStore::createApplicationSupportSubDirectory(
            kNEBInstanceIDApplicationSupportSubDirectory));
        store_ = NEBInstanceIDStore::defaultStore(services_);
        auth_ = NEBInstanceIDAuthService::withStore(store_, services_);
    }
    // One exchange through the auth service; the outcome once it is back on the main queue.
    std::pair<NEBInstanceIDCheckinService::Preferences, std::optional<ns::Error>> fetch() {
        bool done = false;
        std::pair<NEBInstanceIDCheckinService::Preferences, std::optional<ns::Error>> outcome;
        auth_->fetchCheckinInfoWithHandler([&](auto preferences, auto error) {
            EXPECT_TRUE(dispatch::RunLoop::isMainThread());
            outcome = {preferences, error};
            done = true;
        });
        EXPECT_TRUE(waitUntil([&] { return done; }));
        return outcome;
    }
    std::shared_ptr<NEBInstanceIDStore> store_;
    std::shared_ptr<NEBInstanceIDAuthService> auth_;
};

TEST_F(CheckinTest, FirstCheckinSendsZerosAndTheNextSendsTheHeldCredentialsExactly) {
    registerMessaging();
    checkin_->answer(
        CheckinPeer::credentials("18446744073709551615", "9223372036854775808",
                                 NEBInstanceIDCurrentTimestampInMilliseconds() + 5000));
    auto [preferences, error] = fetch();
    ASSERT_FALSE(error) << error->description();
    EXPECT_EQ(preferences->deviceID(), "18446744073709551615");
    // A server clock ahead of the device's does not stretch the check-in.
    EXPECT_EQ(preferences->lastCheckinTimestampMillis(),
              NEBInstanceIDCurrentTimestampInMilliseconds());
    EXPECT_EQ(auth_->checkinAuthToken(), "18446744073709551615:9223372036854775808");

    clock().advanceSeconds(86400);
    EXPECT_FALSE(auth_->hasValidCheckinInfo());
    fetch();
    auto texts = checkin_->texts();
    ASSERT_EQ(texts.size(), 2u);
    auto first = checkin_->bodies()[0];
    EXPECT_EQ(first["id"].int64(), 0);
    EXPECT_EQ(first["security_token"].int64(), 0);
    EXPECT_EQ(first["checkin"]["last_checkin_msec"].int64(), 0);
    EXPECT_EQ(first["digest"].stringValue(), "");
    EXPECT_EQ(first["locale"].stringValue(), "fr_FR");
    EXPECT_EQ(first["checkin"]["iosbuild"]["model"].stringValue(),
              sys::DeviceFacts::current().machine());
    EXPECT_NE(texts[1].find("\"id\":18446744073709551615"), std::string::npos) << texts[1];
    EXPECT_NE(texts[1].find("\"security_token\":9223372036854775808"), std::string::npos);
    EXPECT_EQ(checkin_->bodies()[1]["digest"].stringValue(), "d1");
}

// The class-wide test block stands in for the network: it gets the request and its answer is
// read as the service's. A check-in service that goes takes the block with it.
TEST_F(CheckinTest, TestBlockStandsInForTheNetworkUntilAServiceGoes) {
    std::vector<std::string> seen;
    NEBInstanceIDCheckinService::setCheckinTestBlock(
        [&seen](const net::URLRequest& request, NEBInstanceIDCheckinService::ResponseHandler done) {
            seen.push_back(request.HTTPMethod() + " " + request.url().path());
            done(ns::Data::fromString(R"({"mobile_id":77,"security_token":88})"), nullptr,
                 std::nullopt);
        });
    auto [preferences, error] = fetch();
    ASSERT_FALSE(error) << error->description();
    EXPECT_EQ(preferences->deviceID(), "77");
    EXPECT_EQ(seen, std::vector<std::string>{"POST /checkin"});
    EXPECT_EQ(checkin_->count(), 0u);

    std::make_shared<NEBInstanceIDCheckinService>(store_, services_->requests().checkin).reset();
    clock().advanceSeconds(86400);
    checkin_->answer(CheckinPeer::credentials("1", "2"));
    EXPECT_EQ(fetch().first->deviceID(), "1");
    EXPECT_EQ(checkin_->count(), 1u);
    EXPECT_EQ(seen.size(), 1u);
}

TEST_F(CheckinTest, AnswerWithoutDeviceIDLeavesTheHeldCheckin) {
    checkin_->answer(CheckinPeer::credentials("1", "2"));
    fetch();
    clock().advanceSeconds(86400);
    checkin_->answer(HttpResponse::text(200, R"({"security_token":3})"));
    auto [preferences, error] = fetch();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), 7);
    EXPECT_EQ(auth_->checkinPreferences()->deviceID(), "1");
}

TEST_F(CheckinTest, OversizedAnswerFailsWithoutBeingRead) {
    checkin_->answer(HttpResponse::text(
        200, "{\"pad\":\"" + std::string(NEBRequestPolicies().checkin.maximumResponseSize, 'x') +
                 "\"}"));
    auto [preferences, error] = fetch();
    EXPECT_TRUE(error);
    EXPECT_FALSE(preferences);
}

TEST_F(CheckinTest, FailedSaveOfNewCredentialsClearsThemAndOfRepeatedOnesCompletes) {
    checkin_->answer(CheckinPeer::credentials("1", "2"));
    fetch();
    std::string plist =
        ns::Sandbox::applicationSupportDirectory() + "/Nebula/NebulaInstanceID/g-checkin.plist";
    std::filesystem::remove(plist);
    std::filesystem::create_directories(plist + "/blocker");

    clock().advanceSeconds(86400);
    auto [repeated, repeatedError] = fetch();
    EXPECT_FALSE(repeatedError);
    EXPECT_TRUE(auth_->hasValidCheckinInfo());

    clock().advanceSeconds(86400);
    checkin_->answer(CheckinPeer::credentials("3", "4"));
    auto [fresh, error] = fetch();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), 6);
    EXPECT_EQ(auth_->checkinPreferences()->deviceID(), "");
}

TEST_F(CheckinTest, FailedScheduledCheckinsBackOffTwoFourEightSixteenThenThirtyTwoSeconds) {
    checkin_->answer(HttpResponse::text(500, "down"));
    auth_->scheduleCheckin(true);
    ASSERT_TRUE(waitUntil([&] { return checkin_->count() == 1 && !auth_->isCheckinInProgress(); }));
    for (double wait : {2.0, 4.0, 8.0, 16.0, 32.0, 32.0}) {
        size_t before = checkin_->count();
        advance(wait - 0.5);
        EXPECT_EQ(checkin_->count(), before) << "before " << wait << " s";
        advance(0.5);
        ASSERT_TRUE(waitUntil([&] {
            return checkin_->count() == before + 1 && !auth_->isCheckinInProgress();
        })) << "after "
            << wait << " s";
    }
    checkin_->answer(CheckinPeer::credentials("1", "2"));
    advance(32);
    ASSERT_TRUE(waitUntil([&] { return auth_->hasValidCheckinInfo(); }));
    size_t done = checkin_->count();
    auth_->scheduleCheckin(true);
    advance(100);
    EXPECT_EQ(checkin_->count(), done);
}

TEST_F(CheckinTest, TwoImmediateSchedulingsStartOneExchange) {
    checkin_->answer(CheckinPeer::credentials("1", "2"));
    auth_->scheduleCheckin(true);
    auth_->scheduleCheckin(true);
    ASSERT_TRUE(waitUntil([&] { return auth_->hasValidCheckinInfo(); }));
    advance(60);
    EXPECT_EQ(checkin_->count(), 1u);
}

}  // namespace
