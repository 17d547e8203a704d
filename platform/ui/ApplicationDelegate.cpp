#include "platform/ui/ApplicationDelegate.h"

namespace ui {

const char* selectorName(DelegateOp op) {
    switch (op) {
        case DelegateOp::WillFinishLaunching:
            return "application:willFinishLaunchingWithOptions:";
        case DelegateOp::DidFinishLaunching:
            return "application:didFinishLaunchingWithOptions:";
        case DelegateOp::DidBecomeActive:
            return "applicationDidBecomeActive:";
        case DelegateOp::WillResignActive:
            return "applicationWillResignActive:";
        case DelegateOp::DidEnterBackground:
            return "applicationDidEnterBackground:";
        case DelegateOp::WillEnterForeground:
            return "applicationWillEnterForeground:";
        case DelegateOp::WillTerminate:
            return "applicationWillTerminate:";
        case DelegateOp::DidReceiveMemoryWarning:
            return "applicationDidReceiveMemoryWarning:";
        case DelegateOp::OpenURL:
            return "application:openURL:options:";
        case DelegateOp::OpenURLWithSourceApplication:
            return "application:openURL:sourceApplication:annotation:";
        case DelegateOp::ContinueUserActivity:
            return "application:continueUserActivity:restorationHandler:";
        case DelegateOp::DidRegisterForRemoteNotifications:
            return "application:didRegisterForRemoteNotificationsWithDeviceToken:";
        case DelegateOp::DidFailToRegisterForRemoteNotifications:
            return "application:didFailToRegisterForRemoteNotificationsWithError:";
        case DelegateOp::DidReceiveRemoteNotification:
            return "application:didReceiveRemoteNotification:";
        case DelegateOp::DidReceiveRemoteNotificationWithFetch:
            return "application:didReceiveRemoteNotification:fetchCompletionHandler:";
        case DelegateOp::HandleEventsForBackgroundURLSession:
            return "application:handleEventsForBackgroundURLSession:completionHandler:";
        case DelegateOp::SupportedInterfaceOrientations:
            return "application:supportedInterfaceOrientationsForWindow:";
    }
    return "";
}

bool ApplicationDelegate::implements(DelegateOp) const {
    return false;
}

bool ApplicationDelegate::willFinishLaunchingWithOptions(Application&, const ns::Dictionary&) {
    return true;
}

bool ApplicationDelegate::didFinishLaunchingWithOptions(Application&, const ns::Dictionary&) {
    return true;
}

void ApplicationDelegate::applicationDidBecomeActive(Application&) {}
void ApplicationDelegate::applicationWillResignActive(Application&) {}
void ApplicationDelegate::applicationDidEnterBackground(Application&) {}
void ApplicationDelegate::applicationWillEnterForeground(Application&) {}
void ApplicationDelegate::applicationWillTerminate(Application&) {}
void ApplicationDelegate::applicationDidReceiveMemoryWarning(Application&) {}

bool ApplicationDelegate::openURL(Application&, const std::optional<ns::URL>&,
                                  const ns::Dictionary&) {
    return false;
}

bool ApplicationDelegate::openURLWithSourceApplication(Application&, const std::optional<ns::URL>&,
                                                       const std::string&, const ns::Value&) {
    return false;
}

bool ApplicationDelegate::continueUserActivity(Application&, const std::shared_ptr<UserActivity>&,
                                               const RestorationHandler&) {
    return false;
}

void ApplicationDelegate::didRegisterForRemoteNotificationsWithDeviceToken(Application&,
                                                                           const ns::Data&) {}
void ApplicationDelegate::didFailToRegisterForRemoteNotificationsWithError(Application&,
                                                                           const ns::Error&) {}
void ApplicationDelegate::didReceiveRemoteNotification(Application&, const ns::Dictionary&) {}
void ApplicationDelegate::didReceiveRemoteNotificationWithFetchCompletionHandler(
    Application&, const ns::Dictionary&, const FetchCompletionHandler&) {}
void ApplicationDelegate::handleEventsForBackgroundURLSession(Application&, const std::string&,
                                                              const CompletionHandler&) {}

InterfaceOrientationMask ApplicationDelegate::supportedInterfaceOrientationsForWindow(
    Application&, const std::shared_ptr<Window>&) {
    return kInterfaceOrientationMaskAll;
}

}  // namespace ui
