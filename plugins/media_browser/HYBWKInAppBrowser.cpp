#include "plugins/media_browser/HYBWKInAppBrowser.h"

#include <regex>

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBPluginResult.h"
#include "bridge/HYBViewController.h"
#include "bridge/HYBWebViewEngineProtocol.h"
#include "bridge/NSString+HYBJavaScriptLiteral.h"
#include "platform/dispatch/Queue.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/Log.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ns/StringComponents.h"
#include "platform/ui/Application.h"
#include "platform/ui/PresentationController.h"
#include "platform/ui/StatusBar.h"
#include "platform/wk/WebKitError.h"
#include "platform/wk/WebsiteDataStore.h"
#include "plugins/media_browser/HYBDesktopURLOpener.h"
#include "plugins/media_browser/HYBInAppBrowserNavigationController.h"

namespace {

std::weak_ptr<HYBWKInAppBrowser>& instance() {
    static std::weak_ptr<HYBWKInAppBrowser> latest;
    return latest;
}

// JSON text whose top level is an object or an array.
std::optional<ns::Value> parseContainer(const std::string& text) {
    auto parsed = ns::JSONSerialization::read(text);
    if (!parsed || !(parsed->isArray() || parsed->isDictionary())) return std::nullopt;
    return std::move(parsed).value();
}

std::optional<std::string> textArgument(const HYBInvokedUrlCommand& command, size_t index) {
    const ns::Value value = command.argumentAtIndex(index);
    if (const auto* text = value.string()) return *text;
    return std::nullopt;
}

}  // namespace

HYBWKInAppBrowser::HYBWKInAppBrowser() {
    registerAction("open", &HYBWKInAppBrowser::open);
    registerAction("close", &HYBWKInAppBrowser::close);
    registerAction("show", &HYBWKInAppBrowser::show);
    registerAction("hide", &HYBWKInAppBrowser::hide);
    registerAction("loadAfterBeforeload", &HYBWKInAppBrowser::loadAfterBeforeload);
    registerAction("injectScriptCode", &HYBWKInAppBrowser::injectScriptCode);
    registerAction("injectScriptFile", &HYBWKInAppBrowser::injectScriptFile);
    registerAction("injectStyleCode", &HYBWKInAppBrowser::injectStyleCode);
    registerAction("injectStyleFile", &HYBWKInAppBrowser::injectStyleFile);
}

void HYBWKInAppBrowser::pluginInitialize() {
    instance() = sharedSelf<HYBWKInAppBrowser>();
    previousStatusBarStyle_ = -1;
    beforeload_.clear();
    approvedURL_.reset();
    passedURL_.reset();
}

std::shared_ptr<HYBWKInAppBrowser> HYBWKInAppBrowser::getInstance() {
    return instance().lock();
}

void HYBWKInAppBrowser::onReset() {
    close(HYBInvokedUrlCommand({}, std::nullopt, "", ""));
}

bool HYBWKInAppBrowser::isValidCallbackId(const std::string& callbackId) const {
    static const std::regex pattern("^InAppBrowser[0-9]{1,10}$");
    return std::regex_match(callbackId, pattern);
}

void HYBWKInAppBrowser::sendEvent(unsigned status, ns::Dictionary message, bool keepCallback,
                                  const std::optional<std::string>& callbackId) {
    auto result = HYBPluginResult::resultWithStatusMessageAsDictionary(status, std::move(message));
    result->setKeepCallbackAsBool(keepCallback);
    sendToPage(std::move(result), callbackId);
}

// ---- Opening -----------------------------------------------------------------------------

