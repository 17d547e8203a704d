#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>

#include "bridge/HYBPlugin.h"
#include "platform/ns/URL.h"
#include "platform/ui/Window.h"
#include "plugins/media_browser/HYBWKInAppBrowserViewController.h"

// The page's in-app browser: opens a URL in the main web view, in the desktop, or in a second
// browser window of its own, and reports that window's loads, messages and exit to the
// callback of the latest open call.
//
// Two rules keep a remote page in the browser away from the main page: a message from the
// browser's page answers only an inject call that is waiting for it, and only a navigation
// the page approved passes the before-load gate.
class HYBWKInAppBrowser : public HYBPlugin, public HYBWKInAppBrowserNavigationDelegate {
public:
    static constexpr const char* kClassName = "HYBWKInAppBrowser";
    // The application store's host: the desktop has none, so no URL is sent there by it.
    static constexpr const char* kAppStoreHost = "apps.store.invalid";

    HYBWKInAppBrowser();

    void pluginInitialize() override;
    void onReset() override;
    static std::shared_ptr<HYBWKInAppBrowser> getInstance();

    // Page actions.
    void open(const HYBInvokedUrlCommand& command);
    void close(const HYBInvokedUrlCommand& command);
    void show(const HYBInvokedUrlCommand& command);
    void hide(const HYBInvokedUrlCommand& command);
    void loadAfterBeforeload(const HYBInvokedUrlCommand& command);
    void injectScriptCode(const HYBInvokedUrlCommand& command);
    void injectScriptFile(const HYBInvokedUrlCommand& command);
    void injectStyleCode(const HYBInvokedUrlCommand& command);
    void injectStyleFile(const HYBInvokedUrlCommand& command);

    // HYBWKInAppBrowserNavigationDelegate
    void decidePolicyForNavigationAction(
        const std::shared_ptr<wk::WebView>& webView, const wk::NavigationAction& action,
        std::function<void(wk::NavigationActionPolicy)> decisionHandler) override;
    void decidePolicyForNavigationResponse(
        const std::shared_ptr<wk::WebView>& webView, const wk::NavigationResponse& response,
        std::function<void(wk::NavigationResponsePolicy)> decisionHandler) override;
    void didStartProvisionalNavigation(const std::shared_ptr<wk::WebView>& webView) override;
    void didFinishNavigation(const std::shared_ptr<wk::WebView>& webView) override;
    void didFailNavigation(const std::shared_ptr<wk::WebView>& webView,
                           const ns::Error& error) override;
    void didReceiveScriptMessage(const wk::ScriptMessage& message) override;
    void browserExit() override;

    bool isValidCallbackId(const std::string& callbackId) const;
    // Whether the browser itself loads the URL: http(s) and the application's own scheme in
    // any frame; besides, in frames, the page's own kinds of document (about:, data:, blob:).
    // Never a file URL.
    bool isBrowsable(const ns::URL& url, bool topLevel) const;
    // Only web and mail/phone URLs leave the program; anything else is refused and logged.
    void openInSystem(const ns::URL& url);

    const std::shared_ptr<HYBWKInAppBrowserViewController>& inAppBrowserViewController() const {
        return inAppBrowserViewController_;
    }
    const std::shared_ptr<ui::Window>& tmpWindow() const { return tmpWindow_; }
    const std::optional<std::string>& callbackId() const { return callbackId_; }

private:
    void openInHybridWebView(const ns::URL& url);
    void openInInAppBrowser(const ns::URL& url, const std::string& options);
    void showBrowser(bool noAnimate);
    void injectDeferredObject(const std::string& source, const std::string& wrapperHead,
                              const std::string& wrapperTail);
    void inject(const HYBInvokedUrlCommand& command, const std::string& element);
    void evaluateJavaScript(const std::string& script);
    void sendEvent(unsigned status, ns::Dictionary message, bool keepCallback,
                   const std::optional<std::string>& callbackId);
    std::string eventURL(const std::shared_ptr<wk::WebView>& webView) const;

    std::shared_ptr<HYBWKInAppBrowserViewController> inAppBrowserViewController_;
    std::optional<std::string> callbackId_;
    std::shared_ptr<ui::Window> tmpWindow_;
    std::string beforeload_;
    // The one URL the page approved; the gate holds every other gated navigation.
    std::optional<ns::URL> approvedURL_;
    // The top-level URL the gate let through last, which its page's response must match.
    std::optional<ns::URL> passedURL_;
    int64_t previousStatusBarStyle_ = -1;
    // Callback ids of inject calls still waiting for the browser page's answer.
    std::set<std::string> pendingInjections_;
};
