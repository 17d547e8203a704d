#include "platform/ui/ApplicationNotifications.h"

namespace ui {

void ApplicationNotifications::install(Application& application, ns::NotificationCenter& center) {
    std::weak_ptr<ns::Object> sender = application.weak_from_this();
    application.setEventObserver(
        [&center, sender](const std::string& name, const ns::Dictionary& userInfo) {
            center.post(name, sender.lock(), userInfo);
        });
}

}  // namespace ui