void HYBWKInAppBrowser::open(const HYBInvokedUrlCommand& command) {
    const auto urlText = textArgument(command, 0);
    std::string target = textArgument(command, 1).value_or("_self");
    const std::string options = textArgument(command, 2).value_or("");
    callbackId_ = command.callbackId();

    std::optional<ns::URL> url;
    if (urlText) {
        auto engine = webViewEngine();
        const auto base = engine ? engine->URL() : std::nullopt;
        url = base ? ns::URL::parse(*urlText, *base) : ns::URL::parse(*urlText);
    }
    if (!url) {
        auto result = HYBPluginResult::resultWithStatusMessageAsString(
            HYBResultStatusError, "incorrect number of arguments");
        result->setKeepCallbackAsBool(true);
        sendToPage(result, callbackId_);
        return;
    }
    if (url->host() == std::string(kAppStoreHost)) target = "_system";

    if (target != "_self" && target != "_system" && !isBrowsable(*url, true)) {
        // Not for the browser: a file is refused, anything else follows the system's rules.
        if (ns::asciiLowercased(url->scheme().value_or("")) == "file") {
            ns::nslog("Refused to load %@ in the in-app browser", url->absoluteString());
            target.clear();
        } else {
            target = "_system";
        }
    }
    if (target.empty()) {
        // Refused: nothing opens.
    } else if (target == "_self") {
        openInHybridWebView(*url);
    } else if (target == "_system") {
        openInSystem(*url);
    } else {
        openInInAppBrowser(*url, options);
    }
    auto result = HYBPluginResult::resultWithStatus(HYBResultStatusOK);
    result->setKeepCallbackAsBool(true);
    sendToPage(result, command.callbackId());
}

void HYBWKInAppBrowser::openInHybridWebView(const ns::URL& url) {
    if (auto engine = webViewEngine()) engine->loadRequest(wk::URLRequest(url));
}

void HYBWKInAppBrowser::openInSystem(const ns::URL& url) {
    if (!HYBDesktopURLOpener::isOpenable(url)) {
        ns::nslog("Refused to open %@ outside the application", url.absoluteString());
        return;
    }
    if (ui::Application::shared().openURL(url)) return;
    ns::NotificationCenter::defaultCenter().post(HYBPluginHandleOpenURLNotification,
                                                 std::make_shared<ns::Box<ns::URL>>(url));
    ui::Application::shared().openURL(url);
}

void HYBWKInAppBrowser::openInInAppBrowser(const ns::URL& url, const std::string& optionText) {
    const auto options = HYBInAppBrowserOptions::parseOptions(optionText);
    auto self = sharedSelf<HYBWKInAppBrowser>();
    auto store = wk::WebsiteDataStore::defaultDataStore();
    // The clearing completes before the page starts to load: the page must not see the
    // cookies that the options asked to drop.
    auto pending = std::make_shared<int>(0);
    auto navigate = [self, url, pending] {
        if (--*pending > 0) return;
        if (self->inAppBrowserViewController_) self->inAppBrowserViewController_->navigateTo(url);
    };
    ++*pending;  // held by this function until everything is set up
    if (options.cleardata) {
        ++*pending;
        std::weak_ptr<HYBWKInAppBrowser> weakSelf = self;
        store->removeDataOfTypes(
            wk::kWebsiteDataAll, ns::Date::fromTimeIntervalSince1970(0), [weakSelf, navigate] {
                ns::nslog("Removed all WKWebView data");
                // The browser's pages run in web processes of their own from now on, with
                // nothing of what the old ones held.
                auto self = weakSelf.lock();
                if (auto browser = self ? self->inAppBrowserViewController_ : nullptr;
                    browser && browser->configuration()) {
                    browser->configuration()->setProcessPool(wk::ProcessPool::create());
                    browser->recreateWebView();
                }
                navigate();
            });
    }
    if (options.clearcache || options.clearsessioncache) {
        ++*pending;
        const bool all = options.clearcache;
        store->httpCookieStore().getAllCookies(
            [store, all, navigate](std::vector<wk::HTTPCookie> cookies) {
                auto left = std::make_shared<size_t>(1);
                auto done = [left, navigate] {
                    if (--*left == 0) navigate();
                };
                for (const auto& cookie : cookies) {
                    if (!all && !cookie.isSessionOnly()) continue;
                    ++*left;
                    store->httpCookieStore().deleteCookie(cookie, done);
                }
                done();
            });
    }

    if (!inAppBrowserViewController_) {
        auto settings = commandDelegate() ? commandDelegate()->settings() : ns::Dictionary();
        auto engine = webViewEngine();
        auto hostWeb = engine ? engine->engineWebView() : nullptr;
        inAppBrowserViewController_ = HYBWKInAppBrowserViewController::initWithBrowserOptions(
            options, settings, hostWeb ? hostWeb->configuration() : nullptr);
        inAppBrowserViewController_->setNavigationDelegate(self);
        if (auto host = viewController()) inAppBrowserViewController_->setOrientationDelegate(host);
    }
    auto& browser = *inAppBrowserViewController_;
    browser.showLocationBar(options.location);
    browser.showToolBar(options.toolbar, options.toolbarposition);
    if (options.closebuttoncaption || options.closebuttoncolor) {
        const size_t index = !options.lefttoright ? 0 : options.hidenavigationbuttons ? 1 : 4;
        browser.setCloseButtonTitle(options.closebuttoncaption, options.closebuttoncolor, index);
    }
    const std::string presentation = ns::asciiLowercased(options.presentationstyle.value_or(""));
    browser.setModalPresentationStyle(
        presentation == "pagesheet"   ? ui::ModalPresentationStyle::PageSheet
        : presentation == "formsheet" ? ui::ModalPresentationStyle::FormSheet
                                      : ui::ModalPresentationStyle::FullScreen);
    const std::string transition = ns::asciiLowercased(options.transitionstyle.value_or(""));
    browser.setModalTransitionStyle(
        transition == "fliphorizontal"  ? ui::ModalTransitionStyle::FlipHorizontal
        : transition == "crossdissolve" ? ui::ModalTransitionStyle::CrossDissolve
                                        : ui::ModalTransitionStyle::CoverVertical);
    if (options.disallowoverscroll) browser.webView()->scrollView()->setBounces(false);

    beforeload_ = options.beforeload;
    approvedURL_.reset();
    passedURL_.reset();
    navigate();
    if (!options.hidden) showBrowser(false);
}

