#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/HYBInvokedUrlCommand.h"
#include "platform/dispatch/Mutex.h"
#include "platform/ns/Object.h"
#include "platform/rt/ClassRegistry.h"

namespace ns {
struct Notification;
}  // namespace ns
namespace ui {
class ApplicationDelegate;
}  // namespace ui
namespace net {
class URLRequest;
}  // namespace net
namespace wk {
using URLRequest = net::URLRequest;
class URLSchemeTask;
class WebView;
enum class NavigationType;
}  // namespace wk

class HYBCommandDelegate;
class HYBPluginResult;
class HYBViewController;
class HYBWebViewEngineProtocol;

// Names of the bridge's notifications (the texts are the names).
// The object is the URL, as an ns::Box<ns::URL>.
inline constexpr const char* HYBPluginHandleOpenURLNotification =
    "HYBPluginHandleOpenURLNotification";
// The object is an ns::Box<ns::Dictionary> with "url" (the URL's absolute string) and, when
// known, "sourceApplication" (a string) and "annotation".
inline constexpr const char* HYBPluginHandleOpenURLWithAppSourceAndAnnotationNotification =
    "HYBPluginHandleOpenURLWithAppSourceAndAnnotationNotification";
// The object is the web view that starts a navigation, or that finished loading a page.
inline constexpr const char* HYBPluginResetNotification = "HYBPluginResetNotification";
inline constexpr const char* HYBPageDidLoadNotification = "HYBPageDidLoadNotification";

// Base class of every native service the page can call, and of the web view engine.
//
// A plug-in is made from its class name through the class registry, then given its engine
// with initWithWebViewEngine(), then registered by the view controller: viewController and
// commandDelegate set, pluginInitialize() called once. It lives until the view controller
// goes. All three links into the host are weak.
//
// The page reaches a plug-in only through its action table: a subclass registers each page
// action in its constructor with registerAction("name", &Class::name). Nothing else (the
// hooks, dispose, the setters) can be called from the page.
class HYBPlugin : public ns::Object {
public:
    HYBPlugin();
    ~HYBPlugin() override;
    HYBPlugin(const HYBPlugin&) = delete;
    HYBPlugin& operator=(const HYBPlugin&) = delete;

    // Registers plug-in class P under `name`, made with its default constructor.
    template <class P>
    static void registerPluginClass(rt::ClassRegistry& registry, std::string name) {
        registry.registerClass(std::move(name), "HYBPlugin", [] { return std::make_shared<P>(); });
    }

    // Subscribes to the application and bridge notifications (the reset notification only
    // for the engine's web view as it is now), then keeps the engine. The plug-in must already
    // be held by a shared_ptr.
    void initWithWebViewEngine(const std::shared_ptr<HYBWebViewEngineProtocol>& engine);

    // Called once, after viewController and commandDelegate are set.
    virtual void pluginInitialize() {}
    // Clears viewController and commandDelegate; the engine link stays.
    virtual void dispose();

    // --- Page actions ---------------------------------------------------------------------
    // Whether the page can call `action` (the platform's "answers action:").
    bool respondsToAction(std::string_view action) const;
    // Runs the action with the command; false when the plug-in has no such action.
    bool performAction(std::string_view action, const HYBInvokedUrlCommand& command);
    // The action names, in name order.
    std::vector<std::string> actionNames() const;

    // --- Links ---------------------------------------------------------------------------
    // Safe from any thread: plug-ins read them from background work while the view controller
    // may be clearing them.
    std::shared_ptr<HYBWebViewEngineProtocol> webViewEngine() const;
    void setWebViewEngine(const std::shared_ptr<HYBWebViewEngineProtocol>& engine);
    std::shared_ptr<HYBViewController> viewController() const;
    void setViewController(const std::shared_ptr<HYBViewController>& controller);
    std::shared_ptr<HYBCommandDelegate> commandDelegate() const;
    void setCommandDelegate(const std::shared_ptr<HYBCommandDelegate>& delegate);
    // The engine's web view; null without an engine.
    virtual std::shared_ptr<wk::WebView> webView() const;
    std::shared_ptr<ui::ApplicationDelegate> appDelegate() const;

    bool hasPendingOperation() const { return hasPendingOperation_; }
    void setHasPendingOperation(bool pending) { hasPendingOperation_ = pending; }

    // The run-time class name: the name the plug-in was made under, else the C++ class name.
    std::string className() const;
    void setClassName(std::string name) { className_ = std::move(name); }

    // --- Notification hooks ---------------------------------------------------------------
    // The default accepts only a URL object and does nothing with it.
    virtual void handleOpenURL(const ns::Notification& notification);
    // The default reads "url", "sourceApplication" and "annotation" and does nothing more.
    virtual void handleOpenURLWithApplicationSourceAndAnnotation(
        const ns::Notification& notification);
    virtual void onAppTerminate() {}
    virtual void onMemoryWarning() {}
    virtual void onReset() {}

    // --- Optional operations the host asks for --------------------------------------------
    // A plug-in that overrides one of these also overrides its "answers" query to say so.
    virtual bool answersShouldOverrideLoad() const { return false; }
    // True lets the web view load the request, false cancels the navigation.
    virtual bool shouldOverrideLoadWithRequest(const wk::URLRequest& request,
                                               wk::NavigationType navigationType);
    virtual bool answersOverrideSchemeTask() const { return false; }
    // True: the plug-in now serves the task itself.
    virtual bool overrideSchemeTask(const std::shared_ptr<wk::URLSchemeTask>& task);
    virtual bool answersStopSchemeTask() const { return false; }
    virtual void stopSchemeTask(const std::shared_ptr<wk::URLSchemeTask>& task);

protected:
    // Sends the result to the page's callback while the plug-in still has a command delegate;
    // any thread. Handed over, a result nothing else holds goes without a copy of its text.
    void sendToPage(std::shared_ptr<HYBPluginResult> result,
                    const std::optional<std::string>& callbackId) const;

    template <class P>
    void registerAction(std::string name, void (P::*method)(const HYBInvokedUrlCommand&)) {
        P* self = static_cast<P*>(this);
        actions_.insert_or_assign(
            std::move(name), [self, method](const HYBInvokedUrlCommand& c) { (self->*method)(c); });
    }

private:
    void subscribe();
    void unsubscribe();

    std::map<std::string, std::function<void(const HYBInvokedUrlCommand&)>, std::less<>> actions_;
    mutable dispatch::Mutex linksMutex_;
    std::weak_ptr<HYBWebViewEngineProtocol> engine_ GUARDED_BY(linksMutex_);
    std::weak_ptr<HYBViewController> viewController_ GUARDED_BY(linksMutex_);
    std::weak_ptr<HYBCommandDelegate> commandDelegate_ GUARDED_BY(linksMutex_);
    std::vector<std::shared_ptr<ns::Object>> observers_;
    std::string className_;
    bool hasPendingOperation_ = false;
};
