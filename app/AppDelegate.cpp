#include "app/AppDelegate.h"

#include <cmath>
#include <filesystem>

#include "app/MainViewController.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/FoundationVersion.h"
#include "platform/ns/Log.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "plugins/push/NCMPlugin.h"
#include "plugins/push/NCMPushSink.h"
#include "sdk/core/NEBApp.h"
#include "sdk/instance_id/NEBInstanceID.h"
#include "sdk/messaging/NEBMessaging.h"

namespace {

ns::Dictionary withTapped(const ns::Dictionary& userInfo, bool tapped) {
    ns::Dictionary copy = userInfo;
    copy.insert_or_assign("wasTapped", ns::Value(tapped));
    return copy;
}

bool bundleHoldsOptions() {
    std::error_code ec;
    return std::filesystem::is_regular_file(
        std::filesystem::path(ns::Bundle::mainBundle()->bundlePath()) /
            AppDelegate::kOptionsFileName,
        ec);
}

}  // namespace

AppDelegate::AppDelegate(std::shared_ptr<NCMPushSink> page, std::shared_ptr<NEBMessaging> messaging,
                         TokenSource token)
    : page_(std::move(page)),
      messaging_(std::move(messaging)),
      token_(std::move(token)),
      foundationVersion_(ns::FoundationVersion::number()) {}

bool AppDelegate::implements(ui::DelegateOp op) const {
    switch (op) {
        case ui::DelegateOp::DidBecomeActive:
        case ui::DelegateOp::DidEnterBackground:
        case ui::DelegateOp::DidReceiveRemoteNotification:
        case ui::DelegateOp::DidReceiveRemoteNotificationWithFetch:
            return true;
        default:
            return HYBAppDelegate::implements(op);
    }
}

bool AppDelegate::didFinishLaunchingWithOptions(ui::Application& application,
                                                const ns::Dictionary& launchOptions) {
    setViewController(HYBViewController::create<MainViewController>());
    bool launched = HYBAppDelegate::didFinishLaunchingWithOptions(application, launchOptions);
    customDidFinishLaunchingWithOptions(application);
    return launched;
}

void AppDelegate::customDidFinishLaunchingWithOptions(ui::Application& application) {
    ns::nslog("DidFinishLaunchingWithOptions");
    // Without the options file there is no SDK to start: the host runs the page alone.
    if (!bundleHoldsOptions() || !messaging_) return;
    sdkStarted_ = true;
    auto self = std::dynamic_pointer_cast<AppDelegate>(shared_from_this());
    if (std::floor(foundationVersion_) > kFoundationVersionNewer) {
        auto& center = svc::UserNotificationCenter::currentNotificationCenter();
        center.requestAuthorizationWithOptions(svc::kAuthorizationOptionBadge |
                                                   svc::kAuthorizationOptionSound |
                                                   svc::kAuthorizationOptionAlert,
                                               [](bool) {});
        center.setDelegate(self);
        // The first use of the library builds it.
        messaging_->start();
        messaging_->setRemoteMessageDelegate(self);
    }
    // Every road ends in the registration for remote notifications; the older ones differ
    // only in the settings object the platform asked for first.
    application.registerForRemoteNotifications();
    NEBInstanceID::load();
    NEBMessaging::load();
    NEBApp::configure();
    std::weak_ptr<AppDelegate> weak = self;
    if (!tokenObserver_) {
        tokenObserver_ = ns::NotificationCenter::defaultCenter().addObserver(
            kNEBInstanceIDTokenRefreshNotification, nullptr, [weak](const ns::Notification&) {
                if (auto delegate = weak.lock()) delegate->tokenRefreshNotification();
            });
    }
}

void AppDelegate::logUserInfo(const ns::Dictionary& userInfo) {
    if (auto id = userInfo.find(NCMPlugin::kMessageIDKey); id != userInfo.end()) {
        ns::nslog("Message ID: %@", id->second);
    }
    ns::nslog("%@", ns::Value(userInfo));
}