// ---- Showing, hiding, closing -----------------------------------------------------------

void HYBWKInAppBrowser::show(const HYBInvokedUrlCommand&) {
    showBrowser(false);
}

void HYBWKInAppBrowser::showBrowser(bool noAnimate) {
    if (!inAppBrowserViewController_) {
        ns::nslog("Tried to show IAB after it was closed.");
        return;
    }
    if (previousStatusBarStyle_ != -1) {
        ns::nslog("Tried to show IAB while already shown");
        return;
    }
    previousStatusBarStyle_ = static_cast<int64_t>(ui::StatusBar::shared().style());
    auto browser = inAppBrowserViewController_;
    auto navigation = HYBInAppBrowserNavigationController::create(browser);
    navigation->setOrientationDelegate(browser);
    navigation->setNavigationBarHidden(true);
    navigation->setModalPresentationStyle(browser->modalPresentationStyle());
    navigation->presentationController().setDelegate(browser);
    std::weak_ptr<HYBWKInAppBrowser> weakSelf = sharedSelf<HYBWKInAppBrowser>();
    dispatch::Queue::main().async([weakSelf, navigation, noAnimate] {
        auto self = weakSelf.lock();
        if (!self || !self->inAppBrowserViewController_) return;
        if (!self->tmpWindow_) self->tmpWindow_ = ui::Window::create();
        self->tmpWindow_->setRootViewController(ui::ViewController::create());
        self->tmpWindow_->setWindowLevel(0);
        self->tmpWindow_->makeKeyAndVisible();
        self->tmpWindow_->rootViewController()->presentViewController(navigation, !noAnimate);
    });
}

void HYBWKInAppBrowser::hide(const HYBInvokedUrlCommand&) {
    if (tmpWindow_) tmpWindow_->setHidden(true);
    // The window goes only once the browser is off it, so that it can be dismissed.
    auto window = std::move(tmpWindow_);
    if (!inAppBrowserViewController_) {
        ns::nslog("Tried to hide IAB after it was closed.");
        return;
    }
    if (previousStatusBarStyle_ == -1) {
        ns::nslog("Tried to hide IAB while already hidden");
        return;
    }
    previousStatusBarStyle_ = static_cast<int64_t>(ui::StatusBar::shared().style());
    std::weak_ptr<HYBWKInAppBrowser> weakSelf = sharedSelf<HYBWKInAppBrowser>();
    dispatch::Queue::main().async([weakSelf, window] {
        auto self = weakSelf.lock();
        if (!self || !self->inAppBrowserViewController_) return;
        self->previousStatusBarStyle_ = -1;
        if (window && window->rootViewController()) {
            window->rootViewController()->dismissViewController(true);
        }
    });
}

void HYBWKInAppBrowser::close(const HYBInvokedUrlCommand&) {
    if (!inAppBrowserViewController_) {
        ns::nslog("IAB.close() called but it was already closed.");
        return;
    }
    inAppBrowserViewController_->close();
}

