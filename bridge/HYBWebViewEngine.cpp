#include "bridge/HYBWebViewEngine.h"

#include <algorithm>
#include <cctype>

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBCommandQueue.h"
#include "bridge/HYBPluginResult.h"
#include "bridge/HYBURLSchemeHandler.h"
#include "bridge/HYBViewController.h"
#include "bridge/HYBWebViewProcessPoolFactory.h"
#include "bridge/HYBWebViewUIDelegate.h"
#include "bridge/HYBWebViewWeakScriptMessageHandler.h"
#include "bridge/NSDictionary+HybridPreferences.h"
#include "bridge/NSString+HYBJavaScriptLiteral.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/CharacterSet.h"
#include "platform/ns/Exception.h"
#include "platform/ns/Format.h"
#include "platform/ns/Log.h"
#include "platform/ns/Notification.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ns/PercentEncoding.h"
#include "platform/ui/Application.h"
#include "platform/ui/ScrollView.h"
#include "platform/wk/UserContentController.h"
#include "platform/wk/WebKitError.h"
#include "platform/wk/WebView.h"
#include "platform/wk/WebViewConfiguration.h"

namespace {

constexpr const char* kDefaultScheme = "app";
constexpr const char* kDefaultHostname = "localhost";

// A scheme as RFC 3986 writes one: a letter, then letters, digits, "+", "-" and ".".
bool isValidScheme(std::string_view scheme) {
    if (scheme.empty() || !std::isalpha(static_cast<unsigned char>(scheme[0]))) return false;
    return std::all_of(scheme.begin(), scheme.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
    });
}

unsigned mediaTypesFromSetting(const ns::Dictionary& settings) {
    const auto value =
        hybridStringSettingForKey(settings, "MediaTypesRequiringUserActionForPlayback");
    if (value == "none") return wk::kAudiovisualMediaTypeNone;
    if (value == "audio") return wk::kAudiovisualMediaTypeAudio;
    if (value == "video") return wk::kAudiovisualMediaTypeVideo;
    if (value == "all") return wk::kAudiovisualMediaTypeAll;
    ns::nslog(
        "Invalid \"MediaTypesRequiringUserActionForPlayback\" was detected. Fallback to default "
        "value of \"all\" types.");
    return wk::kAudiovisualMediaTypeAll;
}

bool isCancellation(const ns::Error& error) {
    return error.domain() == wk::kURLErrorDomain && error.code() == wk::kURLErrorCancelled;
}

}  // namespace

HYBWebViewEngine::HYBWebViewEngine() {
    registerAction("allowsBackForwardNavigationGestures",
                   &HYBWebViewEngine::allowsBackForwardNavigationGestures);
}

HYBWebViewEngine::~HYBWebViewEngine() {
    if (observingForeground_) ns::NotificationCenter::defaultCenter().removeObserver(this);
}

std::shared_ptr<HYBWebViewEngine> HYBWebViewEngine::sharedEngine() {
    return sharedSelf<HYBWebViewEngine>();
}

void HYBWebViewEngine::initWithFrame(const ui::Rect& frame) {
    engineWebView_ = wk::WebView::create(frame, wk::WebViewConfiguration::create());
}

// --- Building the web view ----------------------------------------------------------------

void HYBWebViewEngine::chooseScheme(const ns::Dictionary& settings) {
    auto scheme = hybridStringSettingForKey(settings, "scheme");
    if (!scheme || *scheme == "file") {
        isFileScheme_ = true;
        return;
    }
    if (wk::WebView::handlesURLScheme(*scheme)) {
        scheme = kDefaultScheme;
    } else if (!isValidScheme(*scheme)) {
        ns::nslog("Invalid \"scheme\" preference \"%@\"; using \"%@\".", *scheme, kDefaultScheme);
        scheme = kDefaultScheme;
    }
    std::string hostname =
        hybridStringSettingForKey(settings, "hostname").value_or(kDefaultHostname);
    const std::string assets = ns::format("%@://%@", *scheme, hostname);
    const auto parsed = ns::URL::parse(assets);
    if (!parsed || parsed->host() != hostname || !parsed->path().empty()) {
        ns::nslog("Invalid \"hostname\" preference \"%@\"; using \"%@\".", hostname,
                  kDefaultHostname);
        hostname = kDefaultHostname;
    }
    isFileScheme_ = false;
    appScheme_ = *scheme;
    assetsURL_ = ns::format("%@://%@", *scheme, hostname);
    if (auto controller = viewController()) controller->setAppScheme(appScheme_);
}

