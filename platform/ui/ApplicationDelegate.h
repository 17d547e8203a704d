#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ns/Data.h"
#include "platform/ns/Error.h"
#include "platform/ns/Object.h"
#include "platform/ns/URL.h"
#include "platform/ns/Value.h"
#include "platform/ui/UserActivity.h"

namespace ui {

class Application;
class Window;

// The optional operations of the application delegate, one per callback the system makes.
enum class DelegateOp : uint8_t {
    WillFinishLaunching,
    DidFinishLaunching,
    DidBecomeActive,
    WillResignActive,
    DidEnterBackground,
    WillEnterForeground,
    WillTerminate,
    DidReceiveMemoryWarning,
    OpenURL,                       // url, options
    OpenURLWithSourceApplication,  // url, source application, annotation (the older form)
    ContinueUserActivity,
    DidRegisterForRemoteNotifications,
    DidFailToRegisterForRemoteNotifications,
    DidReceiveRemoteNotification,           // user info
    DidReceiveRemoteNotificationWithFetch,  // user info, fetch completion handler
    HandleEventsForBackgroundURLSession,
    SupportedInterfaceOrientations,
};
inline constexpr size_t kDelegateOpCount =
    static_cast<size_t>(DelegateOp::SupportedInterfaceOrientations) + 1;

// The operation's selector text ("application:openURL:options:"): the name that tables of
// saved implementations and the class registry use for it.
const char* selectorName(DelegateOp op);

// The protocol name under which delegate classes register with the class registry.
inline constexpr const char* kApplicationDelegateProtocol = "UIApplicationDelegate";

// What a background fetch found; the values are the platform's.
enum class BackgroundFetchResult : uint8_t { NewData = 0, NoData = 1, Failed = 2 };

// Interface orientations as bits of a mask, with the platform's values.
using InterfaceOrientationMask = uint64_t;
inline constexpr InterfaceOrientationMask kInterfaceOrientationMaskPortrait = 1 << 1;
inline constexpr InterfaceOrientationMask kInterfaceOrientationMaskPortraitUpsideDown = 1 << 2;
inline constexpr InterfaceOrientationMask kInterfaceOrientationMaskLandscapeRight = 1 << 3;
inline constexpr InterfaceOrientationMask kInterfaceOrientationMaskLandscapeLeft = 1 << 4;
inline constexpr InterfaceOrientationMask kInterfaceOrientationMaskAll = 30;

using FetchCompletionHandler = std::function<void(BackgroundFetchResult)>;
// Receives the objects that should restore their state from the activity.
using RestorationHandler = std::function<void(const std::vector<std::shared_ptr<ns::Object>>&)>;
using CompletionHandler = std::function<void()>;

// The application's delegate. Every operation is optional: a subclass overrides the ones it
// has and answers true from implements() for exactly those. The base versions give the answer
// the system assumes when a delegate lacks the operation (see each), and do nothing else.
//
// Calls reach the delegate through Application::deliver, never directly, so that the hooks
// other parts install see them first.
class ApplicationDelegate : public virtual ns::Object {
public:
    ~ApplicationDelegate() override = default;

    virtual bool implements(DelegateOp op) const;

