#pragma once

#include "platform/ns/NotificationCenter.h"
#include "platform/ui/Application.h"

namespace ui {

// Connects an application's life-cycle announcements to a notification centre, so that
// observers of "UIApplicationDidBecomeActiveNotification" and the others hear them, with the
// application as sender and the announcement's user info. The composition root installs it
// once for the shared application and the default centre; tests install it on their own.
class ApplicationNotifications {
public:
    static void install(Application& application = Application::shared(),
                        ns::NotificationCenter& center = ns::NotificationCenter::defaultCenter());
};

}  // namespace ui
