#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Date.h"
#include "platform/ns/Object.h"
#include "platform/ns/SharedInstance.h"
#include "platform/ns/Value.h"
#include "platform/rt/HookChain.h"

namespace svc {

// Authorisation and presentation options, with the platform's bit values.
using AuthorizationOptions = uint32_t;
inline constexpr AuthorizationOptions kAuthorizationOptionBadge = 1 << 0;
inline constexpr AuthorizationOptions kAuthorizationOptionSound = 1 << 1;
inline constexpr AuthorizationOptions kAuthorizationOptionAlert = 1 << 2;
using PresentationOptions = uint32_t;

struct NotificationContent {
    std::string title;
    std::string body;
    std::optional<std::string> sound;
    std::optional<int64_t> badge;
    std::optional<std::string> categoryIdentifier;
    ns::Dictionary userInfo;
};

struct NotificationRequest {
    std::string identifier;
    NotificationContent content;
};

struct Notification {
    ns::Date date;
    NotificationRequest request;
};

struct NotificationResponse {
    Notification notification;
    // "default": the user opened the notification itself rather than one of its actions.
    std::string actionIdentifier = "default";
};

class UserNotificationCenter;
using PresentationHandler = std::function<void(PresentationOptions)>;
using ResponseHandler = std::function<void()>;

// The application's receiver of user notifications. Both operations are optional.
class UserNotificationCenterDelegate {
public:
    virtual ~UserNotificationCenterDelegate() = default;
    virtual bool respondsToWillPresentNotification() const { return false; }
    virtual void willPresentNotification(UserNotificationCenter& /*center*/,
                                         const Notification& /*notification*/,
                                         const PresentationHandler& /*completionHandler*/) {}
    virtual bool respondsToDidReceiveNotificationResponse() const { return false; }
    virtual void didReceiveNotificationResponse(UserNotificationCenter& /*center*/,
                                                const NotificationResponse& /*response*/,
                                                const ResponseHandler& /*completionHandler*/) {}
};

// The user-notification centre of this application. A Linux host has no notification shade,
// so the centre keeps what callers observe (the authorisation asked for, the delegate, what was
// presented and with which options) and offers the surface through which the host's command
// line and tests play the system: a notification arriving in the foreground, or the user
// opening one. Calls reach the delegate through hook chains, so that libraries can see them
// first. Main thread.
class UserNotificationCenter : public ns::Object {
public:
    using WillPresentChain = rt::HookChain<void(UserNotificationCenter&, const Notification&,
                                                const PresentationHandler&)>;

    static UserNotificationCenter& currentNotificationCenter();

    // The user's answer is the stand-in's setting (granted unless set otherwise); the handler
    // runs on the main queue.
    void requestAuthorizationWithOptions(AuthorizationOptions options,
                                         std::function<void(bool granted)> completionHandler);
    std::optional<AuthorizationOptions> requestedAuthorization() const;
    void setUserGrantsAuthorization(bool grants);

    std::shared_ptr<UserNotificationCenterDelegate> delegate() const;
    void setDelegate(std::weak_ptr<UserNotificationCenterDelegate> delegate);

    WillPresentChain& willPresentChain() { return willPresent_; }

    // A notification arrives while the application is in the foreground. Answers the
    // presentation options the delegate chose (0 when it had nothing to say).
    PresentationOptions presentNotification(const Notification& notification);
    // The user opens a notification.
    void openNotification(const Notification& notification);

    // Everything presented, with the options the system would have used.
    std::vector<std::pair<Notification, PresentationOptions>> presented() const;

private:
    friend class ns::SharedInstance<UserNotificationCenter>;
    UserNotificationCenter() = default;

    mutable dispatch::Mutex mutex_;
    std::optional<AuthorizationOptions> requested_ GUARDED_BY(mutex_);
    bool grants_ GUARDED_BY(mutex_) = true;
    std::weak_ptr<UserNotificationCenterDelegate> delegate_ GUARDED_BY(mutex_);
    WillPresentChain willPresent_;  // safe on its own
    std::vector<std::pair<Notification, PresentationOptions>> presented_ GUARDED_BY(mutex_);
};

}  // namespace svc
