#include "platform/svc/PushService.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ns/FoundationVersion.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/Application.h"
#include "tests/support/ManualRunLoop.h"

namespace {

using ui::DelegateOp;

// Records which road each notification took, and the application's state on it.
class RoadRecorder : public ui::ApplicationDelegate, public svc::UserNotificationCenterDelegate {
public:
    explicit RoadRecorder(bool fetch) : fetch_(fetch) {}
    bool implements(DelegateOp op) const override {
        return op == DelegateOp::DidReceiveRemoteNotification ||
               op == DelegateOp::DidRegisterForRemoteNotifications ||
               (fetch_ && op == DelegateOp::DidReceiveRemoteNotificationWithFetch);
    }
    void didRegisterForRemoteNotificationsWithDeviceToken(ui::Application&,
                                                          const ns::Data& token) override {
        tokens.push_back(token);
    }
    void didReceiveRemoteNotification(ui::Application& application,
                                      const ns::Dictionary&) override {
        record("plain", application);
    }
    void didReceiveRemoteNotificationWithFetchCompletionHandler(
        ui::Application& application, const ns::Dictionary&,
        const ui::FetchCompletionHandler& handler) override {
        record("fetch", application);
        handler(ui::BackgroundFetchResult::NoData);
    }
    bool respondsToWillPresentNotification() const override { return true; }
    void willPresentNotification(svc::UserNotificationCenter&, const svc::Notification& note,
                                 const svc::PresentationHandler& done) override {
        roads.push_back("will-present " + note.request.content.title + "/" +
                        note.request.content.body);
        done(0);
    }
    bool respondsToDidReceiveNotificationResponse() const override { return true; }
    void didReceiveNotificationResponse(svc::UserNotificationCenter&,
                                        const svc::NotificationResponse&,
                                        const svc::ResponseHandler& done) override {
        roads.push_back("response");
        done();
    }

    std::vector<std::string> roads;
    std::vector<ns::Data> tokens;

private:
    void record(const std::string& road, ui::Application& application) {
        const auto state = application.applicationState();
        roads.push_back(road + (state == ui::ApplicationState::Active     ? " active"
                                : state == ui::ApplicationState::Inactive ? " inactive"
                                                                          : " background"));
    }
    bool fetch_;
};

class PushServiceTest : public testsupport::ManualRunLoop {
protected:
    void SetUp() override {
        ManualRunLoop::SetUp();
        application_->setDelegate(recorder_);
        center_->setDelegate(recorder_);
        application_->launch();
        application_->becomeActive();
    }
    void TearDown() override {
        ns::FoundationVersion::setNumber(ns::FoundationVersion::kDefaultNumber);
        ManualRunLoop::TearDown();
    }

    const ns::Dictionary visible{
        {"aps", ns::Value::dict({{"alert", ns::Value::dict({{"title", ns::Value("T")},
                                                            {"body", ns::Value("B")}})},
                                 {"badge", ns::Value(3)}})}};
    const ns::Dictionary silent{{"aps", ns::Value::dict({{"content-available", ns::Value(1)}})}};

    std::shared_ptr<RoadRecorder> recorder_ = std::make_shared<RoadRecorder>(true);
    ns::ScopedSharedInstance<ui::Application> application_;
    ns::ScopedSharedInstance<svc::UserNotificationCenter> center_;
};

TEST_F(PushServiceTest, NewerSystemsPresentWhatShowsAndWakeTheAppForSilentOnes) {
    svc::PushService::deliver(*application_, visible);
    svc::PushService::deliver(*application_, silent);
    application_->enterBackground();
    svc::PushService::deliver(*application_,
                              visible);  // the system shows it; the app hears nothing
    svc::PushService::deliver(*application_, silent);
    svc::PushService::open(*application_, visible);
    EXPECT_EQ(recorder_->roads, (std::vector<std::string>{"will-present T/B", "fetch active",
                                                          "fetch background", "response"}));
    ASSERT_EQ(center_->presented().size(), 1u);
    EXPECT_EQ(center_->presented()[0].first.request.content.badge, 3);
}

TEST_F(PushServiceTest, OlderSystemsCallTheDelegateAndOpeningPassesThroughInactive) {
    ns::FoundationVersion::setNumber(1200);
    svc::PushService::deliver(*application_, visible);
    svc::PushService::open(*application_, visible);
    EXPECT_EQ(recorder_->roads, (std::vector<std::string>{"fetch active", "fetch inactive"}));
    EXPECT_EQ(application_->applicationState(), ui::ApplicationState::Active);

    // A delegate without the fetch variant gets the plain one.
    auto plain = std::make_shared<RoadRecorder>(false);
    application_->setDelegate(plain);
    svc::PushService::deliver(*application_, silent);
    EXPECT_EQ(plain->roads, std::vector<std::string>{"plain active"});
}

TEST_F(PushServiceTest, RegistrationsAreAnsweredWithTheInstallationsToken) {
    const ns::Data token = svc::PushService::deviceTokenForInstallation("/sandbox/a");
    EXPECT_EQ(token.length(), 32u);
    EXPECT_EQ(token, svc::PushService::deviceTokenForInstallation("/sandbox/a"));
    EXPECT_NE(token, svc::PushService::deviceTokenForInstallation("/sandbox/b"));
    int made = 0;
    svc::PushService::install(*application_, [token, &made] {
        ++made;
        return token;
    });
    EXPECT_EQ(made, 0);  // a launch that never registers makes no token
    application_->registerForRemoteNotifications();
    EXPECT_EQ(made, 1);
    EXPECT_TRUE(recorder_->tokens.empty());  // the answer comes later, as the system's does
    loop().runUntilIdle();
    EXPECT_EQ(recorder_->tokens, std::vector<ns::Data>{token});
}

}  // namespace
