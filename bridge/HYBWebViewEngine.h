#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "bridge/HYBPlugin.h"
#include "bridge/HYBWebViewEngineProtocol.h"
#include "platform/dispatch/Clock.h"
#include "platform/ns/URL.h"
#include "platform/ns/Value.h"
#include "platform/ui/Geometry.h"
#include "platform/wk/NavigationDelegate.h"
#include "platform/wk/ScriptMessageHandler.h"
#include "platform/wk/URLRequest.h"

class HYBURLSchemeHandler;

namespace wk {
class UIDelegate;
class WebViewConfiguration;
}  // namespace wk

// The name of the script message handler that carries the page's calls.
inline constexpr const char* kHYBScriptMessageHandlerName = "hybrid";

// Owns the web view that shows the page. Builds its configuration from the config.xml
// preferences, serves the page from file URLs or from the application's custom scheme,
// hands the page's calls to the command queue, decides navigations together with the
// plug-ins, and turns navigation events into the bridge's notifications. It is itself a
// plug-in, registered by the view controller. Main thread only.
//
// Calls reach the queue only from the main web view: messages that a page in another window
// posts under the bridge's name are refused. A navigation that fails shows the "ErrorUrl" page
// once; a failure of the error page itself, or of a navigation that was cancelled or replaced,
// shows nothing. A crashed web content process is reloaded at most kMaxCrashReloads times
// within kCrashReloadWindow.
class HYBWebViewEngine : public HYBPlugin,
                         public HYBWebViewEngineProtocol,
                         public wk::NavigationDelegate,
                         public wk::ScriptMessageHandler {
public:
    static constexpr size_t kMaxCrashReloads = 3;
    static constexpr dispatch::Duration kCrashReloadWindow = std::chrono::seconds(60);

    HYBWebViewEngine();
    ~HYBWebViewEngine() override;

    // --- HYBWebViewEngineProtocol -------------------------------------------------------
    // A provisional web view of that frame; pluginInitialize() builds the real one.
    void initWithFrame(const ui::Rect& frame) override;
    void loadRequest(const wk::URLRequest& request) override;
    void loadHTMLString(const std::string& html, const std::optional<ns::URL>& baseURL) override;
    void evaluateJavaScript(std::string script, EvaluationHandler completion) override;
    void callAsyncJavaScript(std::string body, ns::Dictionary arguments,
                             EvaluationHandler completion) override;
    std::optional<ns::URL> URL() const override;
    bool canLoadRequest(const wk::URLRequest& request) override;
    void updateWithInfo(const HYBWebViewEngineInfo& info) override;
    std::shared_ptr<wk::WebView> engineWebView() const override { return engineWebView_; }

    // --- Plug-in ---------------------------------------------------------------------------
    void pluginInitialize() override;
    std::shared_ptr<wk::WebView> webView() const override { return engineWebView_; }
    // Page action: argument 0, when a number, turns the back/forward swipes on or off.
    void allowsBackForwardNavigationGestures(const HYBInvokedUrlCommand& command);

    // --- Configuration -------------------------------------------------------------------
    // A configuration on the shared process pool with the preferences applied; null settings
    // leave every default.
    std::shared_ptr<wk::WebViewConfiguration> createConfigurationFromSettings(
        const ns::Dictionary* settings) const;
    // Applies the preferences that can change on a live web view.
    void updateSettings(const ns::Dictionary& settings);

    // File URLs and URLs of the application's own scheme load without asking anyone.
    bool defaultResourcePolicyForURL(const ns::URL& url) const;
    // Whether a page at `url` is of the application's own origin (its scheme and host, or a
    // file when the application is served from files).
    bool isAppOrigin(const ns::URL& url) const;
    bool shouldReloadWebView() const;
    static bool shouldReloadWebView(const std::optional<ns::URL>& url,
                                    const std::optional<std::string>& title);
    void onAppWillEnterForeground();

    // --- State --------------------------------------------------------------------------------
    const std::shared_ptr<wk::UIDelegate>& uiDelegate() const { return uiDelegate_; }
    const std::shared_ptr<HYBURLSchemeHandler>& schemeHandler() const { return schemeHandler_; }
    // "scheme://host" of the custom scheme; nothing in file-URL mode.
    const std::optional<std::string>& HYB_ASSETS_URL() const { return assetsURL_; }
    bool hybIsFileScheme() const { return isFileScheme_; }

    // --- wk::NavigationDelegate -----------------------------------------------------------------
    void decidePolicyForNavigationAction(
        const std::shared_ptr<wk::WebView>& webView, const wk::NavigationAction& action,
        std::function<void(wk::NavigationActionPolicy)> decisionHandler) override;
    void didStartProvisionalNavigation(const std::shared_ptr<wk::WebView>& webView,
                                       const std::shared_ptr<wk::Navigation>& navigation) override;
    void didFinishNavigation(const std::shared_ptr<wk::WebView>& webView,
                             const std::shared_ptr<wk::Navigation>& navigation) override;
    void didFailProvisionalNavigation(const std::shared_ptr<wk::WebView>& webView,
                                      const std::shared_ptr<wk::Navigation>& navigation,
                                      const ns::Error& error) override;
    void didFailNavigation(const std::shared_ptr<wk::WebView>& webView,
                           const std::shared_ptr<wk::Navigation>& navigation,
                           const ns::Error& error) override;
    void webViewWebContentProcessDidTerminate(const std::shared_ptr<wk::WebView>& webView) override;

    // --- wk::ScriptMessageHandler ---------------------------------------------------------------
    void didReceiveScriptMessage(wk::UserContentController& controller,
                                 const wk::ScriptMessage& message) override;
    void takeScriptMessage(wk::UserContentController& controller,
                           wk::ScriptMessage message) override;
    // Page calls are read from their text as they run.
    bool readsBodyAsJSON() const override { return true; }

private:
    std::shared_ptr<HYBWebViewEngine> sharedEngine();
    void chooseScheme(const ns::Dictionary& settings);
    std::optional<ns::URL> rewriteFileURL(const ns::URL& fileURL) const;
    void showErrorPage(const std::shared_ptr<wk::WebView>& webView,
                       const std::shared_ptr<wk::Navigation>& navigation, const ns::Error& error);
    bool isMainWebView(const std::shared_ptr<wk::WebView>& webView) const {
        return webView && webView == engineWebView_;
    }

    std::shared_ptr<wk::WebView> engineWebView_;
    std::shared_ptr<wk::UIDelegate> uiDelegate_;
    std::shared_ptr<HYBURLSchemeHandler> schemeHandler_;
    std::shared_ptr<wk::ScriptMessageHandler> weakMessageHandler_;
    std::optional<std::string> assetsURL_;
    std::optional<std::string> appScheme_;
    bool isFileScheme_ = true;
    std::weak_ptr<wk::Navigation> errorPageNavigation_;
    std::deque<dispatch::TimePoint> crashReloads_;
    bool observingForeground_ = false;
};
