#include "sdk/core/NEBAnalyticsConfiguration.h"

#include "platform/ns/NotificationCenter.h"
#include "platform/ns/UserDefaults.h"

std::shared_ptr<NEBAnalyticsConfiguration> NEBAnalyticsConfiguration::sharedInstance() {
    static auto instance = std::make_shared<NEBAnalyticsConfiguration>();
    return instance;
}

void NEBAnalyticsConfiguration::setMinimumSessionInterval(double seconds) {
    postNotificationName(kNEBAnalyticsConfigurationSetMinimumSessionIntervalNotification, seconds);
}

void NEBAnalyticsConfiguration::setSessionTimeoutInterval(double seconds) {
    postNotificationName(kNEBAnalyticsConfigurationSetSessionTimeoutIntervalNotification, seconds);
}

void NEBAnalyticsConfiguration::setAnalyticsCollectionEnabled(bool enabled) {
    auto defaults = ns::UserDefaults::standardUserDefaults();
    defaults->setInteger(
        kNEBAnalyticsEnabledStateUserDefaultsKey,
        enabled ? kNEBAnalyticsEnabledStateSetYes : kNEBAnalyticsEnabledStateSetNo);
    defaults->synchronize();
    postNotificationName(kNEBAnalyticsConfigurationSetEnabledNotification, enabled);
}

void NEBAnalyticsConfiguration::postNotificationName(std::string_view name,
                                                     const ns::Value& value) {
    if (name.empty() || value.isNull()) return;
    ns::Dictionary userInfo{{std::string(name), value}};
    ns::NotificationCenter::defaultCenter().post(std::string(name), shared_from_this(),
                                                 std::move(userInfo));
}
