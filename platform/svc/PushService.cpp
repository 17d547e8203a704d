#include "platform/svc/PushService.h"

#include <cmath>

#include "platform/dispatch/Queue.h"
#include "platform/ns/FoundationVersion.h"
#include "platform/ns/UUID.h"
#include "platform/sec/Digest.h"
#include "platform/ui/Application.h"

namespace svc {

namespace {

bool isNewerSystem() {
    return std::floor(ns::FoundationVersion::number()) > 1299;
}

const ns::Dictionary* apsOf(const ns::Dictionary& userInfo) {
    auto aps = userInfo.find("aps");
    return aps == userInfo.end() ? nullptr : aps->second.dictionary();
}

void deliverToDelegate(ui::Application& application, const ns::Dictionary& userInfo) {
    using Op = ui::DelegateOp;
    if (application.delegateRespondsTo(Op::DidReceiveRemoteNotificationWithFetch)) {
        application.deliver<Op::DidReceiveRemoteNotificationWithFetch>(
            userInfo, ui::FetchCompletionHandler([](ui::BackgroundFetchResult) {}));
    } else {
        application.deliver<Op::DidReceiveRemoteNotification>(userInfo);
    }
}

}  // namespace

void PushService::install(ui::Application& application, std::function<ns::Data()> deviceToken) {
    application.setRemoteNotificationRegistrationHandler([&application, deviceToken] {
        dispatch::Queue::main().async([&application, token = deviceToken()] {
            application.deliver<ui::DelegateOp::DidRegisterForRemoteNotifications>(token);
        });
    });
}

ns::Data PushService::deviceTokenForInstallation(const std::string& installationPath) {
    return sec::sha256("push-service device token\n" + installationPath);
}

bool PushService::isVisible(const ns::Dictionary& userInfo) {
    const ns::Dictionary* aps = apsOf(userInfo);
    return aps && (aps->contains("alert") || aps->contains("badge") || aps->contains("sound"));
}

Notification PushService::notificationFor(const ns::Dictionary& userInfo) {
    Notification notification;
    notification.date = ns::Date::now();
    notification.request.identifier = ns::UUID().UUIDString();
    NotificationContent& content = notification.request.content;
    content.userInfo = userInfo;
    const ns::Dictionary* aps = apsOf(userInfo);
    if (!aps) return notification;
    auto text = [aps](const char* key) -> const ns::Value& {
        static const auto& none = *new ns::Value();
        auto found = aps->find(key);
        return found == aps->end() ? none : found->second;
    };
    const ns::Value& alert = text("alert");
    if (const std::string* body = alert.string()) {
        content.body = *body;
    } else if (alert.dictionary()) {
        content.title = alert["title"].stringValue();
        content.body = alert["body"].stringValue();
    }
    if (const std::string* sound = text("sound").string()) content.sound = *sound;
    if (text("badge").isInteger()) content.badge = text("badge").integerValue();
    if (const std::string* category = text("category").string())
        content.categoryIdentifier = *category;
    return notification;
}

void PushService::deliver(ui::Application& application, const ns::Dictionary& userInfo) {
    if (!isNewerSystem()) {
        deliverToDelegate(application, userInfo);
        return;
    }
    if (isVisible(userInfo)) {
        if (application.applicationState() == ui::ApplicationState::Active) {
            UserNotificationCenter::currentNotificationCenter().presentNotification(
                notificationFor(userInfo));
        }
        return;
    }
    deliverToDelegate(application, userInfo);
}

void PushService::open(ui::Application& application, const ns::Dictionary& userInfo) {
    if (isNewerSystem()) {
        UserNotificationCenter::currentNotificationCenter().openNotification(
            notificationFor(userInfo));
        return;
    }
    const bool wasActive = application.applicationState() == ui::ApplicationState::Active;
    if (wasActive) application.resignActive();
    deliverToDelegate(application, userInfo);
    if (application.applicationState() != ui::ApplicationState::Active) application.becomeActive();
}

}  // namespace svc
