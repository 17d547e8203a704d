#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Object.h"
#include "platform/ns/URL.h"
#include "platform/ns/Value.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/rt/HookChain.h"
#include "platform/ui/ApplicationDelegate.h"

namespace ui {

// Keys of the launch options. Launch options are plain values: a URL travels as its absolute
// string, a user activity as its dictionary representation (UserActivity).
inline constexpr const char* kApplicationLaunchOptionsURLKey = "UIApplicationLaunchOptionsURLKey";
inline constexpr const char* kApplicationLaunchOptionsUserActivityDictionaryKey =
    "UIApplicationLaunchOptionsUserActivityDictionaryKey";
inline constexpr const char* kApplicationLaunchOptionsUserActivityKey =
    "UIApplicationLaunchOptionsUserActivityKey";

// Keys of the options that come with an open-URL request.
inline constexpr const char* kApplicationOpenURLOptionsSourceApplicationKey =
    "UIApplicationOpenURLOptionsSourceApplicationKey";
inline constexpr const char* kApplicationOpenURLOptionsAnnotationKey =
    "UIApplicationOpenURLOptionsAnnotationKey";

// Names of the application's life-cycle notifications, in the order the events come.
inline constexpr const char* kApplicationDidFinishLaunchingNotification =
    "UIApplicationDidFinishLaunchingNotification";
inline constexpr const char* kApplicationDidBecomeActiveNotification =
    "UIApplicationDidBecomeActiveNotification";
inline constexpr const char* kApplicationWillResignActiveNotification =
    "UIApplicationWillResignActiveNotification";
inline constexpr const char* kApplicationDidEnterBackgroundNotification =
    "UIApplicationDidEnterBackgroundNotification";
inline constexpr const char* kApplicationWillEnterForegroundNotification =
    "UIApplicationWillEnterForegroundNotification";
inline constexpr const char* kApplicationWillTerminateNotification =
    "UIApplicationWillTerminateNotification";
inline constexpr const char* kApplicationDidReceiveMemoryWarningNotification =
    "UIApplicationDidReceiveMemoryWarningNotification";

// The Info.plist key that lets an application turn off the delegate proxies of the SDK parts.
inline constexpr const char* kAppDelegateProxyEnabledKey = "NebulaAppDelegateProxyEnabled";

// The values are the platform's (they appear in log lines).
enum class ApplicationState : int { Active = 0, Inactive = 1, Background = 2 };

using BackgroundTaskIdentifier = uint64_t;
inline constexpr BackgroundTaskIdentifier kBackgroundTaskInvalid = 0;

// The running application: its state, its delegate and the calls the system makes to it,
// background tasks, and the requests it makes of the system (recorded for the host and tests).
//
// Every delegate callback goes through deliver(), which runs the hooks that parts of the
// program installed for that operation (first installed, first run) and ends at the
// delegate's own implementation, or at the answer the system assumes when the delegate lacks
// it. This is how the SDK parts wrap the delegate's callbacks without touching its class.
//
// The life cycle runs on the main thread. Background tasks may be begun and ended from any
// thread. The application holds its delegate strongly: the program never lets it go earlier.
class Application : public ns::Object {
public:
    template <DelegateOp Op>
    using Chain = rt::HookChain<typename DelegateOpTraits<Op>::Signature>;
    template <DelegateOp Op>
    using Hook = typename Chain<Op>::Hook;
    using EventObserver =
        std::function<void(const std::string& notificationName, const ns::Dictionary& userInfo)>;

    // The program uses shared(); tests make their own instances or put a fresh shared one in
    // place for a scope (ns::ScopedSharedInstance).
    Application();
    ~Application() override;
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    static Application& shared();
    // Registers with the class registry what code may look up by name here: the delegate
    // protocol and the user-activity class. Called from the composition root.
    static void registerRuntimeClasses(rt::ClassRegistry& registry);

    // --- Delegate ---------------------------------------------------------------------
    std::shared_ptr<ApplicationDelegate> delegate() const;
    void setDelegate(std::shared_ptr<ApplicationDelegate> delegate);
    // Creates the delegate from a registered class, as the application's entry point does with
    // the delegate class name. False, and nothing changed, when the class is missing, abstract
    // or its instances are not application delegates.
    bool setDelegateClass(std::string_view className,
                          const rt::ClassRegistry& registry = rt::ClassRegistry::shared());
    // The class the delegate was made from; null when the delegate was set directly.
    const rt::Class* delegateClass() const;

    // --- Interception -------------------------------------------------------------------
    // Each owner installs at most one hook per operation: a second install is ignored and
    // answers false. Hooks are never removed.
    template <DelegateOp Op>
    bool installHook(std::string owner, Hook<Op> hook) {
        return chain<Op>().install(std::move(owner), std::move(hook));
    }
    bool isHookInstalled(DelegateOp op, std::string_view owner) const;

    // Makes the call the system makes: this application, then the operation's arguments.
    template <DelegateOp Op, class... Args>
    auto deliver(Args&&... args) {
        using Traits = DelegateOpTraits<Op>;
        typename Chain<Op>::Next terminal = [this](Application& app, auto&&... rest) {
            auto target = delegate();
            ApplicationDelegate& receiver =
                target && target->implements(Op) ? *target : notImplementedDelegate();
            return Traits::call(receiver, app, rest...);
        };
        return chain<Op>().call(std::move(terminal), *this, std::forward<Args>(args)...);
    }

