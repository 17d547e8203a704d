#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "bridge/HYBAppDelegate.h"
#include "platform/svc/UserNotificationCenter.h"
#include "sdk/messaging/NEBMessagingDelegate.h"

class NCMPushSink;
class NEBMessaging;

// The application's delegate: launches with the application's own root view controller and
// carries the push side of the application: it registers for notifications, starts the SDK
// when the bundle holds its options file, receives notifications, keeps the one most recently
// opened for the page, and keeps the messaging socket connected while in the foreground.
// Which of the platform's roads apply is read from the platform when the delegate is made.
class AppDelegate : public HYBAppDelegate,
                    public svc::UserNotificationCenterDelegate,
                    public NEBMessagingDelegate {
public:
    static constexpr const char* kOptionsFileName = "NebulaService-Info.plist";
    // Platform versions at and below which the older registration roads are taken.
    static constexpr double kFoundationVersionOldest = 1047.25;
    static constexpr double kFoundationVersionNewer = 1299;
    // The presentation of a notification in the foreground: no banner, sound or badge.
    static constexpr svc::PresentationOptions kPresentationOptionsNone = 0;
    // Instance identity's default token, when it has one.
    using TokenSource = std::function<std::optional<std::string>()>;

    // The push side stands on the page's end of the push road (not null), the messaging
    // library (started at the launch when the bundle holds the SDK's options) and the default
    // token.
    AppDelegate(std::shared_ptr<NCMPushSink> page, std::shared_ptr<NEBMessaging> messaging,
                TokenSource token);

    bool implements(ui::DelegateOp op) const override;

    // Makes a MainViewController (its shared set-up runs now), launches as the host does, then
    // runs the push side of the launch.
    bool didFinishLaunchingWithOptions(ui::Application& application,
                                       const ns::Dictionary& launchOptions) override;
    void applicationDidBecomeActive(ui::Application& application) override;
    void applicationDidEnterBackground(ui::Application& application) override;
    void didReceiveRemoteNotification(ui::Application& application,
                                      const ns::Dictionary& userInfo) override;
    void didReceiveRemoteNotificationWithFetchCompletionHandler(
        ui::Application& application, const ns::Dictionary& userInfo,
        const ui::FetchCompletionHandler& completionHandler) override;

    bool respondsToWillPresentNotification() const override { return true; }
    void willPresentNotification(svc::UserNotificationCenter& center,
                                 const svc::Notification& notification,
                                 const svc::PresentationHandler& completionHandler) override;
    bool respondsToDidReceiveNotificationResponse() const override { return true; }
    void didReceiveNotificationResponse(svc::UserNotificationCenter& center,
                                        const svc::NotificationResponse& response,
                                        const svc::ResponseHandler& completionHandler) override;

    // Messages that arrive over the messaging socket on newer systems reach the page as a
    // notification in the foreground does, with their id. They wait for the page when it is
    // not ready yet, and the library keeps each until the page's callback has run with it.
    bool respondsToApplicationReceivedRemoteMessage() const override { return true; }
    void applicationReceivedRemoteMessage(const NEBMessagingRemoteMessage& message) override;
    bool confirmsDelivery() const override { return true; }

    void customDidFinishLaunchingWithOptions(ui::Application& application);
    void tokenRefreshNotification();
    void connectToNcm();
    // The held notification, taken once.
    std::optional<std::string> getLastPush();
    const std::shared_ptr<NCMPushSink>& pushSink() const { return page_; }

private:
    static void logUserInfo(const ns::Dictionary& userInfo);
    std::optional<std::string> defaultToken() const;

    const std::shared_ptr<NCMPushSink> page_;
    const std::shared_ptr<NEBMessaging> messaging_;
    const TokenSource token_;
    const double foundationVersion_;
    bool sdkStarted_ = false;
    uint64_t tokenObserver_ = 0;
};