void HYBWebViewEngine::pluginInitialize() {
    auto delegate = commandDelegate();
    const ns::Dictionary settings = delegate ? delegate->settings() : ns::Dictionary{};
    auto controller = viewController();

    chooseScheme(settings);

    // A copy: the bundle may be replaced while the value is in use.
    const ns::Value displayName =
        ns::Bundle::mainBundle()->objectForInfoDictionaryKey("CFBundleDisplayName");
    auto uiDelegate = std::make_shared<HYBWebViewUIDelegate>(
        displayName.isString() ? std::optional<std::string>(*displayName.string()) : std::nullopt);
    uiDelegate->setAllowNewWindows(hybridBoolSettingForKey(settings, "AllowNewWindows", false));
    uiDelegate_ = uiDelegate;

    auto contentController = wk::UserContentController::create();
    weakMessageHandler_ = std::make_shared<HYBWebViewWeakScriptMessageHandler>(
        std::static_pointer_cast<wk::ScriptMessageHandler>(sharedEngine()));
    contentController->addScriptMessageHandler(weakMessageHandler_, kHYBScriptMessageHandlerName);
    if (assetsURL_) {
        contentController->addUserScript(
            {"window.HYB_ASSETS_URL = " + hyb_JavaScriptStringLiteral(*assetsURL_) + ";",
             wk::UserScript::InjectionTime::AtDocumentStart, true});
    }

    auto configuration = createConfigurationFromSettings(&settings);
    configuration->setUserContentController(contentController);
    if (!isFileScheme_ && controller) {
        schemeHandler_ = std::make_shared<HYBURLSchemeHandler>(controller);
        try {
            configuration->setURLSchemeHandler(schemeHandler_, *appScheme_);
        } catch (const ns::Exception& e) {
            ns::nslog("Cannot serve the \"%@\" scheme: %@", *appScheme_, e.reason());
        }
    }

    const ui::Rect frame = engineWebView_ ? engineWebView_->frame() : ui::Rect{};
    engineWebView_ = wk::WebView::create(frame, configuration);
    engineWebView_->setUIDelegate(uiDelegate_);
    if (auto userAgent = hybridStringSettingForKey(settings, "OverrideUserAgent")) {
        engineWebView_->setCustomUserAgent(*userAgent);
    }

    // A view controller that handles the web view's panels or navigations itself takes over.
    if (auto controllerUI = std::dynamic_pointer_cast<wk::UIDelegate>(controller)) {
        engineWebView_->setUIDelegate(controllerUI);
    }
    if (auto controllerNav = std::dynamic_pointer_cast<wk::NavigationDelegate>(controller)) {
        engineWebView_->setNavigationDelegate(controllerNav);
    } else {
        engineWebView_->setNavigationDelegate(
            std::static_pointer_cast<wk::NavigationDelegate>(sharedEngine()));
    }

    updateSettings(settings);

    ns::nslog("HYBWebViewEngine will reload WKWebView if required on resume");
    if (!observingForeground_) {
        observingForeground_ = true;
        ns::NotificationCenter::defaultCenter().addObserver(
            this, ui::kApplicationWillEnterForegroundNotification, nullptr,
            [this](const ns::Notification&) { onAppWillEnterForeground(); });
    }
    ns::nslog("Using WKWebView");
}

