#include "sdk/analytics/NEBAnalytics.h"

#include <utility>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Mutex.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ns/Object.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/ui/Application.h"
#include "sdk/analytics/NEBAAppDelegateProxy.h"
#include "sdk/analytics/NEBADataTypeValidator.h"
#include "sdk/analytics/NEBAErrorEvent.h"
#include "sdk/analytics/NEBAMeasurement.h"
#include "sdk/analytics/NEBAMonitor.h"
#include "sdk/analytics/NEBAUserAttribute.h"
#include "sdk/analytics/NEBAValue.h"
#include "sdk/core/NEBAnalyticsInternalLogging.h"
#include "sdk/core/NEBAnalyticsStarting.h"
#include "sdk/core/NEBNetwork.h"
#include "toolbox/Foundation/NSDKClassLookup.h"

struct NEBAnalytics::State {
    bool started = false;
    bool enabled = false;
    std::shared_ptr<NEBOptions> options;
    LogEventInterceptor interceptor;
    OpenURLListener openURLListener;
    std::optional<std::map<ListenerToken, LogEventListener>> listeners;
    ListenerToken nextToken = 1;
    std::vector<ns::NotificationCenter::ObserverToken> observers;
};

namespace {

constexpr const char* kTagManagerClassName = "TagManager";
constexpr const char* kTagManagerInitializeOperation = "initializeSharedInstance";

// Constant-initialised, so usable from any static initialiser.
dispatch::Mutex stateMutex;

std::shared_ptr<void>& currentState() REQUIRES(stateMutex) {
    static std::shared_ptr<void>* state = new std::shared_ptr<void>;
    return *state;
}

dispatch::Queue& serialQueue() {
    static auto* queue = new std::shared_ptr<dispatch::Queue>(
        dispatch::Queue::createSerial(NEBAnalytics::kSerialQueueLabel));
    return **queue;
}

dispatch::Queue& timestampQueue() {
    static auto* queue = new std::shared_ptr<dispatch::Queue>(
        dispatch::Queue::createSerial(NEBAnalytics::kTimestampQueueLabel));
    return **queue;
}

// Runs inline when already on the facade's queue, so that a listener or an interceptor may
// call back into the facade.
void onSerialQueue(std::function<void()> block) {
    if (serialQueue().isCurrent())
        block();
    else
        serialQueue().async(std::move(block));
}

class FacadePort final : public NEBAEventPort {
public:
    void logInternalEvent(const std::string& origin, const std::string& name,
                          const ns::Dictionary& parameters) override {
        NEBAnalytics::logInternalEventWithOrigin(origin, name, parameters);
    }
    void notifyEventListeners(const NEBAEvent& event) override {
        NEBAnalytics::notifyEventListeners(event);
    }
    void afterQueuedCalls(std::function<void()> block) override {
        NEBAnalytics::dispatchAsyncOnSerialQueue(std::move(block));
    }
};

// The core starts analytics, and messaging logs its notification events, through this object,
// found by the class name.
class AnalyticsClass : public ns::Object,
                       public NEBAnalyticsStarting,
                       public NEBAnalyticsInternalLogging {
public:
    void startWithConfiguration(std::shared_ptr<NEBAnalyticsConfiguration> configuration,
                                std::shared_ptr<NEBOptions> options,
                                std::shared_ptr<const NEBServices> services) override {
        NEBAnalytics::startWithConfiguration(std::move(configuration), std::move(options),
                                             std::move(services));
    }
    void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                    const ns::Dictionary& parameters) override {
        NEBAnalytics::logInternalEventWithOrigin(origin, name, parameters);
    }
    void setInternalUserProperty(const ns::Value& value, const std::string& name) override {
        NEBAnalytics::setInternalUserProperty(value, name);
    }
};

}  // namespace

std::shared_ptr<NEBAnalytics::State> NEBAnalytics::state() {
    dispatch::Lock lock(stateMutex);
    auto& current = currentState();
    if (!current) current = std::make_shared<State>();
    return std::static_pointer_cast<State>(current);
}

NEBAnalytics::ScopedState::ScopedState() {
    dispatch::Lock lock(stateMutex);
    previous_ = std::exchange(currentState(), std::make_shared<State>());
}

NEBAnalytics::ScopedState::~ScopedState() {
    std::shared_ptr<void> leaving;
    {
        dispatch::Lock lock(stateMutex);
        leaving = std::exchange(currentState(), std::move(previous_));
    }
    for (auto token : std::static_pointer_cast<State>(leaving)->observers)
        ns::NotificationCenter::defaultCenter().removeObserver(token);
}