void HYBWKInAppBrowser::browserExit() {
    auto browser = std::move(inAppBrowserViewController_);
    if (!browser) return;
    if (callbackId_) {
        sendEvent(HYBResultStatusOK, {{"type", "exit"}}, false, callbackId_);
        callbackId_.reset();
    }
    pendingInjections_.clear();
    if (auto configuration = browser->configuration()) {
        configuration->userContentController()->removeScriptMessageHandler(
            HYBWKInAppBrowserViewController::kMessageHandlerName);
    }
    browser->setConfiguration(nullptr);
    if (auto web = browser->webView()) {
        web->stopLoading();
        web->removeFromSuperview();
        web->setUIDelegate({});
        web->setNavigationDelegate({});
    }
    browser->setWebView(nullptr);
    browser->setNavigationDelegate({});
    if (tmpWindow_) tmpWindow_->setHidden(true);
    tmpWindow_.reset();
    if (previousStatusBarStyle_ != -1) {
        ui::StatusBar::shared().setStyle(
            static_cast<ui::StatusBar::Style>(previousStatusBarStyle_));
    }
    previousStatusBarStyle_ = -1;
}

// ---- Navigation --------------------------------------------------------------------------

void HYBWKInAppBrowser::loadAfterBeforeload(const HYBInvokedUrlCommand& command) {
    if (beforeload_.empty()) {
        ns::nslog("unexpected loadAfterBeforeload called without feature beforeload=get|post");
    }
    if (!inAppBrowserViewController_) {
        ns::nslog("Tried to invoke loadAfterBeforeload on IAB after it was closed.");
        return;
    }
    const auto text = textArgument(command, 0);
    const auto url = text ? ns::URL::parse(*text) : std::nullopt;
    if (!url) {
        ns::nslog("loadAfterBeforeload called with nil argument, ignoring.");
        return;
    }
    if (!isBrowsable(*url, true)) {
        ns::nslog("Refused to load %@ in the in-app browser", url->absoluteString());
        return;
    }
    approvedURL_ = url;
    inAppBrowserViewController_->navigateTo(*url);
}

bool HYBWKInAppBrowser::isBrowsable(const ns::URL& url, bool topLevel) const {
    const std::string scheme = ns::asciiLowercased(url.scheme().value_or(""));
    if (scheme == "http" || scheme == "https") return true;
    if (!topLevel && (scheme == "about" || scheme == "data" || scheme == "blob")) return true;
    if (topLevel && url.absoluteString() == "about:blank") return true;
    // The application's scheme, whose handler the browser borrows from the host (which
    // answers only pages of the application's own origin).
    auto host = webView();
    auto configuration = host ? host->configuration() : nullptr;
    return configuration && !scheme.empty() && configuration->urlSchemeHandler(scheme);
}

void HYBWKInAppBrowser::decidePolicyForNavigationResponse(
    const std::shared_ptr<wk::WebView>&, const wk::NavigationResponse& response,
    std::function<void(wk::NavigationResponsePolicy)> decisionHandler) {
    // A page that came into the main frame without passing the gate (a script's navigation,
    // a meta refresh, a redirect of the approved URL, which WebKit does not tell from a
    // frame's load when it asks) is held here, before it shows, and offered to the page.
    const ns::URL& url = response.request.url();
    const bool gated = response.isForMainFrame && beforeload_ != "post" &&
                       (beforeload_ == "yes" ||
                        (beforeload_ == "get" && response.request.HTTPMethod() == "GET")) &&
                       ns::asciiLowercased(url.scheme().value_or("")) != "about";
    if (!gated || passedURL_ == url) {
        passedURL_.reset();
        decisionHandler(wk::NavigationResponsePolicy::Allow);
        return;
    }
    passedURL_.reset();
    sendEvent(HYBResultStatusOK, {{"type", "beforeload"}, {"url", url.absoluteString()}}, true,
              callbackId_);
    decisionHandler(wk::NavigationResponsePolicy::Cancel);
}

