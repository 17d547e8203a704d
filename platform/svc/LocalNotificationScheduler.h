#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Date.h"
#include "platform/ns/SharedInstance.h"
#include "platform/ns/Value.h"

namespace svc {

// A notification the application schedules for itself.
struct LocalNotification {
    ns::Date fireDate;
    std::string timeZone;  // empty: absolute time
    std::optional<std::string> alertBody;
    std::optional<std::string> alertTitle;
    std::optional<std::string> soundName;
    std::optional<int64_t> applicationIconBadgeNumber;
    std::optional<std::string> category;
    std::optional<ns::Dictionary> userInfo;
};

// Keeps the application's scheduled local notifications. When one falls due on the main
// run loop's clock, it is shown through the user-notification centre (in the foreground) and
// leaves the schedule. Main thread.
class LocalNotificationScheduler : public std::enable_shared_from_this<LocalNotificationScheduler> {
public:
    static LocalNotificationScheduler& shared();

    void scheduleLocalNotification(const LocalNotification& notification);
    std::vector<LocalNotification> scheduledLocalNotifications() const;

private:
    friend class ns::SharedInstance<LocalNotificationScheduler>;
    LocalNotificationScheduler() = default;
    void fire(uint64_t id);

    mutable dispatch::Mutex mutex_;
    uint64_t nextID_ GUARDED_BY(mutex_) = 1;
    std::vector<std::pair<uint64_t, LocalNotification>> scheduled_ GUARDED_BY(mutex_);
};

}  // namespace svc