std::shared_ptr<wk::WebViewConfiguration> HYBWebViewEngine::createConfigurationFromSettings(
    const ns::Dictionary* settings) const {
    auto configuration = wk::WebViewConfiguration::create();
    configuration->setProcessPool(
        HYBWebViewProcessPoolFactory::sharedFactory().sharedProcessPool());
    if (!settings) return configuration;

    configuration->setAllowsInlineMediaPlayback(
        hybridBoolSettingForKey(*settings, "AllowInlineMediaPlayback", false));
    configuration->setMediaTypesRequiringUserActionForPlayback(mediaTypesFromSetting(*settings));
    configuration->setSuppressesIncrementalRendering(
        hybridBoolSettingForKey(*settings, "SuppressesIncrementalRendering", false));

    bool airPlay = hybridBoolSettingForKey(*settings, "MediaPlaybackAllowsAirPlay", true);
    if (hybridSettingForKey(*settings, "AllowsAirPlayForMediaPlayback")) {
        airPlay = hybridBoolSettingForKey(*settings, "AllowsAirPlayForMediaPlayback", true);
    }
    configuration->setAllowsAirPlayForMediaPlayback(airPlay);

    if (!hybridSettingForKey(*settings, "OverrideUserAgent")) {
        if (auto append = hybridStringSettingForKey(*settings, "AppendUserAgent")) {
            configuration->setApplicationNameForUserAgent(ns::format(
                "%@ %@", configuration->applicationNameForUserAgent().value_or(""), *append));
        }
    }

    const auto mode = hybridStringSettingForKey(*settings, "PreferredContentMode");
    if (mode == "mobile" || mode == "desktop") {
        configuration->defaultWebpagePreferences()->setPreferredContentMode(
            mode == "mobile" ? wk::WebpagePreferences::ContentMode::Mobile
                             : wk::WebpagePreferences::ContentMode::Desktop);
    }
    return configuration;
}

void HYBWebViewEngine::updateSettings(const ns::Dictionary& settings) {
    if (!engineWebView_) return;
    engineWebView_->configuration()->preferences()->setMinimumFontSize(
        hybridFloatSettingForKey(settings, "MinimumFontSize", 0.0));

    const auto& scrollView = engineWebView_->scrollView();
    if (hybridBoolSettingForKey(settings, "DisallowOverscroll", false)) {
        if (scrollView) {
            scrollView->setBounces(false);
        } else {
            for (const auto& subview : engineWebView_->subviews()) {
                if (auto scroll = std::dynamic_pointer_cast<ui::ScrollView>(subview)) {
                    scroll->setBounces(false);
                }
            }
        }
    }
    if (scrollView) {
        scrollView->setDecelerationRate(
            hybridStringSettingForKey(settings, "WKWebViewDecelerationSpeed") == "fast"
                ? ui::ScrollView::kDecelerationRateFast
                : ui::ScrollView::kDecelerationRateNormal);
    }
    engineWebView_->setAllowsBackForwardNavigationGestures(
        hybridBoolSettingForKey(settings, "AllowBackForwardNavigationGestures", false));
    engineWebView_->setAllowsLinkPreview(
        hybridBoolSettingForKey(settings, "Allow3DTouchLinkPreview", true));
}

void HYBWebViewEngine::updateWithInfo(const HYBWebViewEngineInfo& info) {
    if (!engineWebView_) return;
    const auto& contentController = engineWebView_->configuration()->userContentController();
    for (const auto& [name, handler] : info.scriptMessageHandlers) {
        if (!handler) continue;
        // The web view takes one handler per name; a second would be refused with an exception.
        if (contentController->hasScriptMessageHandler(name)) {
            ns::nslog("A script message handler named \"%@\" is already added; skipped.", name);
            continue;
        }
        contentController->addScriptMessageHandler(handler, name);
    }
    if (info.navigationDelegate) engineWebView_->setNavigationDelegate(info.navigationDelegate);
    if (info.uiDelegate) engineWebView_->setUIDelegate(info.uiDelegate);
    if (info.webViewPreferences) updateSettings(*info.webViewPreferences);
}

// --- Loading -------------------------------------------------------------------------------