    // Whether the delegate's own class implements the operation.
    bool delegateImplements(DelegateOp op) const;
    // Whether the delegate answers the operation as seen from outside: its own implementation,
    // or one that a hook provides. A hook makes the delegate answer even when its class lacks
    // the operation, as an implementation added to the class at run time would.
    bool delegateRespondsTo(DelegateOp op) const;

    // The "NebulaAppDelegateProxyEnabled" switch of the main bundle's Info dictionary: a
    // number (or boolean) gives its truth value; absent or any other kind means enabled.
    bool delegateProxyEnabled() const;
    // Where the main bundle's Info dictionary comes from (the bundle is set up elsewhere);
    // without a provider the dictionary is empty.
    void setInfoDictionaryProvider(std::function<ns::Dictionary()> provider);

    // --- Life cycle -----------------------------------------------------------------------
    ApplicationState applicationState() const { return state_.load(); }
    bool isLaunched() const { return launched_; }
    bool isTerminated() const { return terminated_; }
    const ns::Dictionary& launchOptions() const { return launchOptions_; }

    // Delivers will-finish and did-finish launching (the application is inactive) and announces
    // the launch with the options as user info. Answers the launch callbacks' verdict (NO when
    // either answered NO). A second launch is a programming fault (ns::Exception).
    bool launch(ns::Dictionary options = {});
    // The transitions deliver the callback to the delegate, then announce the event. A request
    // that skips a step takes it first (entering the background while active resigns first;
    // becoming active from the background enters the foreground first); one that changes
    // nothing does nothing. Before launch or after termination they are programming faults.
    void becomeActive();
    void resignActive();
    void enterBackground();
    void enterForeground();
    void terminate();
    void receiveMemoryWarning();
    // Receives each announcement, after the delegate has had its callback (the notification
    // centre posts them from here).
    void setEventObserver(EventObserver observer);

    // --- Background tasks -----------------------------------------------------------------
    // Identifiers are unique for the life of the application and never kBackgroundTaskInvalid.
    BackgroundTaskIdentifier beginBackgroundTask(std::string name,
                                                 std::function<void()> expirationHandler);
    // Ends a running task; an unknown or already ended identifier is ignored (false).
    bool endBackgroundTask(BackgroundTaskIdentifier identifier);
    bool isBackgroundTaskRunning(BackgroundTaskIdentifier identifier) const;
    size_t runningBackgroundTaskCount() const;
    // The system's time is up: each running task's expiration handler runs (it should end its
    // task); tasks still running afterwards are ended.
    void expireBackgroundTasks();

    // --- Requests to the system ------------------------------------------------------------
    // Recorded; the handler (the push service) answers later through the delegate callbacks.
    void registerForRemoteNotifications();
    size_t remoteNotificationRegistrationCount() const;
    void setRemoteNotificationRegistrationHandler(std::function<void()> handler);

    // Asks the system to open a URL; answers whether it did. Every request is recorded; the
    // opener decides the answer (without one, every URL opens).
    bool openURL(const ns::URL& url);
    std::vector<ns::URL> openedURLs() const;
    void setURLOpener(std::function<bool(const ns::URL&)> opener);

private:
    template <size_t... I>
    static auto makeChains(std::index_sequence<I...>)
        -> std::tuple<Chain<static_cast<DelegateOp>(I)>...>;
    using Chains = decltype(makeChains(std::make_index_sequence<kDelegateOpCount>()));

    template <DelegateOp Op>
    Chain<Op>& chain() {
        return std::get<static_cast<size_t>(Op)>(chains_);
    }
    bool hasHooks(DelegateOp op) const;

    static ApplicationDelegate& notImplementedDelegate();
    void requireRunning(const char* operation) const;
    void announce(const char* notificationName, const ns::Dictionary& userInfo = {});

    struct BackgroundTask {
        std::string name;
        std::function<void()> expirationHandler;
    };

    mutable dispatch::Mutex mutex_;
    std::shared_ptr<ApplicationDelegate> delegate_ GUARDED_BY(mutex_);
    const rt::Class* delegateClass_ GUARDED_BY(mutex_) = nullptr;
    std::function<ns::Dictionary()> infoDictionaryProvider_ GUARDED_BY(mutex_);
    EventObserver eventObserver_ GUARDED_BY(mutex_);
    std::function<void()> remoteNotificationRegistrationHandler_ GUARDED_BY(mutex_);
    std::function<bool(const ns::URL&)> urlOpener_ GUARDED_BY(mutex_);
    std::vector<ns::URL> openedURLs_ GUARDED_BY(mutex_);
    size_t remoteNotificationRegistrations_ GUARDED_BY(mutex_) = 0;
    std::map<BackgroundTaskIdentifier, BackgroundTask> backgroundTasks_ GUARDED_BY(mutex_);
    BackgroundTaskIdentifier lastBackgroundTask_ GUARDED_BY(mutex_) = kBackgroundTaskInvalid;

    Chains chains_;
    std::atomic<ApplicationState> state_{ApplicationState::Inactive};
    bool launched_ = false;
    bool terminated_ = false;
    ns::Dictionary launchOptions_;
};

}  // namespace ui
