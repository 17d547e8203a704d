#include "app/AppDelegate.h"

#include <gtest/gtest.h>

#include "platform/ns/FoundationVersion.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/UserDefaults.h"
#include "platform/svc/UserNotificationCenter.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/Application.h"
#include "plugins/push/NCMPushPage.h"
#include "plugins/push/NCMPushSink.h"
#include "sdk/core/NEBServices.h"
#include "sdk/messaging/NEBMessaging.h"
#include "sdk/messaging/NEBMessagingAppDelegateProxy.h"
#include "sdk/messaging/NEBMessagingReceiver.h"
#include "sdk/messaging/NEBMessagingRmqManager.h"
#include "tests/support/ManualRunLoop.h"
#include "tests/support/TempDir.h"

namespace {

using Op = ui::DelegateOp;
using Proxy = NEBMessagingAppDelegateProxy;

// A delegate with no notification methods at all.
class BareDelegate : public ui::ApplicationDelegate {};

// The push road's page end, recording what it is handed, in order.
class RecordingSink : public NCMPushSink {
public:
    void notifyOfMessage(std::string json) override { calls.push_back("message " + json); }
    void holdPush(std::string json) override { calls.push_back("hold " + json); }
    std::optional<std::string> getLastPush() override { return std::nullopt; }
    void deliverMessage(std::string json, std::string messageID,
                        DeliveredHandler delivered) override {
        calls.push_back("deliver " + json);
        delivered(messageID);
    }
    void notifyOfTokenRefresh(const std::optional<std::string>& token) override {
        calls.push_back("token " + token.value_or("(none)"));
    }
    void appEnterForeground() override { calls.push_back("foreground"); }
    void appEnterBackground() override { calls.push_back("background"); }
    bool isPageReady() const override { return true; }
    std::vector<std::string> calls;
};

class AppDelegatePushTest : public testsupport::ManualRunLoop {
protected:
    void SetUp() override {
        ManualRunLoop::SetUp();
        ASSERT_TRUE(ns::Sandbox::configure(dir_.str() + "/sandbox").ok());
        application_->setInfoDictionaryProvider([this] { return info_; });
        messaging_ = std::make_shared<NEBMessaging>(NEBServices::standard(), [] {
            return std::optional<NEBMessagingCheckinPreferences>();
        });
        messaging_->start();
    }
    void TearDown() override {
        ns::FoundationVersion::setNumber(ns::FoundationVersion::kDefaultNumber);
        messaging_.reset();
        ManualRunLoop::TearDown();
        // What the library left to write goes into the sandbox while that is still there.
        ns::UserDefaults::resetStandardUserDefaults();
    }
    // The application delegate as the launch leaves it on a newer system.
    std::shared_ptr<AppDelegate> installDelegate() {
        auto delegate = std::make_shared<AppDelegate>(page_, messaging_,
                                                      [] { return std::optional<std::string>(); });
        application_->setDelegate(delegate);
        center_->setDelegate(delegate);
        messaging_->setRemoteMessageDelegate(delegate);
        return delegate;
    }
    ns::Dictionary held() {
        auto json = page_->getLastPush();
        if (!json) return {};
        return *ns::JSONSerialization::read(*json).value().dictionary();
    }