void AppDelegate::willPresentNotification(svc::UserNotificationCenter&,
                                          const svc::Notification& notification,
                                          const svc::PresentationHandler& completionHandler) {
    const ns::Dictionary& userInfo = notification.request.content.userInfo;
    logUserInfo(userInfo);
    page_->notifyOfMessage(NCMPlugin::messageJSON(userInfo));
    if (completionHandler) completionHandler(kPresentationOptionsNone);
}

void AppDelegate::didReceiveNotificationResponse(svc::UserNotificationCenter&,
                                                 const svc::NotificationResponse& response,
                                                 const svc::ResponseHandler& completionHandler) {
    const ns::Dictionary& userInfo = response.notification.request.content.userInfo;
    logUserInfo(userInfo);
    std::string json = NCMPlugin::messageJSON(withTapped(userInfo, true));
    ns::nslog("APP WAS CLOSED DURING PUSH RECEPTION Saved data: %@", json);
    page_->holdPush(std::move(json));
    if (completionHandler) completionHandler();
}

void AppDelegate::didReceiveRemoteNotification(ui::Application& application,
                                               const ns::Dictionary& userInfo) {
    logUserInfo(userInfo);
    if (foundationVersion_ >= kFoundationVersionNewer) return;
    if (application.applicationState() != ui::ApplicationState::Active) {
        page_->holdPush(NCMPlugin::messageJSON(withTapped(userInfo, true)));
    }
}

void AppDelegate::didReceiveRemoteNotificationWithFetchCompletionHandler(
    ui::Application& application, const ns::Dictionary& userInfo,
    const ui::FetchCompletionHandler& completionHandler) {
    logUserInfo(userInfo);
    if (foundationVersion_ < kFoundationVersionNewer &&
        application.applicationState() != ui::ApplicationState::Background) {
        ns::nslog("app active");
        page_->notifyOfMessage(NCMPlugin::messageJSON(withTapped(userInfo, false)));
    }
    if (completionHandler) completionHandler(ui::BackgroundFetchResult::NoData);
}

// The plug-in's log line carries the message as the page gets it, so nothing more is logged
// here. The id goes with it under the key a notification carries it under, so that the page
// can tell a message that comes again after a restart (the host died after the page had it
// but before that was recorded) from a new one.
void AppDelegate::applicationReceivedRemoteMessage(const NEBMessagingRemoteMessage& message) {
    std::weak_ptr<NEBMessaging> messaging = messaging_;
    page_->deliverMessage(NCMPlugin::messageJSON(message.appData, message.messageID),
                          message.messageID, [messaging](const std::string& id) {
                              if (auto library = messaging.lock())
                                  library->didDeliverRemoteMessage(id);
                          });
}

std::optional<std::string> AppDelegate::defaultToken() const {
    return token_ ? token_() : std::nullopt;
}

void AppDelegate::tokenRefreshNotification() {
    auto token = defaultToken();
    ns::nslog("InstanceID token: %@", token ? ns::Value(*token) : ns::Value());
    page_->notifyOfTokenRefresh(token);
    connectToNcm();
}

void AppDelegate::connectToNcm() {
    if (!sdkStarted_ || !defaultToken()) return;
    messaging_->disconnect();
    std::weak_ptr<NEBMessaging> weak = messaging_;
    messaging_->connectWithCompletion([weak](const std::optional<ns::Error>& error) {
        if (error) {
            ns::nslog("Unable to connect to NCM. %@", error->description());
            return;
        }
        ns::nslog("Connected to NCM.");
        if (auto held = weak.lock()) {
            held->subscribeToTopic("/topics/ios");
            held->subscribeToTopic("/topics/all");
        }
    });
}

void AppDelegate::applicationDidBecomeActive(ui::Application&) {
    ns::nslog("app become active");
    page_->appEnterForeground();
    connectToNcm();
}

void AppDelegate::applicationDidEnterBackground(ui::Application&) {
    ns::nslog("app entered background");
    if (sdkStarted_) messaging_->disconnect();
    page_->appEnterBackground();
    ns::nslog("Disconnected from NCM");
}

std::optional<std::string> AppDelegate::getLastPush() {
    return page_->getLastPush();
}
