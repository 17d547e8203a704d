#include "sdk/analytics/NEBAAppDelegateProxy.h"

#include <array>
#include <atomic>

#include "platform/ns/Format.h"
#include "platform/ns/Log.h"
#include "platform/ui/Application.h"
#include "sdk/analytics/NEBAMeasurement.h"
#include "sdk/analytics/NEBAMonitor.h"
#include "sdk/core/NEBNetwork.h"

namespace {

using ui::DelegateOp;

constexpr const char* kManualHint =
    "To log deep link campaigns manually, call the methods in NEBAnalytics+AppDelegate.";

// Says once that the delegate lacks an operation the proxy stands in for.
void missingImplementation(const ui::Application& app, std::atomic<bool>& said,
                           const char* selector) {
    if (said.exchange(true)) return;
    const auto* type = app.delegateClass();
    std::string className = type ? type->name() : std::string("(unregistered class)");
    NEBAMonitor::log(NEBALogLevel::WarningNotSampled,
                     ns::format("Implementation of %s not found. Please add the handler into "
                                "your App Delegate. Class",
                                selector),
                     {ns::Value(className)});
}

void installHooks(ui::Application& application,
                  const NEBAAppDelegateProxy::OpenedURLHandler& openedURL) {
    // Each missing operation is reported once for the application.
    auto said = std::make_shared<std::array<std::atomic<bool>, 3>>();
    application.installHook<DelegateOp::OpenURL>(
        NEBAAppDelegateProxy::kHookOwner,
        [openedURL](ui::Application& app, const std::optional<ns::URL>& url,
                    const ns::Dictionary& options, const auto& next) {
            if (url) openedURL(*url);
            return next(app, url, options);
        });
    application.installHook<DelegateOp::OpenURLWithSourceApplication>(
        NEBAAppDelegateProxy::kHookOwner,
        [said, openedURL](ui::Application& app, const std::optional<ns::URL>& url,
                          const std::string& source, const ns::Value& annotation,
                          const auto& next) {
            if (url) openedURL(*url);
            if (app.delegateImplements(DelegateOp::OpenURLWithSourceApplication))
                return next(app, url, source, annotation);
            missingImplementation(app, (*said)[0],
                                  "application:openURL:sourceApplication:annotation:");
            return true;
        });
    application.installHook<DelegateOp::ContinueUserActivity>(
        NEBAAppDelegateProxy::kHookOwner,
        [said, openedURL](ui::Application& app, const std::shared_ptr<ui::UserActivity>& activity,
                          const ui::RestorationHandler& restoration, const auto& next) {
            auto link = NEBAMeasurement::deepLinkFromUserActivity(activity);
            if (link && !link->absoluteString().empty()) openedURL(*link);
            if (app.delegateImplements(DelegateOp::ContinueUserActivity))
                return next(app, activity, restoration);
            missingImplementation(app, (*said)[1],
                                  "application:continueUserActivity:restorationHandler:");
            return true;
        });
    application.installHook<DelegateOp::HandleEventsForBackgroundURLSession>(
        NEBAAppDelegateProxy::kHookOwner,
        [said](ui::Application& app, const std::string& identifier,
               const ui::CompletionHandler& completion, const auto& next) {
            NEBNetwork::handleEventsForBackgroundURLSessionID(identifier, completion);
            if (app.delegateImplements(DelegateOp::HandleEventsForBackgroundURLSession))
                return next(app, identifier, completion);
            missingImplementation(
                app, (*said)[2],
                "application:handleEventsForBackgroundURLSession:completionHandler:");
        });
}

}  // namespace

bool NEBAAppDelegateProxy::isAppDelegateProxyEnabled() {
    return ui::Application::shared().delegateProxyEnabled();
}

void NEBAAppDelegateProxy::load() {
    if (isAppDelegateProxyEnabled()) return;
    ns::nslog(
        "WARNING: Nebula Analytics App Delegate Proxy is disabled. To log deep link campaigns "
        "manually, call the methods in NEBAnalytics+AppDelegate.");
}

void NEBAAppDelegateProxy::proxyOriginalDelegate(
    const std::shared_ptr<ui::ApplicationDelegate>& delegate, OpenedURLHandler openedURL) {
    if (!isAppDelegateProxyEnabled()) {
        NEBAMonitor::info(std::string("Nebula Analytics App Delegate Proxy is disabled. ") +
                          kManualHint);
        return;
    }
    if (!delegate) {
        NEBAMonitor::error(std::string("Cannot create Nebula Analytics because App Delegate "
                                       "instance is nil. ") +
                           kManualHint);
        return;
    }
    auto& application = ui::Application::shared();
    if (application.isHookInstalled(DelegateOp::OpenURL, kHookOwner)) return;
    installHooks(application, openedURL);
    NEBAMonitor::info(
        ns::format("Successfully created Nebula Analytics App Delegate Proxy "
                   "automatically. To disable the proxy, set the flag %@ to NO in "
                   "the Info.plist",
                   std::string(ui::kAppDelegateProxyEnabledKey)));
}
