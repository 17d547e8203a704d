#include "sdk/messaging/NEBMessagingAppDelegateProxy.h"

#include "platform/dispatch/QueueContract.h"
#include "platform/svc/UserNotificationCenter.h"
#include "platform/ui/Application.h"
#include "sdk/messaging/NEBMessaging.h"
#include "sdk/messaging/NEBMessagingReceiver.h"

bool NEBMessagingAppDelegateProxy::canSwizzleAppDelegate() {
    return ui::Application::shared().delegateProxyEnabled();
}

// The hooks live with the application, so that is where the proxy is found installed.
bool NEBMessagingAppDelegateProxy::isInstalled() {
    HYB_EXPECT_MAIN_THREAD();
    auto& application = ui::Application::shared();
    return application.isHookInstalled(ui::DelegateOp::DidReceiveRemoteNotification, kHookOwner) ||
           application.isHookInstalled(ui::DelegateOp::DidReceiveRemoteNotificationWithFetch,
                                       kHookOwner);
}

void NEBMessagingAppDelegateProxy::swizzleOriginalAppDelegate(
    const std::shared_ptr<NEBMessaging>& messaging) {
    HYB_EXPECT_MAIN_THREAD();
    if (isInstalled() || !messaging) return;
    auto& application = ui::Application::shared();
    using Op = ui::DelegateOp;
    const auto record =
        [weak = std::weak_ptr<NEBMessaging>(messaging)](const ns::Dictionary& userInfo) {
            if (auto facade = weak.lock()) facade->appDidReceiveMessage(userInfo);
        };

    bool withFetch = application.delegateRespondsTo(Op::DidReceiveRemoteNotificationWithFetch);
    if (withFetch) {
        application.installHook<Op::DidReceiveRemoteNotificationWithFetch>(
            kHookOwner, [record](ui::Application& app, const ns::Dictionary& userInfo,
                                 const ui::FetchCompletionHandler& handler, const auto& next) {
                record(userInfo);
                next(app, userInfo, handler);
            });
    }
    // Without either remote-notification method the delegate gains this one, so that the
    // receipt is still recorded.
    if (application.delegateRespondsTo(Op::DidReceiveRemoteNotification) || !withFetch) {
        application.installHook<Op::DidReceiveRemoteNotification>(
            kHookOwner,
            [record](ui::Application& app, const ns::Dictionary& userInfo, const auto& next) {
                record(userInfo);
                next(app, userInfo);
            });
    }
    auto& center = svc::UserNotificationCenter::currentNotificationCenter();
    if (auto delegate = center.delegate();
        delegate && delegate->respondsToWillPresentNotification()) {
        center.willPresentChain().install(
            kHookOwner,
            [record](svc::UserNotificationCenter& c, const svc::Notification& notification,
                     const svc::PresentationHandler& handler, const auto& next) {
                if (handler) record(notification.request.content.userInfo);
                next(c, notification, handler);
            });
    }
    auto remote = messaging->remoteMessageDelegate();
    if (remote && remote->respondsToApplicationReceivedRemoteMessage() && messaging->receiver()) {
        messaging->receiver()->setReceipt(record);
    }
}
