#include "platform/wk/WebView.h"

#include <algorithm>
#include <array>

#include "platform/dispatch/RunLoop.h"
#include "platform/net/HTTPHeaderFields.h"
#include "platform/wk/CompletionGuard.h"
#include "platform/wk/EngineRegistry.h"
#include "platform/wk/URLSchemeTask.h"

namespace wk {
namespace {

constexpr unsigned kFlexibleSize = ui::kAutoresizingFlexibleWidth | ui::kAutoresizingFlexibleHeight;

}  // namespace

std::shared_ptr<WebView> WebView::create(
    ui::Rect frame, const std::shared_ptr<WebViewConfiguration>& configuration) {
    auto config = configuration ? configuration->copy() : WebViewConfiguration::create();
    auto view = std::make_shared<WebView>(PassKey(), frame, config);
    auto content = ui::View::create(view->scrollView_->bounds());
    content->setAutoresizingMask(kFlexibleSize);
    view->scrollView_->addSubview(content);
    view->addSubview(view->scrollView_);
    view->engine_ = EngineRegistry::shared().createEngine(config, view);
    return view;
}

WebView::WebView(PassKey, ui::Rect frame, std::shared_ptr<WebViewConfiguration> configuration)
    : ui::View(frame),
      configuration_(std::move(configuration)),
      scrollView_(ui::ScrollView::create(bounds())) {
    scrollView_->setAutoresizingMask(kFlexibleSize);
}

WebView::~WebView() = default;

std::shared_ptr<Navigation> WebView::loadRequest(const URLRequest& request) {
    dispatch::RunLoop::requireMainThread("WebView::loadRequest");
    return engine_->loadRequest(request);
}

std::shared_ptr<Navigation> WebView::loadFileURL(const ns::URL& url, const ns::URL& readAccessURL) {
    dispatch::RunLoop::requireMainThread("WebView::loadFileURL");
    return engine_->loadFileURL(url, readAccessURL);
}

std::shared_ptr<Navigation> WebView::loadHTMLString(const std::string& html,
                                                    const std::optional<ns::URL>& baseURL) {
    dispatch::RunLoop::requireMainThread("WebView::loadHTMLString");
    return engine_->loadHTMLString(html, baseURL);
}

std::shared_ptr<Navigation> WebView::reload() {
    dispatch::RunLoop::requireMainThread("WebView::reload");
    return engine_->reload();
}

void WebView::stopLoading() {
    dispatch::RunLoop::requireMainThread("WebView::stopLoading");
    engine_->stopLoading();
}

std::shared_ptr<Navigation> WebView::goBack() {
    return engine_->goBack();
}

std::shared_ptr<Navigation> WebView::goForward() {
    return engine_->goForward();
}

namespace {

std::function<void(ns::Result<ns::Value>)> resultHandler(WebView::EvaluationHandler completion) {
    return [completion = std::move(completion)](auto result) {
        if (!completion) return;
        if (result.ok()) {
            completion(result.value(), std::nullopt);
        } else {
            completion(ns::Value(), result.error());
        }
    };
}

}  // namespace

void WebView::evaluateJavaScript(std::string script, EvaluationHandler completion) {
    dispatch::RunLoop::requireMainThread("WebView::evaluateJavaScript");
    engine_->evaluateJavaScript(std::move(script), resultHandler(std::move(completion)));
}

void WebView::callAsyncJavaScript(std::string body, ns::Dictionary arguments,
                                  EvaluationHandler completion) {
    dispatch::RunLoop::requireMainThread("WebView::callAsyncJavaScript");
    engine_->callAsyncJavaScript(std::move(body), std::move(arguments),
                                 resultHandler(std::move(completion)));
}

void WebView::setCustomUserAgent(std::optional<std::string> userAgent) {
    customUserAgent_ = std::move(userAgent);
    engine_->setCustomUserAgent(customUserAgent_);
}

bool WebView::handlesURLScheme(std::string_view scheme) {
    static constexpr std::array<std::string_view, 10> kSchemes = {
        "about", "blob", "data", "file", "ftp", "http", "https", "javascript", "ws", "wss"};
    return std::any_of(kSchemes.begin(), kSchemes.end(),
                       [&](std::string_view s) { return net::headerNameEquals(s, scheme); });
}

// --- What the engine reports ---------------------------------------------------------------

void WebView::scriptMessagePosted(const std::string& name, ns::Value body, const FrameInfo& frame,
                                  std::optional<ns::Error> bodyError) {
    auto self = sharedWebView();
    auto controller = configuration_->userContentController();
    auto handler = controller ? controller->scriptMessageHandler(name) : nullptr;
    if (!handler) return;
    handler->takeScriptMessage(*controller, ScriptMessage{name, std::move(body), self, frame,
                                                          std::move(bodyError), std::nullopt});
}

void WebView::scriptMessagePostedAsJSON(const std::string& name, ns::JSONSlice body,
                                        const FrameInfo& frame) {
    auto self = sharedWebView();
    auto controller = configuration_->userContentController();
    auto handler = controller ? controller->scriptMessageHandler(name) : nullptr;
    if (!handler) return;
    ScriptMessage message{name, ns::Value(), self, frame, std::nullopt, std::nullopt};
    if (handler->readsBodyAsJSON()) {
        message.bodyJSON = std::move(body);
    } else {
        // Halves of characters that the page cut read as U+FFFD, as in every value it posts.
        auto value = body.read({.fragmentsAllowed = true, .loneSurrogatesReplaced = true});
        if (value) {
            message.body = std::move(value).value();
        } else {
            message.bodyError = value.error();
        }
    }
    handler->takeScriptMessage(*controller, std::move(message));
}

void WebView::navigationActionToDecide(const NavigationAction& action,
                                       std::function<void(NavigationActionPolicy)> decide) {
    auto self = sharedWebView();
    auto d = navigationDelegate();
    if (!d) {
        decide(NavigationActionPolicy::Allow);
        return;
    }
    auto fallback = [decide] { decide(NavigationActionPolicy::Cancel); };
    d->decidePolicyForNavigationAction(self, action,
                                       CompletionGuard<NavigationActionPolicy>::wrap(
                                           decide, fallback, "decidePolicyForNavigationAction"));
}

void WebView::navigationResponseToDecide(const NavigationResponse& response,
                                         std::function<void(NavigationResponsePolicy)> decide) {
    auto self = sharedWebView();
    auto d = navigationDelegate();
    if (!d) {
        decide(NavigationResponsePolicy::Allow);
        return;
    }
    auto fallback = [decide] { decide(NavigationResponsePolicy::Cancel); };
    d->decidePolicyForNavigationResponse(
        self, response,
        CompletionGuard<NavigationResponsePolicy>::wrap(decide, fallback,
                                                        "decidePolicyForNavigationResponse"));
}

void WebView::provisionalNavigationStarted(const std::shared_ptr<Navigation>& navigation) {
    auto self = sharedWebView();
    if (auto d = navigationDelegate()) d->didStartProvisionalNavigation(self, navigation);
}

void WebView::navigationCommitted(const std::shared_ptr<Navigation>& navigation) {
    auto self = sharedWebView();
    if (auto d = navigationDelegate()) d->didCommitNavigation(self, navigation);
}

void WebView::navigationFinished(const std::shared_ptr<Navigation>& navigation) {
    auto self = sharedWebView();
    if (auto d = navigationDelegate()) d->didFinishNavigation(self, navigation);
}

void WebView::provisionalNavigationFailed(const std::shared_ptr<Navigation>& navigation,
                                          const ns::Error& error) {
    auto self = sharedWebView();
    if (auto d = navigationDelegate()) d->didFailProvisionalNavigation(self, navigation, error);
}

void WebView::navigationFailed(const std::shared_ptr<Navigation>& navigation,
                               const ns::Error& error) {
    auto self = sharedWebView();
    if (auto d = navigationDelegate()) d->didFailNavigation(self, navigation, error);
}

void WebView::webContentProcessTerminated() {
    auto self = sharedWebView();
    if (auto d = navigationDelegate()) d->webViewWebContentProcessDidTerminate(self);
}

bool WebView::schemeTaskStarted(const std::shared_ptr<URLSchemeTask>& task) {
    auto self = sharedWebView();
    const auto& scheme = task->request().url().scheme();
    auto handler = scheme ? configuration_->urlSchemeHandler(*scheme) : nullptr;
    if (!handler) return false;
    handler->startURLSchemeTask(self, task);
    return true;
}

void WebView::schemeTaskStopped(const std::shared_ptr<URLSchemeTask>& task) {
    auto self = sharedWebView();
    const auto& scheme = task->request().url().scheme();
    if (auto handler = scheme ? configuration_->urlSchemeHandler(*scheme) : nullptr) {
        handler->stopURLSchemeTask(self, task);
    }
}

void WebView::alertRequested(const std::string& message, const FrameInfo& frame,
                             std::function<void()> answer) {
    auto self = sharedWebView();
    auto d = uiDelegate();
    if (!d) {
        answer();
        return;
    }
    d->runJavaScriptAlertPanel(
        self, message, frame,
        CompletionGuard<>::wrap(answer, answer, "runJavaScriptAlertPanelWithMessage"));
}

void WebView::confirmRequested(const std::string& message, const FrameInfo& frame,
                               std::function<void(bool)> answer) {
    auto self = sharedWebView();
    auto d = uiDelegate();
    if (!d) {
        answer(false);
        return;
    }
    d->runJavaScriptConfirmPanel(
        self, message, frame,
        CompletionGuard<bool>::wrap(
            answer, [answer] { answer(false); }, "runJavaScriptConfirmPanelWithMessage"));
}

void WebView::promptRequested(const std::string& prompt,
                              const std::optional<std::string>& defaultText, const FrameInfo& frame,
                              std::function<void(std::optional<std::string>)> answer) {
    auto self = sharedWebView();
    auto d = uiDelegate();
    if (!d) {
        answer(std::nullopt);
        return;
    }
    d->runJavaScriptTextInputPanel(
        self, prompt, defaultText, frame,
        CompletionGuard<std::optional<std::string>>::wrap(
            answer, [answer] { answer(std::nullopt); }, "runJavaScriptTextInputPanelWithPrompt"));
}

std::shared_ptr<WebView> WebView::newWindowRequested(const NavigationAction& action,
                                                     const WindowFeatures& features) {
    auto self = sharedWebView();
    auto d = uiDelegate();
    return d ? d->createWebView(self, configuration_->copy(), action, features) : nullptr;
}

void WebView::closeRequested() {
    auto self = sharedWebView();
    if (auto d = uiDelegate()) d->webViewDidClose(self);
}

}  // namespace wk