bool NEBAnalytics::isCurrentQueueSerialQueue() {
    return serialQueue().isCurrent();
}

void NEBAnalytics::dispatchAsyncOnSerialQueue(std::function<void()> block) {
    serialQueue().async(std::move(block));
}

std::shared_ptr<NEBAEventPort> NEBAnalytics::eventPort() {
    static auto* port = new std::shared_ptr<NEBAEventPort>(std::make_shared<FacadePort>());
    return *port;
}

void NEBAnalytics::registerClass(rt::ClassRegistry& registry) {
    registry.registerClass(kNEBAnalyticsClassName, std::nullopt,
                           [] { return std::make_shared<AnalyticsClass>(); },
                           {kNEBAnalyticsStartOperation, kNEBAnalyticsLogInternalEventOperation,
                            kNEBAnalyticsSetInternalUserPropertyOperation});
    NEBAMeasurement::load();
    NEBAAppDelegateProxy::load();
}

void NEBAnalytics::createAppDelegateProxy() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (auto delegate = ui::Application::shared().delegate())
            NEBAAppDelegateProxy::proxyOriginalDelegate(delegate, handleOpenURL);
    });
}

void NEBAnalytics::maybeEnableTagManager() {
    const auto* tagManager = NSDKClassFromString(std::string(kTagManagerClassName));
    if (!tagManager || !tagManager->instancesRespondTo(kTagManagerInitializeOperation)) return;
    // Making the class's instance is what starts its shared instance.
    if (!tagManager->create())
        NEBAMonitor::log(NEBALogLevel::ErrorSampledOnly,
                         "TagManager class doesn't define initializeSharedInstance");
}

void NEBAnalytics::handleEventsForBackgroundURLSession(const std::string& identifier,
                                                       std::function<void()> completionHandler) {
    NEBNetwork::handleEventsForBackgroundURLSessionID(identifier, std::move(completionHandler));
}

// --- URLs --------------------------------------------------------------------------------

void NEBAnalytics::handleOpenURL(const ns::URL& url) {
    auto s = state();
    dispatchAsyncOnSerialQueue([s, url] {
        if (auto engine = NEBAMeasurement::sharedInstance()) engine->handleOpenURL(url);
        if (s->openURLListener) s->openURLListener(url);
    });
}

void NEBAnalytics::handleUserActivity(const std::shared_ptr<ui::UserActivity>& activity) {
    dispatchAsyncOnSerialQueue([activity] {
        auto url = NEBAMeasurement::deepLinkFromUserActivity(activity);
        if (!url || url->absoluteString().empty()) return;
        if (auto engine = NEBAMeasurement::sharedInstance()) engine->handleOpenURL(url);
    });
}

void NEBAnalytics::setOpenURLListener(OpenURLListener listener) {
    auto s = state();
    onSerialQueue([s, listener = std::move(listener)] { s->openURLListener = listener; });
}

// --- Start and configuration -------------------------------------------------------------

void NEBAnalytics::startWithConfiguration(std::shared_ptr<NEBAnalyticsConfiguration> configuration,
                                          std::shared_ptr<NEBOptions> options,
                                          std::shared_ptr<const NEBServices> services) {
    auto s = state();
    {
        dispatch::Lock lock(stateMutex);
        if (s->started) return;
        s->started = true;
        s->options = options;
    }
    ns::NotificationCenter::defaultCenter().post(kNEBAnalyticsWillStartNotification);
    dispatchAsyncOnSerialQueue([s, options, services = std::move(services)] {
        NEBAMeasurement::initializeSharedInstanceWithOptions(options, services, eventPort());
        if (NEBAAppDelegateProxy::isAppDelegateProxyEnabled() &&
            !(options && options->isAnalyticsCollectionDeactivated()))
            createAppDelegateProxy();
        auto engine = NEBAMeasurement::sharedInstance();
        s->enabled = engine && engine->wasEnabledDuringInitialization();
        maybeEnableTagManager();
    });
    observeNotificationsForAnalyticsConfiguration(configuration);
}