    testsupport::TempDir dir_;
    ns::Dictionary info_;
    ns::ScopedSharedInstance<ui::Application> application_;
    ns::ScopedSharedInstance<svc::UserNotificationCenter> center_;
    std::shared_ptr<NCMPushPage> page_ = std::make_shared<NCMPushPage>();
    std::shared_ptr<NEBMessaging> messaging_;
};

TEST_F(AppDelegatePushTest, ProxyWrapsTheDelegatesNotificationMethodsOnce) {
    auto delegate = installDelegate();
    ASSERT_TRUE(Proxy::canSwizzleAppDelegate());
    Proxy::swizzleOriginalAppDelegate(messaging_);
    EXPECT_TRUE(application_->isHookInstalled(Op::DidReceiveRemoteNotificationWithFetch,
                                              Proxy::kHookOwner));
    EXPECT_TRUE(application_->isHookInstalled(Op::DidReceiveRemoteNotification, Proxy::kHookOwner));
    EXPECT_EQ(center_->willPresentChain().size(), 1u);
    EXPECT_TRUE(messaging_->receiver()->recordsReceipts());
    Proxy::swizzleOriginalAppDelegate(messaging_);
    EXPECT_EQ(center_->willPresentChain().size(), 1u);

    // A notification in the foreground is recorded by the library, then shown without banner.
    svc::Notification notification;
    notification.request.content.userInfo = {{"msg.message_id", ns::Value("m7")}};
    EXPECT_EQ(center_->presentNotification(notification), 0u);
    EXPECT_EQ(messaging_->rmq2Manager()->unackedS2dRmqIds(), std::vector<std::string>{"m7"});
}

TEST_F(AppDelegatePushTest, ProxyStaysOutWhenSwitchedOffAndAddsTheMissingMethod) {
    info_ = {{"NebulaAppDelegateProxyEnabled", ns::Value("NO")}};
    EXPECT_TRUE(Proxy::canSwizzleAppDelegate());  // text is not a switch
    info_ = {{"NebulaAppDelegateProxyEnabled", ns::Value(false)}};
    EXPECT_FALSE(Proxy::canSwizzleAppDelegate());

    application_->setDelegate(std::make_shared<BareDelegate>());
    EXPECT_FALSE(application_->delegateRespondsTo(Op::DidReceiveRemoteNotification));
    Proxy::swizzleOriginalAppDelegate(messaging_);
    EXPECT_TRUE(application_->delegateRespondsTo(Op::DidReceiveRemoteNotification));
    EXPECT_FALSE(application_->isHookInstalled(Op::DidReceiveRemoteNotificationWithFetch,
                                               Proxy::kHookOwner));
}

// The roads by which a notification reaches the page's held slot, newer and older systems.
TEST_F(AppDelegatePushTest, OpenedNotificationsAreHeldWithWasTapped) {
    installDelegate();
    svc::Notification first, second;
    first.request.content.userInfo = {{"n", ns::Value(1)}};
    second.request.content.userInfo = {{"n", ns::Value(2)}};
    center_->openNotification(first);
    center_->openNotification(second);
    auto message = held();
    EXPECT_EQ(message["n"].int64(), 2);
    EXPECT_EQ(message["wasTapped"].boolean(), true);
    EXPECT_TRUE(held().empty());

    // Older systems: a notification that arrives while inactive is held; newer ones leave
    // this road to the notification centre. The delegate reads the system when it is made.
    application_->deliver<Op::DidReceiveRemoteNotification>(ns::Dictionary{{"n", ns::Value(4)}});
    EXPECT_TRUE(held().empty());
    ns::FoundationVersion::setNumber(1200);
    installDelegate();
    application_->deliver<Op::DidReceiveRemoteNotification>(ns::Dictionary{{"n", ns::Value(3)}});
    auto older = held();
    EXPECT_EQ(older["n"].int64(), 3);
    EXPECT_EQ(older["wasTapped"].boolean(), true);

    // The fetch road always answers "no data", also on newer systems.
    ns::FoundationVersion::setNumber(ns::FoundationVersion::kDefaultNumber);
    installDelegate();
    std::optional<ui::BackgroundFetchResult> answered;
    application_->deliver<Op::DidReceiveRemoteNotificationWithFetch>(
        ns::Dictionary{{"n", ns::Value(5)}},
        ui::FetchCompletionHandler([&](ui::BackgroundFetchResult r) { answered = r; }));
    EXPECT_EQ(answered, ui::BackgroundFetchResult::NoData);
}

// Every push road of the delegate ends at the sink it was made with, in the order of events.
TEST_F(AppDelegatePushTest, PushRoadsEndAtTheDelegatesSink) {
    auto sink = std::make_shared<RecordingSink>();
    auto delegate = std::make_shared<AppDelegate>(sink, messaging_,
                                                  [] { return std::optional<std::string>("T9"); });
    application_->setDelegate(delegate);
    center_->setDelegate(delegate);
    messaging_->setRemoteMessageDelegate(delegate);
    loop().runUntilIdle();  // nothing kept from an earlier run to hand over

    svc::Notification notification;
    notification.request.content.userInfo = {{"n", ns::Value(1)}};
    center_->presentNotification(notification);
    center_->openNotification(notification);
    delegate->applicationDidBecomeActive(*application_);
    delegate->tokenRefreshNotification();
    delegate->applicationDidEnterBackground(*application_);
    // A socket message, as the library's receiver hands it over; the sink's confirmation
    // reaches the library, which forgets the message on its next turn.
    ASSERT_TRUE(messaging_->rmq2Manager()->saveReceivedS2dMessageWithRmqId("m1", "kept") ==
                NEBMessagingRmq2PersistentStore::ReceivedMessageSave::Saved);
    messaging_->receiver()->didReceiveMessage({{"k", ns::Value("v")}}, "m1");
    loop().runUntilIdle();
    EXPECT_TRUE(messaging_->rmq2Manager()->undeliveredS2dMessages().empty());

    EXPECT_EQ(sink->calls,
              (std::vector<std::string>{R"(message {"n":1})", R"(hold {"n":1,"wasTapped":true})",
                                        "foreground", "token T9", "background",
                                        R"(deliver {"k":"v","msg.message_id":"m1"})"}));
}

}  // namespace
