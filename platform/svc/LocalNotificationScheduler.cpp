#include "platform/svc/LocalNotificationScheduler.h"

#include <algorithm>
#include <chrono>

#include "platform/dispatch/Queue.h"
#include "platform/svc/UserNotificationCenter.h"

namespace svc {

LocalNotificationScheduler& LocalNotificationScheduler::shared() {
    return ns::SharedInstance<LocalNotificationScheduler>::get();
}

void LocalNotificationScheduler::scheduleLocalNotification(const LocalNotification& notification) {
    uint64_t id = 0;
    {
        dispatch::Lock lock(mutex_);
        id = nextID_++;
        scheduled_.emplace_back(id, notification);
    }
    double wait = std::max(0.0, notification.fireDate.timeIntervalSinceNow());
    dispatch::Queue::main().asyncAfter(
        std::chrono::duration_cast<dispatch::Duration>(std::chrono::duration<double>(wait)),
        [weak = weak_from_this(), id] {
            if (auto self = weak.lock()) self->fire(id);
        });
}

void LocalNotificationScheduler::fire(uint64_t id) {
    LocalNotification due;
    {
        dispatch::Lock lock(mutex_);
        auto found = std::find_if(scheduled_.begin(), scheduled_.end(),
                                  [id](const auto& entry) { return entry.first == id; });
        if (found == scheduled_.end()) return;
        due = found->second;
        scheduled_.erase(found);
    }
    Notification shown;
    shown.date = due.fireDate;
    shown.request.identifier = "local-" + std::to_string(id);
    shown.request.content.title = due.alertTitle.value_or("");
    shown.request.content.body = due.alertBody.value_or("");
    shown.request.content.sound = due.soundName;
    shown.request.content.badge = due.applicationIconBadgeNumber;
    shown.request.content.categoryIdentifier = due.category;
    shown.request.content.userInfo = due.userInfo.value_or(ns::Dictionary{});
    UserNotificationCenter::currentNotificationCenter().presentNotification(shown);
}

std::vector<LocalNotification> LocalNotificationScheduler::scheduledLocalNotifications() const {
    dispatch::Lock lock(mutex_);
    std::vector<LocalNotification> out;
    for (const auto& entry : scheduled_) out.push_back(entry.second);
    return out;
}

}  // namespace svc