void NEBAnalytics::observeNotificationsForAnalyticsConfiguration(
    const std::shared_ptr<NEBAnalyticsConfiguration>& configuration) {
    auto s = state();
    auto& center = ns::NotificationCenter::defaultCenter();
    for (auto token : std::exchange(s->observers, {})) center.removeObserver(token);
    if (!configuration) return;
    s->observers.push_back(center.addObserver(
        kNEBAnalyticsConfigurationSetEnabledNotification, configuration,
        [](const ns::Notification& notification) {
            auto it = notification.userInfo.find(kNEBAnalyticsConfigurationSetEnabledNotification);
            if (it == notification.userInfo.end() ||
                !(it->second.isNumber() || it->second.isBool())) {
                NEBAMonitor::warning(
                    "Received setEnabled notification without NSNumber",
                    {it == notification.userInfo.end() ? ns::Value() : it->second});
                return;
            }
            setIsAnalyticsEnabled(it->second.boolValue());
        }));
    auto forwardInterval = [](const char* name, const char* complaint,
                              void (NEBAMeasurement::*setter)(double)) {
        return [name, complaint, setter](const ns::Notification& notification) {
            auto it = notification.userInfo.find(name);
            if (it == notification.userInfo.end() || !it->second.isNumber()) {
                NEBAMonitor::warning(
                    complaint, {it == notification.userInfo.end() ? ns::Value() : it->second});
                return;
            }
            double seconds = it->second.doubleValue();
            dispatchAsyncOnSerialQueue([setter, seconds] {
                if (auto engine = NEBAMeasurement::sharedInstance()) ((*engine).*setter)(seconds);
            });
        };
    };
    s->observers.push_back(center.addObserver(
        kNEBAnalyticsConfigurationSetMinimumSessionIntervalNotification, configuration,
        forwardInterval(kNEBAnalyticsConfigurationSetMinimumSessionIntervalNotification,
                        "Received setMinimumSessionInterval notification without NSNumber",
                        &NEBAMeasurement::setMinimumSessionInterval)));
    s->observers.push_back(center.addObserver(
        kNEBAnalyticsConfigurationSetSessionTimeoutIntervalNotification, configuration,
        forwardInterval(kNEBAnalyticsConfigurationSetSessionTimeoutIntervalNotification,
                        "Received setSessionTimeoutInterval notification without NSNumber",
                        &NEBAMeasurement::setSessionTimeoutInterval)));
}

void NEBAnalytics::setIsAnalyticsEnabled(bool enabled) {
    auto s = state();
    onSerialQueue([s, enabled] {
        if (enabled && s->options && s->options->isAnalyticsCollectionDeactivated()) return;
        s->enabled = enabled;
        if (auto engine = NEBAMeasurement::sharedInstance()) engine->setIsEnabled(enabled);
    });
}

// --- Events ------------------------------------------------------------------------------

void NEBAnalytics::logEventWithName(const ns::Value& name, const ns::Dictionary& parameters) {
    logEventWithOrigin("app", name, parameters);
}

void NEBAnalytics::logEventWithOrigin(const std::string& origin, const ns::Value& name,
                                      const ns::Dictionary& parameters) {
    int64_t failure = kNEBAValidationValid;
    if (!NEBADataTypeValidator::isValidPublicEventName(name, &failure)) {
        logErrorEventWithCode(failure == kNEBAValidationReserved ? NEBAErrorCode::ReservedEventName
                                                                 : NEBAErrorCode::InvalidEventName,
                              name, NEBAErrorItemLimit::EventName);
        return;
    }
    logEventWithOrigin(origin, true, *name.string(), parameters);
}

void NEBAnalytics::logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                              const ns::Dictionary& parameters) {
    logEventWithOrigin(origin, false, name, parameters);
}

void NEBAnalytics::logEventWithOrigin(const std::string& origin, bool isPublicEvent,
                                      const std::string& name, const ns::Dictionary& parameters) {
    // Stamping and enqueuing happen together on one queue, so events reach the facade's queue
    // in the order of their stamps.
    auto stampAndEnqueue = [&] {
        double timestamp = dispatch::Clock::current().wallTime();
        serialQueue().async([origin, isPublicEvent, name, parameters, timestamp] {
            logEventOnSerialQueue(origin, isPublicEvent, name, parameters, timestamp, false, false);
        });
    };
    if (timestampQueue().isCurrent())
        stampAndEnqueue();
    else
        timestampQueue().sync(stampAndEnqueue);
}

void NEBAnalytics::logEventWithOrigin(const std::string& origin, bool isPublicEvent,
                                      const std::string& name, const ns::Dictionary& parameters,
                                      double timestamp, bool ignoreEnabled,
                                      bool ignoreInterceptor) {
    dispatchAsyncOnSerialQueue([=] {
        logEventOnSerialQueue(origin, isPublicEvent, name, parameters, timestamp, ignoreEnabled,
                              ignoreInterceptor);
    });
}

