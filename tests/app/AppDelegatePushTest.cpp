#include "app/AppDelegate.h"

#include <gtest/gtest.h>

#include "platform/ns/FoundationVersion.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/Sandbox.h"
#include "platform/svc/UserNotificationCenter.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/Application.h"
#include "plugins/push/NCMPlugin.h"
#include "sdk/messaging/NEBMessaging.h"
#include "sdk/messaging/NEBMessagingAppDelegateProxy.h"
#include "sdk/messaging/NEBMessagingRmqManager.h"
#include "tests/support/ManualRunLoop.h"
#include "tests/support/TempDir.h"

namespace {

using Op = ui::DelegateOp;
using Proxy = NEBMessagingAppDelegateProxy;

// A delegate with no notification methods at all.
class BareDelegate : public ui::ApplicationDelegate {};

class AppDelegatePushTest : public testsupport::ManualRunLoop {
protected:
    void SetUp() override {
        ManualRunLoop::SetUp();
        ASSERT_TRUE(ns::Sandbox::configure(dir_.str() + "/sandbox").ok());
        application_->setInfoDictionaryProvider([this] { return info_; });
        NCMPlugin::getLastPush();
    }
    void TearDown() override {
        ns::FoundationVersion::setNumber(ns::FoundationVersion::kDefaultNumber);
        ManualRunLoop::TearDown();
    }
    // The application delegate as the launch leaves it on a newer system.
    std::shared_ptr<AppDelegate> installDelegate() {
        auto delegate = std::make_shared<AppDelegate>();
        application_->setDelegate(delegate);
        center_->setDelegate(delegate);
        NEBMessaging::messaging()->setRemoteMessageDelegate(delegate);
        return delegate;
    }
    static ns::Dictionary held() {
        auto json = NCMPlugin::getLastPush();
        if (!json) return {};
        return *ns::JSONSerialization::read(*json).value().dictionary();
    }

    testsupport::TempDir dir_;
    ns::Dictionary info_;
    ns::ScopedSharedInstance<ui::Application> application_;
    ns::ScopedSharedInstance<svc::UserNotificationCenter> center_;
    ns::ScopedSharedInstance<NEBMessaging> messaging_;
};

TEST_F(AppDelegatePushTest, ProxyWrapsTheDelegatesNotificationMethodsOnce) {
    auto delegate = installDelegate();
    ASSERT_TRUE(Proxy::canSwizzleAppDelegate());
    Proxy::swizzleOriginalAppDelegate();
    EXPECT_TRUE(application_->isHookInstalled(Op::DidReceiveRemoteNotificationWithFetch,
                                              Proxy::kHookOwner));
    EXPECT_TRUE(application_->isHookInstalled(Op::DidReceiveRemoteNotification, Proxy::kHookOwner));
    EXPECT_EQ(center_->willPresentChain().size(), 1u);
    EXPECT_TRUE(Proxy::wrapsRemoteMessageDelegate());
    Proxy::swizzleOriginalAppDelegate();
    EXPECT_EQ(center_->willPresentChain().size(), 1u);

    // A notification in the foreground is recorded by the library, then shown without banner.
    svc::Notification notification;
    notification.request.content.userInfo = {{"msg.message_id", ns::Value("m7")}};
    EXPECT_EQ(center_->presentNotification(notification), 0u);
    EXPECT_EQ(NEBMessaging::messaging()->rmq2Manager()->unackedS2dRmqIds(),
              std::vector<std::string>{"m7"});
}

TEST_F(AppDelegatePushTest, ProxyStaysOutWhenSwitchedOffAndAddsTheMissingMethod) {
    info_ = {{"NebulaAppDelegateProxyEnabled", ns::Value("NO")}};
    EXPECT_TRUE(Proxy::canSwizzleAppDelegate());  // text is not a switch
    info_ = {{"NebulaAppDelegateProxyEnabled", ns::Value(false)}};
    EXPECT_FALSE(Proxy::canSwizzleAppDelegate());

    application_->setDelegate(std::make_shared<BareDelegate>());
    EXPECT_FALSE(application_->delegateRespondsTo(Op::DidReceiveRemoteNotification));
    Proxy::swizzleOriginalAppDelegate();
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
    // this road to the notification centre.
    application_->deliver<Op::DidReceiveRemoteNotification>(ns::Dictionary{{"n", ns::Value(4)}});
    EXPECT_TRUE(held().empty());
    ns::FoundationVersion::setNumber(1200);
    application_->deliver<Op::DidReceiveRemoteNotification>(ns::Dictionary{{"n", ns::Value(3)}});
    auto older = held();
    EXPECT_EQ(older["n"].int64(), 3);
    EXPECT_EQ(older["wasTapped"].boolean(), true);

    // The fetch road always answers "no data", also on newer systems.
    ns::FoundationVersion::setNumber(ns::FoundationVersion::kDefaultNumber);
    std::optional<ui::BackgroundFetchResult> answered;
    application_->deliver<Op::DidReceiveRemoteNotificationWithFetch>(
        ns::Dictionary{{"n", ns::Value(5)}},
        ui::FetchCompletionHandler([&](ui::BackgroundFetchResult r) { answered = r; }));
    EXPECT_EQ(answered, ui::BackgroundFetchResult::NoData);
}

}  // namespace
