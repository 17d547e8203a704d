#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/Queue.h"
#include "platform/ns/URL.h"
#include "platform/ns/Value.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/ui/UserActivity.h"
#include "sdk/analytics/NEBAEvent.h"
#include "sdk/analytics/NEBAEventPort.h"
#include "sdk/core/NEBAnalyticsConfiguration.h"
#include "sdk/core/NEBOptions.h"
#include "sdk/core/NEBServices.h"

inline constexpr const char* kNEBAnalyticsWillStartNotification =
    "kNEBAnalyticsWillStartNotification";

// The analytics facade: class operations only. Names and values are checked on the caller's
// thread; everything else moves to the serial queue "NEBAnalyticsQueue" and from there to the
// engine's worker queue, so no call waits for storage. Events are stamped in call order on
// "NEBAnalyticsTimestampQueue".
class NEBAnalytics {
public:
    static constexpr const char* kSerialQueueLabel = "NEBAnalyticsQueue";
    static constexpr const char* kTimestampQueueLabel = "NEBAnalyticsTimestampQueue";

    // (origin, name, parameters, timestamp in seconds since 1970).
    using LogEventInterceptor =
        std::function<void(const std::string&, const std::string&, const ns::Dictionary&, double)>;
    using LogEventListener = std::function<void(const NEBAEvent&)>;
    using ListenerToken = uint64_t;
    using UserPropertiesCallback = std::function<void(ns::Dictionary)>;
    using OpenURLListener = std::function<void(const ns::URL&)>;

    // Runs once per process; later calls do nothing. The engine stands on the services.
    static void startWithConfiguration(std::shared_ptr<NEBAnalyticsConfiguration> configuration,
                                       std::shared_ptr<NEBOptions> options,
                                       std::shared_ptr<const NEBServices> services);
    static void observeNotificationsForAnalyticsConfiguration(
        const std::shared_ptr<NEBAnalyticsConfiguration>& configuration);
    static void setIsAnalyticsEnabled(bool enabled);
    // Makes the class findable by name, so that the core can start analytics, and does what
    // the analytics classes do when the program loads them.
    static void registerClass(rt::ClassRegistry& registry = rt::ClassRegistry::shared());

    static void logEventWithName(const ns::Value& name, const ns::Dictionary& parameters);
    static void logEventWithOrigin(const std::string& origin, const ns::Value& name,
                                   const ns::Dictionary& parameters);
    static void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                           const ns::Dictionary& parameters);
    static void logEventWithOrigin(const std::string& origin, bool isPublicEvent,
                                   const std::string& name, const ns::Dictionary& parameters);
    // The re-entry point for an interceptor: no new stamp.
    static void logEventWithOrigin(const std::string& origin, bool isPublicEvent,
                                   const std::string& name, const ns::Dictionary& parameters,
                                   double timestamp, bool ignoreEnabled, bool ignoreInterceptor);

    static void setLogEventInterceptor(LogEventInterceptor interceptor);
    // None (logged) for an empty listener.
    static std::optional<ListenerToken> addLogEventListener(LogEventListener listener);
    static void removeLogEventListener(std::optional<ListenerToken> token);

    static void setUserPropertyString(const ns::Value& value, const ns::Value& name);
    static void setUserAttributeNumber(const ns::Value& number, const ns::Value& name);
    static void setUserID(const ns::Value& userID);
    static void removeUserAttributeForName(const ns::Value& name);
    static void setInternalUserProperty(const ns::Value& value, const std::string& name);
    static void removeInternalUserAttributeForName(const std::string& name);
    // The callback runs on `queue`; with no queue it gets an empty dictionary on the main queue.
    static void userPropertiesIncludingInternal(bool includeInternal, dispatch::Queue* queue,
                                                UserPropertiesCallback callback);

    // The "_err" event about rejected input: the code, the offending item cut to `limit`
    // UTF-16 units ("..." appended), and the length of `lengthText` (the item when absent)
    // for codes 4 and 7 or when it is over the limit.
    static void logErrorEventWithCode(int64_t code, const ns::Value& item, size_t limit,
                                      const std::optional<ns::Value>& lengthText = std::nullopt);

    static void notifyEventListeners(const NEBAEvent& event);

    // Opened URLs and continued web-browsing activities: campaign events, and the open-URL
    // listener for opened URLs.
    static void handleOpenURL(const ns::URL& url);
    static void handleUserActivity(const std::shared_ptr<ui::UserActivity>& activity);
    static void setOpenURLListener(OpenURLListener listener);
    static void handleEventsForBackgroundURLSession(const std::string& identifier,
                                                    std::function<void()> completionHandler);
    // Once per process: hooks the application's delegate when it has one.
    static void createAppDelegateProxy();
    // Starts the optional tag manager when one is registered under "TagManager".
    static void maybeEnableTagManager();

    static bool isCurrentQueueSerialQueue();
    static void dispatchAsyncOnSerialQueue(std::function<void()> block);

    // The facade as the engine sees it, handed to the engine when it is made: internal events
    // of other threads, listeners, the facade's queue.
    static std::shared_ptr<NEBAEventPort> eventPort();

    // A fresh facade state (not started, no listeners) for a scope; the old one comes back
    // after it.
    class ScopedState {
    public:
        ScopedState();
        ~ScopedState();
        ScopedState(const ScopedState&) = delete;
        ScopedState& operator=(const ScopedState&) = delete;

    private:
        std::shared_ptr<void> previous_;
    };

private:
    struct State;
    static std::shared_ptr<State> state();
    static void logEventOnSerialQueue(const std::string& origin, bool isPublicEvent,
                                      const std::string& name, const ns::Dictionary& parameters,
                                      double timestamp, bool ignoreEnabled, bool ignoreInterceptor);
    static void notifyEventListenersOnSerialQueue(const NEBAEvent& event);
    static bool checkPublicUserPropertyName(const ns::Value& name);
};