void NEBAnalytics::logEventOnSerialQueue(const std::string& origin, bool isPublicEvent,
                                         const std::string& name, const ns::Dictionary& parameters,
                                         double timestamp, bool ignoreEnabled,
                                         bool ignoreInterceptor) {
    auto s = state();
    auto event = NEBAEvent::initWithOrigin(origin, isPublicEvent, name, timestamp, 0, parameters);
    auto engine = NEBAMeasurement::sharedInstance();
    if (!s->enabled && !ignoreEnabled) {
        if (engine) engine->logEvent(event);
        return;
    }
    if (isPublicEvent && s->interceptor && !ignoreInterceptor) {
        s->interceptor(origin, name, parameters, timestamp);
        return;
    }
    if (engine) engine->logEvent(event);
    if (event) notifyEventListenersOnSerialQueue(*event);
}

void NEBAnalytics::notifyEventListeners(const NEBAEvent& event) {
    dispatchAsyncOnSerialQueue([event] { notifyEventListenersOnSerialQueue(event); });
}

void NEBAnalytics::notifyEventListenersOnSerialQueue(const NEBAEvent& event) {
    auto s = state();
    if (!s->listeners) return;
    // A listener may add or remove listeners; it changes the next event's round, not this one.
    auto listeners = *s->listeners;
    for (const auto& [token, listener] : listeners) listener(event);
}

void NEBAnalytics::setLogEventInterceptor(LogEventInterceptor interceptor) {
    auto s = state();
    onSerialQueue([s, interceptor = std::move(interceptor)] { s->interceptor = interceptor; });
}

std::optional<NEBAnalytics::ListenerToken> NEBAnalytics::addLogEventListener(
    LogEventListener listener) {
    if (!listener) {
        NEBAMonitor::log(NEBALogLevel::ErrorSampledOnly,
                         "Attempted addition of nil log event listener.");
        return std::nullopt;
    }
    auto s = state();
    ListenerToken token;
    {
        dispatch::Lock lock(stateMutex);
        token = s->nextToken++;
    }
    onSerialQueue([s, token, listener = std::move(listener)] {
        if (!s->listeners) s->listeners.emplace();
        s->listeners->emplace(token, listener);
    });
    return token;
}

void NEBAnalytics::removeLogEventListener(std::optional<ListenerToken> token) {
    if (!token) {
        NEBAMonitor::log(NEBALogLevel::ErrorSampledOnly, "Attempted removal of nil log event.");
        return;
    }
    auto s = state();
    onSerialQueue([s, token = *token] {
        if (!s->listeners) {
            NEBAMonitor::log(NEBALogLevel::ErrorSampledOnly,
                             "Attempted removal of nil log event listener.");
        } else if (s->listeners->erase(token) == 0) {
            NEBAMonitor::log(NEBALogLevel::ErrorSampledOnly,
                             "Attempted removal of log event listener with invalid token.");
        }
    });
}

// --- User properties ---------------------------------------------------------------------

bool NEBAnalytics::checkPublicUserPropertyName(const ns::Value& name) {
    int64_t failure = kNEBAValidationValid;
    if (NEBADataTypeValidator::isValidPublicUserAttributeName(name, &failure)) return true;
    logErrorEventWithCode(failure == kNEBAValidationReserved
                              ? NEBAErrorCode::ReservedUserPropertyName
                              : NEBAErrorCode::InvalidUserPropertyName,
                          name, NEBAErrorItemLimit::UserPropertyName);
    return false;
}

void NEBAnalytics::setUserPropertyString(const ns::Value& value, const ns::Value& name) {
    if (value.isNull()) {
        removeUserAttributeForName(name);
        return;
    }
    if (!checkPublicUserPropertyName(name)) return;
    if (!value.isString()) {
        NEBAMonitor::log(NEBALogLevel::ErrorNotSampled, "User property must be NSString. Value",
                         {value});
        return;
    }
    NEBAValue wrapped(*value.string());
    int64_t failure = kNEBAValidationValid;
    if (NEBADataTypeValidator::isValidPublicUserAttributeValue(&wrapped, &failure)) {
        setInternalUserProperty(value, *name.string());
    } else if (failure == kNEBAValidationTooLong) {
        logErrorEventWithCode(NEBAErrorCode::UserPropertyValueTooLong, name,
                              NEBAErrorItemLimit::UserPropertyName, value);
    }
}