std::optional<ns::URL> HYBWebViewEngine::rewriteFileURL(const ns::URL& fileURL) const {
    auto controller = viewController();
    auto delegate = commandDelegate();
    const std::string path = fileURL.path();

    std::string target;
    const std::string startPage =
        controller ? controller->startPage().value_or("index.html") : "index.html";
    const std::string startFile = startPage.substr(0, startPage.find_first_of("?#"));
    const auto startPath = delegate ? delegate->pathForResource(startFile) : std::nullopt;
    const auto wwwFolder = ns::Bundle::mainBundle()->pathForResource(
        controller ? controller->wwwFolderName().value_or("www") : "www", "");
    if (startPath && path == *startPath) {
        target = *assetsURL_ + "/" +
                 ns::percentEncode(startFile, ns::CharacterSet::URLPathAllowedCharacterSet());
    } else if (wwwFolder && path.starts_with(*wwwFolder + "/")) {
        // A file of the web folder has the same path under the scheme as inside the folder.
        target = *assetsURL_ + ns::percentEncode(path.substr(wwwFolder->size()),
                                                 ns::CharacterSet::URLPathAllowedCharacterSet());
    } else {
        // Any other file is asked for by its absolute path; the scheme handler serves it only
        // from the application's own folders.
        target = *assetsURL_ + std::string(HYBURLSchemeHandler::kAppFilePrefix) +
                 ns::percentEncode(path, ns::CharacterSet::URLPathAllowedCharacterSet());
    }
    if (fileURL.query()) target += "?" + *fileURL.query();
    if (fileURL.fragment()) target += "#" + *fileURL.fragment();
    return ns::URL::parse(target);
}

void HYBWebViewEngine::loadRequest(const wk::URLRequest& request) {
    dispatch::RunLoop::requireMainThread("HYBWebViewEngine::loadRequest");
    if (!engineWebView_) return;
    const ns::URL& url = request.url();
    if (url.isFileURL()) {
        if (isFileScheme_) {
            engineWebView_->loadFileURL(url, url.URLByDeletingLastPathComponent());
            return;
        }
        if (auto rewritten = rewriteFileURL(url)) {
            engineWebView_->loadRequest(wk::URLRequest(*rewritten));
            return;
        }
        ns::nslog("Cannot load %@ under the application's scheme.", url.absoluteString());
        return;
    }
    engineWebView_->loadRequest(request);
}

void HYBWebViewEngine::loadHTMLString(const std::string& html,
                                      const std::optional<ns::URL>& baseURL) {
    if (!engineWebView_) return;
    // A file base is the same place under the application's scheme, as for loadRequest().
    if (baseURL && baseURL->isFileURL() && !isFileScheme_ && assetsURL_) {
        engineWebView_->loadHTMLString(html, rewriteFileURL(*baseURL));
        return;
    }
    engineWebView_->loadHTMLString(html, baseURL);
}

namespace {

wk::WebView::EvaluationHandler webViewHandler(
    HYBWebViewEngineProtocol::EvaluationHandler completion) {
    if (!completion) return {};
    return [completion = std::move(completion)](const ns::Value& value,
                                                const std::optional<ns::Error>& error) {
        completion(error ? ns::Result<ns::Value>(*error) : ns::Result<ns::Value>(value));
    };
}

}  // namespace

void HYBWebViewEngine::evaluateJavaScript(std::string script, EvaluationHandler completion) {
    dispatch::RunLoop::requireMainThread("HYBWebViewEngine::evaluateJavaScript");
    if (!engineWebView_) return;
    engineWebView_->evaluateJavaScript(std::move(script), webViewHandler(std::move(completion)));
}

void HYBWebViewEngine::callAsyncJavaScript(std::string body, ns::Dictionary arguments,
                                           EvaluationHandler completion) {
    dispatch::RunLoop::requireMainThread("HYBWebViewEngine::callAsyncJavaScript");
    if (!engineWebView_) return;
    engineWebView_->callAsyncJavaScript(std::move(body), std::move(arguments),
                                        webViewHandler(std::move(completion)));
}

