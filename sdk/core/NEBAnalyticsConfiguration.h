#pragma once

#include <memory>
#include <string_view>

#include "platform/ns/Object.h"
#include "platform/ns/Value.h"

inline constexpr const char* kNEBAnalyticsConfigurationSetEnabledNotification =
    "NEBAnalyticsConfigurationSetEnabledNotification";
inline constexpr const char* kNEBAnalyticsConfigurationSetMinimumSessionIntervalNotification =
    "NEBAnalyticsConfigurationSetMinimumSessionIntervalNotification";
inline constexpr const char* kNEBAnalyticsConfigurationSetSessionTimeoutIntervalNotification =
    "NEBAnalyticsConfigurationSetSessionTimeoutIntervalNotification";
// 1: collection enabled, 2: disabled. Analytics reads it at start.
inline constexpr const char* kNEBAnalyticsEnabledStateUserDefaultsKey =
    "/nebula/measurement/measurement_enabled_state";
inline constexpr int64_t kNEBAnalyticsEnabledStateSetYes = 1;
inline constexpr int64_t kNEBAnalyticsEnabledStateSetNo = 2;

// The analytics settings an application may change at run time. Its state lives in the user
// defaults and in the analytics engine, which hears each change as a notification posted
// synchronously on the caller's thread, with this object as sender and the value under the
// notification's own name.
class NEBAnalyticsConfiguration : public ns::Object {
public:
    static std::shared_ptr<NEBAnalyticsConfiguration> sharedInstance();

    void setMinimumSessionInterval(double seconds);
    void setSessionTimeoutInterval(double seconds);
    void setAnalyticsCollectionEnabled(bool enabled);
    void setIsEnabled(bool enabled) { setAnalyticsCollectionEnabled(enabled); }
    // Posts only for a non-empty name and a value that is not null.
    void postNotificationName(std::string_view name, const ns::Value& value);
};