void HYBWKInAppBrowser::decidePolicyForNavigationAction(
    const std::shared_ptr<wk::WebView>& webView, const wk::NavigationAction& action,
    std::function<void(wk::NavigationActionPolicy)> decisionHandler) {
    const ns::URL& url = action.request.url();
    const bool topLevel = action.request.mainDocumentURL() == url;
    bool gated = false;
    if (beforeload_ == "post") {
        ns::nslog("beforeload doesn't yet support POST requests");
        sendEvent(HYBResultStatusError,
                  {{"type", "loaderror"},
                   {"url", url.absoluteString()},
                   {"code", "-1"},
                   {"message", "beforeload doesn't yet support POST requests"}},
                  true, callbackId_);
    } else {
        gated = topLevel && (beforeload_ == "yes" ||
                             (beforeload_ == "get" && action.request.HTTPMethod() == "GET"));
        if (gated && approvedURL_ != url) {
            sendEvent(HYBResultStatusOK, {{"type", "beforeload"}, {"url", url.absoluteString()}},
                      true, callbackId_);
            decisionHandler(wk::NavigationActionPolicy::Cancel);
            return;
        }
    }
    const std::string scheme = ns::asciiLowercased(url.scheme().value_or(""));
    if (scheme == "itms-appss" || scheme == "itms-apps") {
        webView->stopLoading();
        openInSystem(url);
        decisionHandler(wk::NavigationActionPolicy::Cancel);
        return;
    }
    // The browser is no file viewer: a file URL (in any frame) is refused, and other schemes
    // go to the system opener's rules.
    if (!isBrowsable(url, topLevel && action.targetFrame)) {
        if (scheme == "file") {
            ns::nslog("Refused to load %@ in the in-app browser", url.absoluteString());
        } else {
            openInSystem(url);
        }
        decisionHandler(wk::NavigationActionPolicy::Cancel);
        return;
    }
    if (callbackId_ && topLevel) {
        sendEvent(HYBResultStatusOK, {{"type", "loadstart"}, {"url", url.absoluteString()}}, true,
                  callbackId_);
    }
    // The approval is spent: the next gated navigation is held again. Its page must be the
    // one approved.
    if (gated) {
        approvedURL_.reset();
        passedURL_ = url;
    }
    if (action.targetFrame) {
        decisionHandler(wk::NavigationActionPolicy::Allow);
    } else {
        // A new window opens in this browser's own view.
        webView->loadRequest(action.request);
        decisionHandler(wk::NavigationActionPolicy::Cancel);
    }
}

void HYBWKInAppBrowser::didStartProvisionalNavigation(const std::shared_ptr<wk::WebView>&) {
    ns::Log::write(ns::LogLevel::Default, HYBWKInAppBrowserViewController::kLogSubsystem, "",
                   "didStartProvisionalNavigation");
}

std::string HYBWKInAppBrowser::eventURL(const std::shared_ptr<wk::WebView>& webView) const {
    if (auto url = webView ? webView->URL() : std::nullopt) return url->absoluteString();
    if (inAppBrowserViewController_ && inAppBrowserViewController_->currentURL()) {
        return inAppBrowserViewController_->currentURL()->absoluteString();
    }
    return "";
}

void HYBWKInAppBrowser::didFinishNavigation(const std::shared_ptr<wk::WebView>& webView) {
    if (!callbackId_) return;
    sendEvent(HYBResultStatusOK, {{"type", "loadstop"}, {"url", eventURL(webView)}}, true,
              callbackId_);
}

void HYBWKInAppBrowser::didFailNavigation(const std::shared_ptr<wk::WebView>& webView,
                                          const ns::Error& error) {
    if (!callbackId_) return;
    // The address the load failed at, as the page being loaded would name it: a redirect
    // refused on its way names where it led, not the page it left.
    const auto failedAt = error.userInfo().find(wk::kURLErrorFailingURLStringErrorKey);
    const bool named = failedAt != error.userInfo().end() && failedAt->second.string() &&
                       !failedAt->second.string()->empty();
    sendEvent(HYBResultStatusError,
              {{"type", "loaderror"},
               {"url", named ? *failedAt->second.string() : eventURL(webView)},
               {"code", error.code()},
               {"message", error.localizedDescription()}},
              true, callbackId_);
}

// ---- Messages and injection ---------------------------------------------------------------