std::optional<ns::URL> HYBWebViewEngine::URL() const {
    return engineWebView_ ? engineWebView_->URL() : std::nullopt;
}

bool HYBWebViewEngine::canLoadRequest(const wk::URLRequest& /*request*/) {
    return true;
}

void HYBWebViewEngine::allowsBackForwardNavigationGestures(const HYBInvokedUrlCommand& command) {
    const ns::Value value = command.argumentAtIndex(0);
    if (engineWebView_) {
        // The page's true and false arrive as booleans, which are numbers to the page.
        engineWebView_->setAllowsBackForwardNavigationGestures(
            (value.isBool() || value.isNumber()) && value.boolValue());
    }
}

bool HYBWebViewEngine::defaultResourcePolicyForURL(const ns::URL& url) const {
    // The bundle's own pages are served under the custom scheme; they must load even when no
    // plug-in decides navigations.
    return url.isFileURL() || (appScheme_ && url.scheme() == appScheme_);
}

bool HYBWebViewEngine::shouldReloadWebView(const std::optional<ns::URL>& url,
                                           const std::optional<std::string>& title) {
    return !title || (url && url->absoluteString() == "about:blank");
}

bool HYBWebViewEngine::shouldReloadWebView() const {
    return engineWebView_ && shouldReloadWebView(engineWebView_->URL(), engineWebView_->title());
}

void HYBWebViewEngine::onAppWillEnterForeground() {
    if (!shouldReloadWebView()) return;
    ns::nslog("HYBWebViewEngine reloading!");
    engineWebView_->reload();
}

// --- Navigation ----------------------------------------------------------------------------

void HYBWebViewEngine::decidePolicyForNavigationAction(
    const std::shared_ptr<wk::WebView>& /*webView*/, const wk::NavigationAction& action,
    std::function<void(wk::NavigationActionPolicy)> decisionHandler) {
    bool anyAnswered = false;
    if (auto controller = viewController()) {
        // A snapshot: a plug-in may make other plug-ins while it decides.
        const auto plugins = controller->pluginObjects();
        for (const auto& [name, plugin] : plugins) {
            if (!plugin || !plugin->answersShouldOverrideLoad()) continue;
            anyAnswered = true;
            if (!plugin->shouldOverrideLoadWithRequest(action.request, action.navigationType)) {
                decisionHandler(wk::NavigationActionPolicy::Cancel);
                return;
            }
        }
    }
    if (anyAnswered || defaultResourcePolicyForURL(action.request.url())) {
        decisionHandler(wk::NavigationActionPolicy::Allow);
        return;
    }
    ns::NotificationCenter::defaultCenter().post(
        HYBPluginHandleOpenURLNotification,
        std::make_shared<ns::Box<ns::URL>>(action.request.url()));
    decisionHandler(wk::NavigationActionPolicy::Cancel);
}

void HYBWebViewEngine::didStartProvisionalNavigation(const std::shared_ptr<wk::WebView>& webView,
                                                     const std::shared_ptr<wk::Navigation>&) {
    ns::NotificationCenter::defaultCenter().post(HYBPluginResetNotification, webView);
}

void HYBWebViewEngine::didFinishNavigation(const std::shared_ptr<wk::WebView>& webView,
                                           const std::shared_ptr<wk::Navigation>&) {
    // Only the main page's load shows the web view and hands waiting URLs to the page; a page
    // in an extra window is not the application's page.
    if (!isMainWebView(webView)) return;
    ns::NotificationCenter::defaultCenter().post(HYBPageDidLoadNotification, webView);
}

void HYBWebViewEngine::didFailProvisionalNavigation(
    const std::shared_ptr<wk::WebView>& webView, const std::shared_ptr<wk::Navigation>& navigation,
    const ns::Error& error) {
    showErrorPage(webView, navigation, error);
}

void HYBWebViewEngine::didFailNavigation(const std::shared_ptr<wk::WebView>& webView,
                                         const std::shared_ptr<wk::Navigation>& navigation,
                                         const ns::Error& error) {
    showErrorPage(webView, navigation, error);
}