    // Missing: YES (launch goes on).
    virtual bool willFinishLaunchingWithOptions(Application& application,
                                                const ns::Dictionary& launchOptions);
    virtual bool didFinishLaunchingWithOptions(Application& application,
                                               const ns::Dictionary& launchOptions);
    virtual void applicationDidBecomeActive(Application& application);
    virtual void applicationWillResignActive(Application& application);
    virtual void applicationDidEnterBackground(Application& application);
    virtual void applicationWillEnterForeground(Application& application);
    virtual void applicationWillTerminate(Application& application);
    virtual void applicationDidReceiveMemoryWarning(Application& application);
    // Missing: NO (the URL was not handled). The URL is nothing when the system gave none.
    virtual bool openURL(Application& application, const std::optional<ns::URL>& url,
                         const ns::Dictionary& options);
    virtual bool openURLWithSourceApplication(Application& application,
                                              const std::optional<ns::URL>& url,
                                              const std::string& sourceApplication,
                                              const ns::Value& annotation);
    // Missing: NO.
    virtual bool continueUserActivity(Application& application,
                                      const std::shared_ptr<UserActivity>& activity,
                                      const RestorationHandler& restorationHandler);
    virtual void didRegisterForRemoteNotificationsWithDeviceToken(Application& application,
                                                                  const ns::Data& deviceToken);
    virtual void didFailToRegisterForRemoteNotificationsWithError(Application& application,
                                                                  const ns::Error& error);
    virtual void didReceiveRemoteNotification(Application& application,
                                              const ns::Dictionary& userInfo);
    // Missing: the handler is not called.
    virtual void didReceiveRemoteNotificationWithFetchCompletionHandler(
        Application& application, const ns::Dictionary& userInfo,
        const FetchCompletionHandler& completionHandler);
    virtual void handleEventsForBackgroundURLSession(Application& application,
                                                     const std::string& identifier,
                                                     const CompletionHandler& completionHandler);
    // Missing: every orientation; the root view controller narrows it.
    virtual InterfaceOrientationMask supportedInterfaceOrientationsForWindow(
        Application& application, const std::shared_ptr<Window>& window);

protected:
    ApplicationDelegate() = default;
};

// For each operation: the signature of its calls (the application first, then the delegate
// method's own arguments) and how to invoke it on a delegate. Hooks and deliveries are typed
// by these.
template <DelegateOp Op>
struct DelegateOpTraits;

template <>
struct DelegateOpTraits<DelegateOp::WillFinishLaunching> {
    using Signature = bool(Application&, const ns::Dictionary&);
    static bool call(ApplicationDelegate& d, Application& a, const ns::Dictionary& options) {
        return d.willFinishLaunchingWithOptions(a, options);
    }
};
template <>
struct DelegateOpTraits<DelegateOp::DidFinishLaunching> {
    using Signature = bool(Application&, const ns::Dictionary&);
    static bool call(ApplicationDelegate& d, Application& a, const ns::Dictionary& options) {
        return d.didFinishLaunchingWithOptions(a, options);
    }
};
template <>
struct DelegateOpTraits<DelegateOp::DidBecomeActive> {
    using Signature = void(Application&);
    static void call(ApplicationDelegate& d, Application& a) { d.applicationDidBecomeActive(a); }
};
template <>
struct DelegateOpTraits<DelegateOp::WillResignActive> {
    using Signature = void(Application&);
    static void call(ApplicationDelegate& d, Application& a) { d.applicationWillResignActive(a); }
};
template <>
struct DelegateOpTraits<DelegateOp::DidEnterBackground> {
    using Signature = void(Application&);
    static void call(ApplicationDelegate& d, Application& a) { d.applicationDidEnterBackground(a); }
};
template <>
struct DelegateOpTraits<DelegateOp::WillEnterForeground> {
    using Signature = void(Application&);
    static void call(ApplicationDelegate& d, Application& a) {
        d.applicationWillEnterForeground(a);
    }
};
template <>
struct DelegateOpTraits<DelegateOp::WillTerminate> {
    using Signature = void(Application&);
    static void call(ApplicationDelegate& d, Application& a) { d.applicationWillTerminate(a); }
};
template <>
struct DelegateOpTraits<DelegateOp::DidReceiveMemoryWarning> {
    using Signature = void(Application&);
    static void call(ApplicationDelegate& d, Application& a) {
        d.applicationDidReceiveMemoryWarning(a);
    }
};
template <>
struct DelegateOpTraits<DelegateOp::OpenURL> {
    using Signature = bool(Application&, const std::optional<ns::URL>&, const ns::Dictionary&);
    static bool call(ApplicationDelegate& d, Application& a, const std::optional<ns::URL>& url,
                     const ns::Dictionary& options) {
        return d.openURL(a, url, options);
    }
};
template <>
struct DelegateOpTraits<DelegateOp::OpenURLWithSourceApplication> {
    using Signature = bool(Application&, const std::optional<ns::URL>&, const std::string&,
                           const ns::Value&);
    static bool call(ApplicationDelegate& d, Application& a, const std::optional<ns::URL>& url,
                     const std::string& sourceApplication, const ns::Value& annotation) {
        return d.openURLWithSourceApplication(a, url, sourceApplication, annotation);
    }
};
template <>
struct DelegateOpTraits<DelegateOp::ContinueUserActivity> {
    using Signature = bool(Application&, const std::shared_ptr<UserActivity>&,
                           const RestorationHandler&);
    static bool call(ApplicationDelegate& d, Application& a,
                     const std::shared_ptr<UserActivity>& activity,
                     const RestorationHandler& handler) {
        return d.continueUserActivity(a, activity, handler);
    }
};
template <>
struct DelegateOpTraits<DelegateOp::DidRegisterForRemoteNotifications> {
    using Signature = void(Application&, const ns::Data&);
    static void call(ApplicationDelegate& d, Application& a, const ns::Data& token) {
        d.didRegisterForRemoteNotificationsWithDeviceToken(a, token);
    }
};
template <>
struct DelegateOpTraits<DelegateOp::DidFailToRegisterForRemoteNotifications> {
    using Signature = void(Application&, const ns::Error&);
    static void call(ApplicationDelegate& d, Application& a, const ns::Error& error) {
        d.didFailToRegisterForRemoteNotificationsWithError(a, error);
    }
};
template <>
struct DelegateOpTraits<DelegateOp::DidReceiveRemoteNotification> {
    using Signature = void(Application&, const ns::Dictionary&);
    static void call(ApplicationDelegate& d, Application& a, const ns::Dictionary& userInfo) {
        d.didReceiveRemoteNotification(a, userInfo);
    }
};
template <>
struct DelegateOpTraits<DelegateOp::DidReceiveRemoteNotificationWithFetch> {
    using Signature = void(Application&, const ns::Dictionary&, const FetchCompletionHandler&);
    static void call(ApplicationDelegate& d, Application& a, const ns::Dictionary& userInfo,
                     const FetchCompletionHandler& handler) {
        d.didReceiveRemoteNotificationWithFetchCompletionHandler(a, userInfo, handler);
    }
};
template <>
struct DelegateOpTraits<DelegateOp::HandleEventsForBackgroundURLSession> {
    using Signature = void(Application&, const std::string&, const CompletionHandler&);
    static void call(ApplicationDelegate& d, Application& a, const std::string& identifier,
                     const CompletionHandler& handler) {
        d.handleEventsForBackgroundURLSession(a, identifier, handler);
    }
};
template <>
struct DelegateOpTraits<DelegateOp::SupportedInterfaceOrientations> {
    using Signature = InterfaceOrientationMask(Application&, const std::shared_ptr<Window>&);
    static InterfaceOrientationMask call(ApplicationDelegate& d, Application& a,
                                         const std::shared_ptr<Window>& window) {
        return d.supportedInterfaceOrientationsForWindow(a, window);
    }
};

}  // namespace ui