void HYBWKInAppBrowser::didReceiveScriptMessage(const wk::ScriptMessage& message) {
    if (const auto* body = message.body.dictionary()) {
        const ns::Value* id = message.body.find("id");
        const std::string* callback = id ? id->string() : nullptr;
        // A remote page must never reach a callback of the main page: only an inject call
        // that is waiting for its answer can be answered, and only once.
        if (!callback || !isValidCallbackId(*callback) || !pendingInjections_.erase(*callback)) {
            ns::nslog("Dropped a message from the in-app browser for an unknown callback id");
            return;
        }
        std::shared_ptr<HYBPluginResult> result;
        if (const ns::Value* d = message.body.find("d")) {
            const auto parsed = d->string() ? parseContainer(*d->string()) : std::nullopt;
            result = parsed && parsed->isArray()
                         ? HYBPluginResult::resultWithStatusMessageAsArray(HYBResultStatusOK,
                                                                           *parsed->array())
                         : HYBPluginResult::resultWithStatus(HYBResultStatusJSONError);
        } else {
            result = HYBPluginResult::resultWithStatusMessageAsArray(HYBResultStatusOK, {});
        }
        (void)body;
        sendToPage(result, *callback);
        return;
    }
    const std::string* text = message.body.string();
    if (!text || !callbackId_) return;
    if (auto data = parseContainer(*text)) {
        sendEvent(HYBResultStatusOK, {{"type", "message"}, {"data", std::move(*data)}}, true,
                  callbackId_);
    }
}

void HYBWKInAppBrowser::injectScriptCode(const HYBInvokedUrlCommand& command) {
    inject(command, "code");
}
void HYBWKInAppBrowser::injectScriptFile(const HYBInvokedUrlCommand& command) {
    inject(command, "script");
}
void HYBWKInAppBrowser::injectStyleCode(const HYBInvokedUrlCommand& command) {
    inject(command, "style");
}
void HYBWKInAppBrowser::injectStyleFile(const HYBInvokedUrlCommand& command) {
    inject(command, "link");
}

void HYBWKInAppBrowser::inject(const HYBInvokedUrlCommand& command, const std::string& element) {
    const auto source = textArgument(command, 0);
    if (!source || !inAppBrowserViewController_) return;
    const auto& id = command.callbackId();
    const bool wantsResult = id && *id != "INVALID";
    // The id goes in as a JSON literal too: it comes from the page and may hold anything.
    const std::string answer = wantsResult ? "c.onload = function() { _hybMessageHandler(" +
                                                 hyb_JavaScriptStringLiteral(*id) + "); }; "
                                           : "";
    if (wantsResult) pendingInjections_.insert(*id);
    if (element == "code") {
        if (!wantsResult) return injectDeferredObject(*source, "", "");
        return injectDeferredObject(
            *source,
            "_hybMessageHandler(" + hyb_JavaScriptStringLiteral(*id) + ",JSON.stringify([eval(",
            ")]));");
    }
    std::string head = "(function(d) { var c = d.createElement('" + element + "'); ";
    if (element == "script") head += "c.src = ";
    if (element == "style") head += "c.innerHTML = ";
    if (element == "link") head += "c.rel='stylesheet'; c.type='text/css'; c.href = ";
    injectDeferredObject(*source, head, "; " + answer + "d.body.appendChild(c); })(document)");
}

void HYBWKInAppBrowser::injectDeferredObject(const std::string& source,
                                             const std::string& wrapperHead,
                                             const std::string& wrapperTail) {
    evaluateJavaScript(
        "(function(w){if(!w._hybMessageHandler) {w._hybMessageHandler = function(id,d){"
        "w.webkit.messageHandlers.hybrid_iab.postMessage({d:d, id:id});}}})(window)");
    if (wrapperHead.empty() && wrapperTail.empty()) {
        evaluateJavaScript(source);
    } else {
        evaluateJavaScript(wrapperHead + hyb_JavaScriptStringLiteral(source) + wrapperTail);
    }
}

void HYBWKInAppBrowser::evaluateJavaScript(const std::string& script) {
    if (!inAppBrowserViewController_ || !inAppBrowserViewController_->webView()) return;
    inAppBrowserViewController_->webView()->evaluateJavaScript(
        script, [script](const ns::Value& result, const std::optional<ns::Error>& error) {
            if (error) {
                ns::nslog("evaluateJavaScript error : %@ : %@", error->localizedDescription(),
                          script);
            } else if (!result.isNull()) {
                // The value of a script run in the browser's page.
                ns::Log::write(ns::LogLevel::Default,
                               HYBWKInAppBrowserViewController::kLogSubsystem, "evaluateJavaScript",
                               result.description());
            }
        });
}