void HYBWebViewEngine::showErrorPage(const std::shared_ptr<wk::WebView>& webView,
                                     const std::shared_ptr<wk::Navigation>& navigation,
                                     const ns::Error& error) {
    // A navigation replaced by a newer one, or stopped, did not fail: the newer one goes on.
    if (isCancellation(error)) return;
    const std::string message =
        ns::format("Failed to load webpage with error: %@", error.localizedDescription());
    ns::nslog("%@", message);

    auto controller = viewController();
    const auto errorURL = controller ? controller->errorURL() : std::nullopt;
    if (!errorURL || !webView) return;
    const auto errorNavigation = errorPageNavigation_.lock();
    if (navigation && navigation == errorNavigation) {
        ns::nslog("The error page %@ failed to load as well; it is not loaded again.",
                  errorURL->absoluteString());
        return;
    }
    const auto url = ns::URL::parse(
        "?error=" + ns::percentEncode(message, ns::CharacterSet::URLFragmentAllowedCharacterSet()),
        *errorURL);
    if (!url) return;
    ns::nslog("%@", url->absoluteString());
    errorPageNavigation_ = webView->loadRequest(wk::URLRequest(*url));
}

void HYBWebViewEngine::webViewWebContentProcessDidTerminate(
    const std::shared_ptr<wk::WebView>& webView) {
    if (!webView) return;
    const auto now = dispatch::Clock::current().now();
    while (!crashReloads_.empty() && now - crashReloads_.front() >= kCrashReloadWindow) {
        crashReloads_.pop_front();
    }
    if (crashReloads_.size() >= kMaxCrashReloads) {
        ns::nslog(
            "The web content process terminated %d times within %d s; not reloading.",
            static_cast<int>(crashReloads_.size() + 1),
            static_cast<int>(
                std::chrono::duration_cast<std::chrono::seconds>(kCrashReloadWindow).count()));
        return;
    }
    crashReloads_.push_back(now);
    webView->reload();
}

// --- Page calls ----------------------------------------------------------------------------

void HYBWebViewEngine::didReceiveScriptMessage(wk::UserContentController& controller,
                                               const wk::ScriptMessage& message) {
    takeScriptMessage(controller, message);
}

void HYBWebViewEngine::takeScriptMessage(wk::UserContentController& /*controller*/,
                                         wk::ScriptMessage message) {
    if (message.name != kHYBScriptMessageHandlerName) return;
    // Extra windows share the content controller; their pages must not act as the
    // application's page.
    if (!isMainWebView(message.webView.lock())) {
        ns::nslog("Refused a page call from a web view other than the main one.");
        return;
    }
    // Only the application's page may call plug-ins: a frame of another origin inside it (an
    // allowed advertisement, a map) is someone else's page.
    if (!message.frameInfo.isMainFrame && !isAppOrigin(message.frameInfo.request.url())) {
        ns::nslog("Refused a page call from a frame that is not the main frame (%@).",
                  message.frameInfo.request.url().absoluteString());
        return;
    }
    auto controller = viewController();
    if (!controller || !controller->commandQueue()) return;
    if (message.bodyJSON) {
        controller->commandQueue()->executeCall(*message.bodyJSON);
        return;
    }
    if (message.bodyError) {
        ns::nslog("ERROR: Page call could not be read: %@",
                  message.bodyError->localizedDescription());
        const ns::Array* parts = message.body.array();
        const std::string* callbackId = parts && !parts->empty() ? (*parts)[0].string() : nullptr;
        if (callbackId)
            controller->commandQueue()->answerCall(*callbackId, HYBResultStatusJSONError);
        return;
    }
    controller->commandQueue()->executeCall(std::move(message.body));
}

bool HYBWebViewEngine::isAppOrigin(const ns::URL& url) const {
    if (isFileScheme_) return url.isFileURL();
    const auto assets = assetsURL_ ? ns::URL::parse(*assetsURL_) : std::nullopt;
    return assets && url.scheme() == assets->scheme() && url.host() == assets->host() &&
           url.port() == assets->port();
}
