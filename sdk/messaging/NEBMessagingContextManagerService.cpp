#include "sdk/messaging/NEBMessagingContextManagerService.h"

#include "platform/ns/LocalTime.h"
#include "platform/svc/LocalNotificationScheduler.h"
#include "sdk/messaging/NEBMessagingLogger.h"

namespace {

std::string stringFor(const ns::Dictionary& message, const char* key) {
    auto found = message.find(key);
    return found == message.end() ? "" : found->second.stringValue();
}

}  // namespace

bool NEBMessagingContextManagerService::isContextManagerMessage(const ns::Dictionary& message) {
    return !stringFor(message, kLocalTimeStartKey).empty();
}

bool NEBMessagingContextManagerService::handleContextManagerMessage(const ns::Dictionary& message) {
    if (stringFor(message, kLocalTimeStartKey).empty()) return false;
    return handleContextManagerLocalTimeMessage(message);
}

bool NEBMessagingContextManagerService::handleContextManagerLocalTimeMessage(
    const ns::Dictionary& message) {
    auto& log = NEBMessagingSharedLogger();
    std::string startText = stringFor(message, kLocalTimeStartKey);
    auto start = ns::LocalTime::parse(startText);
    if (!start) {
        log.logFuncError(__func__, "Invalid local start date format %@. Message dropped",
                         startText);
        return false;
    }
    ns::Date now = ns::Date::now();
    if (now.timeIntervalSince1970() < start->timeIntervalSince1970()) {
        scheduleLocalNotificationForMessage(message, *start);
        return true;
    }
    if (!message.contains(kLocalTimeEndKey)) {
        log.logFuncInfo(__func__,
                        "No end date specified for message, start date elapsed. Message dropped.");
        return true;
    }
    std::string endText = stringFor(message, kLocalTimeEndKey);
    auto end = ns::LocalTime::parse(endText);
    // An end that cannot be read cannot keep the window open.
    if (!end || end->timeIntervalSince1970() < now.timeIntervalSince1970()) {
        log.logFuncInfo(__func__, "End date %@ has already passed. Message dropped.", endText);
        return true;
    }
    scheduleLocalNotificationForMessage(
        message, ns::Date::fromTimeIntervalSince1970(now.timeIntervalSince1970() +
                                                     kElapsedStartDelaySeconds));
    return true;
}

void NEBMessagingContextManagerService::scheduleLocalNotificationForMessage(
    const ns::Dictionary& message, const ns::Date& date) {
    svc::LocalNotification notification;
    notification.timeZone = ns::LocalTime::defaultTimeZone();
    notification.fireDate = date;
    if (auto body = stringFor(message, "msg.notification.body"); !body.empty()) {
        notification.alertBody = body;
    }
    if (auto title = stringFor(message, "msg.notification.title"); !title.empty()) {
        notification.alertTitle = title;
    }
    if (message.contains("msg.notification.sound")) {
        notification.soundName = stringFor(message, "msg.notification.sound");
    }
    if (auto badge = message.find("msg.notification.badge"); badge != message.end()) {
        notification.applicationIconBadgeNumber = badge->second.integerValue();
    }
    if (message.contains("msg.notification.click_action")) {
        notification.category = stringFor(message, "msg.notification.click_action");
    }
    if (auto userInfo = parseDataFromMessage(message); !userInfo.empty()) {
        notification.userInfo = std::move(userInfo);
    }
    svc::LocalNotificationScheduler::shared().scheduleLocalNotification(notification);
}

ns::Dictionary NEBMessagingContextManagerService::parseDataFromMessage(
    const ns::Dictionary& message) {
    ns::Dictionary data;
    for (const auto& [key, value] : message) {
        if (key == "msg.notification.content-available" || key.starts_with("nebula.c.cm.")) {
            continue;
        }
        data.insert_or_assign(key, value);
    }
    return data;
}
