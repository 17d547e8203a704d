#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Error.h"
#include "platform/ns/URL.h"
#include "platform/ns/Value.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewVisitor.h"
#include "platform/wk/Engine.h"
#include "platform/wk/EngineClient.h"
#include "platform/wk/Navigation.h"
#include "platform/wk/NavigationDelegate.h"
#include "platform/wk/UIDelegate.h"
#include "platform/wk/URLRequest.h"
#include "platform/wk/WebViewConfiguration.h"

namespace wk {

// A view that shows web pages. What it shows is rendered by an engine of the kind the
// EngineRegistry names as default when the view is made; the view passes its operations on
// and hands what the engine reports to its delegates, its user content controller's message
// handlers and its configuration's scheme handlers. Its subviews are one scroll view, which
// holds the content view. Main thread only.
class WebView : public ui::View, public EngineClient {
    class PassKey {
        friend class WebView;
        PassKey() = default;
    };

public:
    void accept(ui::ViewVisitor& visitor) override { visitor.visit(*this); }
    using EvaluationHandler =
        std::function<void(const ns::Value& result, const std::optional<ns::Error>& error)>;

    // Takes a copy of the configuration (see WebViewConfiguration).
    static std::shared_ptr<WebView> create(
        ui::Rect frame, const std::shared_ptr<WebViewConfiguration>& configuration);
    WebView(PassKey, ui::Rect frame, std::shared_ptr<WebViewConfiguration> configuration);
    ~WebView() override;

    std::shared_ptr<WebView> sharedWebView() { return sharedSelf<WebView>(); }

    const std::shared_ptr<WebViewConfiguration>& configuration() const { return configuration_; }
    std::shared_ptr<NavigationDelegate> navigationDelegate() const {
        return navigationDelegate_.lock();
    }
    void setNavigationDelegate(std::weak_ptr<NavigationDelegate> d) {
        navigationDelegate_ = std::move(d);
    }
    std::shared_ptr<UIDelegate> uiDelegate() const { return uiDelegate_.lock(); }
    void setUIDelegate(std::weak_ptr<UIDelegate> d) { uiDelegate_ = std::move(d); }

    std::shared_ptr<Navigation> loadRequest(const URLRequest& request);
    // Loads a file URL; the page may read files under readAccessURL.
    std::shared_ptr<Navigation> loadFileURL(const ns::URL& url, const ns::URL& readAccessURL);
    // The page's URL becomes the base URL, or "about:blank" without one.
    std::shared_ptr<Navigation> loadHTMLString(const std::string& html,
                                               const std::optional<ns::URL>& baseURL);
    std::shared_ptr<Navigation> reload();
    void stopLoading();
    std::shared_ptr<Navigation> goBack();
    std::shared_ptr<Navigation> goForward();
    bool canGoBack() const { return engine_->canGoBack(); }
    bool canGoForward() const { return engine_->canGoForward(); }

    std::optional<ns::URL> URL() const { return engine_->url(); }
    std::optional<std::string> title() const { return engine_->title(); }
    bool isLoading() const { return engine_->isLoading(); }
    double estimatedProgress() const { return engine_->estimatedProgress(); }

    // The handler (optional) runs on a later turn with the script's value, or with null and
    // the error.
    void evaluateJavaScript(std::string script, EvaluationHandler completion = {});
    // Calls `body` with the arguments handed over as values (see Engine::callAsyncJavaScript).
    void callAsyncJavaScript(std::string body, ns::Dictionary arguments,
                             EvaluationHandler completion = {});

    const std::shared_ptr<ui::ScrollView>& scrollView() const { return scrollView_; }
    const std::optional<std::string>& customUserAgent() const { return customUserAgent_; }
    void setCustomUserAgent(std::optional<std::string> userAgent);
    bool allowsBackForwardNavigationGestures() const { return backForwardGestures_; }
    void setAllowsBackForwardNavigationGestures(bool on) { backForwardGestures_ = on; }
    bool allowsLinkPreview() const { return linkPreview_; }
    void setAllowsLinkPreview(bool on) { linkPreview_ = on; }

    const std::shared_ptr<Engine>& engine() const { return engine_; }

    // Schemes that web views load themselves, so that no scheme handler may take them
    // (http, https, file, about, data, blob, ftp, ws, wss, javascript; any letter case).
    static bool handlesURLScheme(std::string_view scheme);

private:
    // EngineClient
    void scriptMessagePosted(const std::string& name, ns::Value body, const FrameInfo& frame,
                             std::optional<ns::Error> bodyError = std::nullopt) override;
    void scriptMessagePostedAsJSON(const std::string& name, ns::JSONSlice body,
                                   const FrameInfo& frame) override;
    void navigationActionToDecide(const NavigationAction& action,
                                  std::function<void(NavigationActionPolicy)> decide) override;
    void navigationResponseToDecide(const NavigationResponse& response,
                                    std::function<void(NavigationResponsePolicy)> decide) override;
    void provisionalNavigationStarted(const std::shared_ptr<Navigation>& navigation) override;
    void navigationCommitted(const std::shared_ptr<Navigation>& navigation) override;
    void navigationFinished(const std::shared_ptr<Navigation>& navigation) override;
    void provisionalNavigationFailed(const std::shared_ptr<Navigation>& navigation,
                                     const ns::Error& error) override;
    void navigationFailed(const std::shared_ptr<Navigation>& navigation,
                          const ns::Error& error) override;
    void webContentProcessTerminated() override;
    bool schemeTaskStarted(const std::shared_ptr<URLSchemeTask>& task) override;
    void schemeTaskStopped(const std::shared_ptr<URLSchemeTask>& task) override;
    void alertRequested(const std::string& message, const FrameInfo& frame,
                        std::function<void()> answer) override;
    void confirmRequested(const std::string& message, const FrameInfo& frame,
                          std::function<void(bool)> answer) override;
    void promptRequested(const std::string& prompt, const std::optional<std::string>& defaultText,
                         const FrameInfo& frame,
                         std::function<void(std::optional<std::string>)> answer) override;
    std::shared_ptr<WebView> newWindowRequested(const NavigationAction& action,
                                                const WindowFeatures& features) override;
    void closeRequested() override;

    std::shared_ptr<WebViewConfiguration> configuration_;
    std::shared_ptr<Engine> engine_;
    std::shared_ptr<ui::ScrollView> scrollView_;
    std::weak_ptr<NavigationDelegate> navigationDelegate_;
    std::weak_ptr<UIDelegate> uiDelegate_;
    std::optional<std::string> customUserAgent_;
    bool backForwardGestures_ = false;
    bool linkPreview_ = true;
};

}  // namespace wk
