#pragma once

#include <functional>
#include <string>

#include "platform/ns/Data.h"
#include "platform/ns/Value.h"
#include "platform/svc/UserNotificationCenter.h"

namespace ui {
class Application;
}  // namespace ui

namespace svc {

// The platform's push service as this application sees it. Linux has none, so this stand-in
// answers the application's registrations with a device token and delivers remote
// notifications through the roads the platform takes, for the host's command line and tests:
//
// - arriving: on a newer system (Foundation version above 1299), a notification that shows
//   something (an "aps" alert, badge or sound) reaches the user-notification centre's
//   will-present while the application is active, and one that is silent (anything else,
//   "content-available" among them) reaches the delegate's remote-notification callback, as
//   does every notification on an older system;
// - opened by the user: on a newer system the centre's delegate receives the response; on an
//   older one the application turns inactive, the delegate's remote-notification callback
//   runs, and the application becomes active again.
//
// The delegate's remote-notification callback is the fetch variant when the delegate (or a
// hook) answers it, else the plain one. Main thread.
class PushService {
public:
    // Answers every registerForRemoteNotifications() of the application, on the main queue,
    // with the device token, which is made when the application registers: a launch that
    // never registers (a page without push) makes none.
    static void install(ui::Application& application, std::function<ns::Data()> deviceToken);
    // A device token that stays the same for one installation (the sandbox's path), as the
    // platform's does.
    static ns::Data deviceTokenForInstallation(const std::string& installationPath);

    static void deliver(ui::Application& application, const ns::Dictionary& userInfo);
    static void open(ui::Application& application, const ns::Dictionary& userInfo);

    // What the user would see: title, body, sound, badge and category from "aps".
    static Notification notificationFor(const ns::Dictionary& userInfo);
    static bool isVisible(const ns::Dictionary& userInfo);
};

}  // namespace svc
