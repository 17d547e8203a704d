#include "sdk/messaging/NEBMessagingAppDelegateProxy.h"

#include <atomic>
#include <memory>

#include "platform/svc/UserNotificationCenter.h"
#include "platform/ui/Application.h"
#include "sdk/messaging/NEBMessaging.h"

namespace {

std::atomic<bool> wrapsRemoteMessage{false};

void record(const ns::Dictionary& userInfo) {
    NEBMessaging::messaging()->appDidReceiveMessage(userInfo);
}

}  // namespace

bool NEBMessagingAppDelegateProxy::canSwizzleAppDelegate() {
    return ui::Application::shared().delegateProxyEnabled();
}

// The hooks live with the application, so that is where the proxy is found installed.
bool NEBMessagingAppDelegateProxy::isInstalled() {
    auto& application = ui::Application::shared();
    return application.isHookInstalled(ui::DelegateOp::DidReceiveRemoteNotification, kHookOwner) ||
           application.isHookInstalled(ui::DelegateOp::DidReceiveRemoteNotificationWithFetch,
                                       kHookOwner);
}

bool NEBMessagingAppDelegateProxy::wrapsRemoteMessageDelegate() {
    return wrapsRemoteMessage.load();
}

void NEBMessagingAppDelegateProxy::swizzleOriginalAppDelegate() {
    if (isInstalled()) return;
    auto& application = ui::Application::shared();
    using Op = ui::DelegateOp;

    bool withFetch = application.delegateRespondsTo(Op::DidReceiveRemoteNotificationWithFetch);
    if (withFetch) {
        application.installHook<Op::DidReceiveRemoteNotificationWithFetch>(
            kHookOwner, [](ui::Application& app, const ns::Dictionary& userInfo,
                           const ui::FetchCompletionHandler& handler, const auto& next) {
                record(userInfo);
                next(app, userInfo, handler);
            });
    }
    // Without either remote-notification method the delegate gains this one, so that the
    // receipt is still recorded.
    if (application.delegateRespondsTo(Op::DidReceiveRemoteNotification) || !withFetch) {
        application.installHook<Op::DidReceiveRemoteNotification>(
            kHookOwner, [](ui::Application& app, const ns::Dictionary& userInfo, const auto& next) {
                record(userInfo);
                next(app, userInfo);
            });
    }
    auto& center = svc::UserNotificationCenter::currentNotificationCenter();
    if (auto delegate = center.delegate();
        delegate && delegate->respondsToWillPresentNotification()) {
        center.willPresentChain().install(
            kHookOwner, [](svc::UserNotificationCenter& c, const svc::Notification& notification,
                           const svc::PresentationHandler& handler, const auto& next) {
                if (handler) record(notification.request.content.userInfo);
                next(c, notification, handler);
            });
    }
    auto remote = NEBMessaging::messaging()->remoteMessageDelegate();
    wrapsRemoteMessage = remote && remote->respondsToApplicationReceivedRemoteMessage();
}
