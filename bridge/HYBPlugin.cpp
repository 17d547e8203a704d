#include "bridge/HYBPlugin.h"

#include <cxxabi.h>

#include <cstdlib>
#include <typeinfo>

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBWebViewEngineProtocol.h"
#include "platform/ns/Notification.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ns/URL.h"
#include "platform/ui/Application.h"
#include "platform/wk/URLSchemeTask.h"
#include "platform/wk/WebView.h"

namespace {

std::string demangledName(const std::type_info& type) {
    int status = 0;
    char* name = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    std::string result = status == 0 && name ? name : type.name();
    std::free(name);
    return result;
}

}  // namespace

HYBPlugin::HYBPlugin() = default;

HYBPlugin::~HYBPlugin() {
    ns::NotificationCenter::defaultCenter().removeObserver(this);
}

void HYBPlugin::initWithWebViewEngine(const std::shared_ptr<HYBWebViewEngineProtocol>& engine) {
    setWebViewEngine(engine);
    subscribe();
}

std::shared_ptr<HYBWebViewEngineProtocol> HYBPlugin::webViewEngine() const {
    dispatch::Lock lock(linksMutex_);
    return engine_.lock();
}

void HYBPlugin::setWebViewEngine(const std::shared_ptr<HYBWebViewEngineProtocol>& engine) {
    dispatch::Lock lock(linksMutex_);
    engine_ = engine;
}

std::shared_ptr<HYBViewController> HYBPlugin::viewController() const {
    dispatch::Lock lock(linksMutex_);
    return viewController_.lock();
}

void HYBPlugin::setViewController(const std::shared_ptr<HYBViewController>& controller) {
    dispatch::Lock lock(linksMutex_);
    viewController_ = controller;
}

std::shared_ptr<HYBCommandDelegate> HYBPlugin::commandDelegate() const {
    dispatch::Lock lock(linksMutex_);
    return commandDelegate_.lock();
}

void HYBPlugin::sendToPage(std::shared_ptr<HYBPluginResult> result,
                           const std::optional<std::string>& callbackId) const {
    if (auto delegate = commandDelegate())
        delegate->sendPluginResult(std::move(result), callbackId);
}

void HYBPlugin::setCommandDelegate(const std::shared_ptr<HYBCommandDelegate>& delegate) {
    dispatch::Lock lock(linksMutex_);
    commandDelegate_ = delegate;
}

void HYBPlugin::subscribe() {
    auto& center = ns::NotificationCenter::defaultCenter();
    auto weak = weakSelf<HYBPlugin>();
    auto forward = [weak](void (HYBPlugin::*hook)(const ns::Notification&)) {
        return [weak, hook](const ns::Notification& notification) {
            if (auto self = weak.lock()) ((*self).*hook)(notification);
        };
    };
    auto forwardPlain = [weak](void (HYBPlugin::*hook)()) {
        return [weak, hook](const ns::Notification&) {
            if (auto self = weak.lock()) ((*self).*hook)();
        };
    };
    center.addObserver(this, ui::kApplicationWillTerminateNotification, nullptr,
                       forwardPlain(&HYBPlugin::onAppTerminate));
    center.addObserver(this, ui::kApplicationDidReceiveMemoryWarningNotification, nullptr,
                       forwardPlain(&HYBPlugin::onMemoryWarning));
    center.addObserver(this, HYBPluginHandleOpenURLNotification, nullptr,
                       forward(&HYBPlugin::handleOpenURL));
    center.addObserver(this, HYBPluginHandleOpenURLWithAppSourceAndAnnotationNotification, nullptr,
                       forward(&HYBPlugin::handleOpenURLWithApplicationSourceAndAnnotation));
    // Only the resets of this plug-in's own web view (as it is now) reach it.
    auto engine = webViewEngine();
    std::shared_ptr<ns::Object> webView = engine ? engine->engineWebView() : nullptr;
    center.addObserver(this, HYBPluginResetNotification, webView,
                       forwardPlain(&HYBPlugin::onReset));
}

void HYBPlugin::dispose() {
    dispatch::Lock lock(linksMutex_);
    viewController_.reset();
    commandDelegate_.reset();
}

bool HYBPlugin::respondsToAction(std::string_view action) const {
    return actions_.find(action) != actions_.end();
}

bool HYBPlugin::performAction(std::string_view action, const HYBInvokedUrlCommand& command) {
    auto it = actions_.find(action);
    if (it == actions_.end()) return false;
    // A copy: the action may replace the table entry that is running.
    auto run = it->second;
    run(command);
    return true;
}

std::vector<std::string> HYBPlugin::actionNames() const {
    std::vector<std::string> names;
    names.reserve(actions_.size());
    for (const auto& [name, action] : actions_) names.push_back(name);
    return names;
}

std::shared_ptr<wk::WebView> HYBPlugin::webView() const {
    auto engine = webViewEngine();
    return engine ? engine->engineWebView() : nullptr;
}

std::shared_ptr<ui::ApplicationDelegate> HYBPlugin::appDelegate() const {
    return ui::Application::shared().delegate();
}

std::string HYBPlugin::className() const {
    return className_.empty() ? demangledName(typeid(*this)) : className_;
}

// Opening a URL is a subclass's business; the base class does nothing with it.
void HYBPlugin::handleOpenURL(const ns::Notification&) {}

void HYBPlugin::handleOpenURLWithApplicationSourceAndAnnotation(const ns::Notification&) {}

bool HYBPlugin::shouldOverrideLoadWithRequest(const wk::URLRequest&, wk::NavigationType) {
    return true;
}

bool HYBPlugin::overrideSchemeTask(const std::shared_ptr<wk::URLSchemeTask>&) {
    return false;
}

void HYBPlugin::stopSchemeTask(const std::shared_ptr<wk::URLSchemeTask>&) {}