void NEBAnalytics::setUserAttributeNumber(const ns::Value& number, const ns::Value& name) {
    if (!checkPublicUserPropertyName(name)) return;
    if (!number.isNumber() && !number.isBool()) return;
    setInternalUserProperty(
        number.isDouble() ? ns::Value(number.doubleValue()) : ns::Value(number.longLongValue()),
        *name.string());
}

void NEBAnalytics::setUserID(const ns::Value& userID) {
    if (userID.isNull()) {
        removeInternalUserAttributeForName("_id");
    } else if (!userID.isString()) {
        NEBAMonitor::log(NEBALogLevel::ErrorNotSampled, "User ID must be NSString. User ID",
                         {userID});
    } else {
        setInternalUserProperty(userID, "_id");
    }
}

void NEBAnalytics::removeUserAttributeForName(const ns::Value& name) {
    if (NEBADataTypeValidator::isValidPublicUserAttributeName(name))
        removeInternalUserAttributeForName(*name.string());
}

void NEBAnalytics::setInternalUserProperty(const ns::Value& value, const std::string& name) {
    if (!NEBADataTypeValidator::isValidInternalUserAttributeName(ns::Value(name))) {
        logErrorEventWithCode(NEBAErrorCode::InvalidUserPropertyName, ns::Value(name),
                              NEBAErrorItemLimit::UserPropertyName);
        return;
    }
    if (value.isNull()) {
        removeInternalUserAttributeForName(name);
        return;
    }
    auto converted = NEBAValue::valueFromObject(value);
    if (!converted) return;
    int64_t failure = kNEBAValidationValid;
    if (!NEBADataTypeValidator::isValidInternalUserAttributeValue(&*converted, &failure)) {
        if (failure == kNEBAValidationTooLong) {
            std::optional<ns::Value> text;
            if (converted->stringValue())
                text = ns::Value(*converted->stringValue());
            else
                text = ns::Value(converted->description());
            logErrorEventWithCode(NEBAErrorCode::UserPropertyValueTooLong, ns::Value(name),
                                  NEBAErrorItemLimit::UserPropertyName, text);
        }
        return;
    }
    auto attribute =
        NEBAUserAttribute::initWithName(name, *converted, dispatch::Clock::current().wallTime());
    dispatchAsyncOnSerialQueue([attribute] {
        if (auto engine = NEBAMeasurement::sharedInstance()) engine->setUserAttribute(attribute);
    });
}

void NEBAnalytics::removeInternalUserAttributeForName(const std::string& name) {
    auto attribute = NEBAUserAttribute::initWithName(name, NEBAValue(0.0),
                                                     dispatch::Clock::current().wallTime());
    dispatchAsyncOnSerialQueue([attribute] {
        if (auto engine = NEBAMeasurement::sharedInstance()) engine->removeUserAttribute(attribute);
    });
}

void NEBAnalytics::userPropertiesIncludingInternal(bool includeInternal, dispatch::Queue* queue,
                                                   UserPropertiesCallback callback) {
    auto s = state();
    onSerialQueue([s, includeInternal, queue, callback = std::move(callback)] {
        if (!callback) {
            NEBAMonitor::error("Analytics userProperties callback cannot be nil");
            return;
        }
        if (!queue) {
            NEBAMonitor::error(
                "Cannot query for Nebula Analytics user properties. Queue cannot be nil");
            dispatch::Queue::main().async([callback] { callback({}); });
            return;
        }
        auto engine = NEBAMeasurement::sharedInstance();
        if (!s->enabled || !engine) {
            NEBAMonitor::warning(
                "Cannot query for public user properties when Nebula Analytics is disabled");
            queue->async([callback] { callback({}); });
            return;
        }
        engine->userPropertiesIncludingInternal(includeInternal, [queue, callback](
                                                                     ns::Dictionary properties) {
            queue->async([callback, properties = std::move(properties)] { callback(properties); });
        });
    });
}

// --- Error events ------------------------------------------------------------------------

void NEBAnalytics::logErrorEventWithCode(int64_t code, const ns::Value& item, size_t limit,
                                         const std::optional<ns::Value>& lengthText) {
    if (code == 0) return;
    logInternalEventWithOrigin("auto", kNEBAErrorEventName,
                               NEBAErrorEventParameters(code, item, limit, lengthText));
}
