#include "platform/svc/UserNotificationCenter.h"

#include "platform/dispatch/Queue.h"

namespace svc {

UserNotificationCenter& UserNotificationCenter::currentNotificationCenter() {
    return ns::SharedInstance<UserNotificationCenter>::get();
}

void UserNotificationCenter::requestAuthorizationWithOptions(
    AuthorizationOptions options, std::function<void(bool granted)> completionHandler) {
    bool grants = false;
    {
        dispatch::Lock lock(mutex_);
        requested_ = options;
        grants = grants_;
    }
    if (!completionHandler) return;
    dispatch::Queue::main().async(
        [handler = std::move(completionHandler), grants] { handler(grants); });
}

std::optional<AuthorizationOptions> UserNotificationCenter::requestedAuthorization() const {
    dispatch::Lock lock(mutex_);
    return requested_;
}

void UserNotificationCenter::setUserGrantsAuthorization(bool grants) {
    dispatch::Lock lock(mutex_);
    grants_ = grants;
}

std::shared_ptr<UserNotificationCenterDelegate> UserNotificationCenter::delegate() const {
    dispatch::Lock lock(mutex_);
    return delegate_.lock();
}

void UserNotificationCenter::setDelegate(std::weak_ptr<UserNotificationCenterDelegate> delegate) {
    dispatch::Lock lock(mutex_);
    delegate_ = std::move(delegate);
}

PresentationOptions UserNotificationCenter::presentNotification(const Notification& notification) {
    auto chosen = std::make_shared<PresentationOptions>(0);
    PresentationHandler handler = [chosen](PresentationOptions options) { *chosen = options; };
    willPresent_.call(
        [](UserNotificationCenter& center, const Notification& note,
           const PresentationHandler& done) {
            auto target = center.delegate();
            if (target && target->respondsToWillPresentNotification()) {
                target->willPresentNotification(center, note, done);
            }
        },
        *this, notification, handler);
    dispatch::Lock lock(mutex_);
    presented_.emplace_back(notification, *chosen);
    return *chosen;
}

void UserNotificationCenter::openNotification(const Notification& notification) {
    auto target = delegate();
    if (!target || !target->respondsToDidReceiveNotificationResponse()) return;
    target->didReceiveNotificationResponse(*this, NotificationResponse{notification}, [] {});
}

std::vector<std::pair<Notification, PresentationOptions>> UserNotificationCenter::presented()
    const {
    dispatch::Lock lock(mutex_);
    return presented_;
}

}  // namespace svc
