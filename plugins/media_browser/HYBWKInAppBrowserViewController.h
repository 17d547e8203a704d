#pragma once

#include <memory>
#include <optional>
#include <string>

#include "bridge/HYBScreenOrientationDelegate.h"
#include "platform/ns/URL.h"
#include "platform/ns/Value.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/AdaptivePresentationControllerDelegate.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Color.h"
#include "platform/ui/Label.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/ViewController.h"
#include "platform/wk/NavigationDelegate.h"
#include "platform/wk/ScriptMessageHandler.h"
#include "platform/wk/WebView.h"
#include "plugins/media_browser/HYBInAppBrowserOptions.h"
#include "plugins/media_browser/HYBWKInAppBrowserUIDelegate.h"

// What the browser screen tells the plug-in that opened it.
class HYBWKInAppBrowserNavigationDelegate {
public:
    virtual ~HYBWKInAppBrowserNavigationDelegate() = default;
    virtual void decidePolicyForNavigationAction(
        const std::shared_ptr<wk::WebView>& webView, const wk::NavigationAction& action,
        std::function<void(wk::NavigationActionPolicy)> decisionHandler) = 0;
    // The main frame's response, before the page shows; the default lets it show.
    virtual void decidePolicyForNavigationResponse(
        const std::shared_ptr<wk::WebView>& /*webView*/, const wk::NavigationResponse& /*response*/,
        std::function<void(wk::NavigationResponsePolicy)> decisionHandler) {
        decisionHandler(wk::NavigationResponsePolicy::Allow);
    }
    virtual void didStartProvisionalNavigation(const std::shared_ptr<wk::WebView>& webView) = 0;
    virtual void didFinishNavigation(const std::shared_ptr<wk::WebView>& webView) = 0;
    virtual void didFailNavigation(const std::shared_ptr<wk::WebView>& webView,
                                   const ns::Error& error) = 0;
    virtual void didReceiveScriptMessage(const wk::ScriptMessage& message) = 0;
    virtual void browserExit() = 0;
};

// The in-app browser's screen: a second web view with a toolbar (close, back, forward), a
// one-line location bar and a spinner. Navigation events and "hybrid_iab" messages go to the
// navigation delegate; closing ends in exactly one browserExit.
class HYBWKInAppBrowserViewController : public ui::ViewController,
                                        public HYBScreenOrientationDelegate,
                                        public wk::NavigationDelegate,
                                        public wk::ScriptMessageHandler,
                                        public ui::AdaptivePresentationControllerDelegate {
public:
    static constexpr const char* kMessageHandlerName = "hybrid_iab";
    // The subsystem of the browser's own log lines, which name where they come from.
    static constexpr const char* kLogSubsystem = "InAppBrowser";
    static constexpr double kToolbarHeight = 44;
    static constexpr double kLocationBarHeight = 21;
    static constexpr double kBarsHeight = 65;

    // The host's configuration lends the browser its URL scheme handlers, so that the
    // application's own pages (served from its scheme) open in the browser as well.
    static std::shared_ptr<HYBWKInAppBrowserViewController> initWithBrowserOptions(
        const HYBInAppBrowserOptions& options, const ns::Dictionary& settings,
        const std::shared_ptr<wk::WebViewConfiguration>& hostConfiguration = nullptr);
    HYBWKInAppBrowserViewController(const HYBInAppBrowserOptions& options, ns::Dictionary settings);

    void showLocationBar(bool show);
    void showToolBar(bool show, const std::string& position);
    void setCloseButtonTitle(const std::optional<std::string>& title,
                             const std::optional<std::string>& colorString, size_t index);
    void navigateTo(const ns::URL& url);
    void close();
    // Makes the web view again from `configuration()`, in the old one's place and with its
    // frame, so that a process pool given to the configuration since takes effect: the new
    // view starts with no page and no history.
    void recreateWebView();

    const std::shared_ptr<wk::WebView>& webView() const { return webView_; }
    void setWebView(std::shared_ptr<wk::WebView> webView) { webView_ = std::move(webView); }
    const std::shared_ptr<wk::WebViewConfiguration>& configuration() const {
        return configuration_;
    }
    void setConfiguration(std::shared_ptr<wk::WebViewConfiguration> c) {
        configuration_ = std::move(c);
    }
    const std::optional<ns::URL>& currentURL() const { return currentURL_; }
    const std::shared_ptr<ui::Toolbar>& toolbar() const { return toolbar_; }
    const std::shared_ptr<ui::Label>& addressLabel() const { return addressLabel_; }
    const std::shared_ptr<ui::ActivityIndicatorView>& spinner() const { return spinner_; }
    const std::shared_ptr<ui::BarButtonItem>& closeButton() const { return closeButton_; }
    const std::shared_ptr<ui::BarButtonItem>& backButton() const { return backButton_; }
    const std::shared_ptr<ui::BarButtonItem>& forwardButton() const { return forwardButton_; }
    const std::shared_ptr<HYBWKInAppBrowserUIDelegate>& webViewUIDelegate() const {
        return uiDelegate_;
    }

    std::shared_ptr<HYBWKInAppBrowserNavigationDelegate> navigationDelegate() const {
        return navigationDelegate_.lock();
    }
    void setNavigationDelegate(std::weak_ptr<HYBWKInAppBrowserNavigationDelegate> delegate) {
        navigationDelegate_ = std::move(delegate);
    }
    std::shared_ptr<HYBScreenOrientationDelegate> orientationDelegate() const {
        return orientationDelegate_.lock();
    }
    void setOrientationDelegate(std::weak_ptr<HYBScreenOrientationDelegate> delegate) {
        orientationDelegate_ = std::move(delegate);
    }

    // "#RRGGBB": the first character is skipped whatever it is; what does not scan is black.
    static ui::Color colorFromHexString(const std::string& hex);

    // ui::ViewController
    void loadView() override;
    void viewWillAppear(bool animated) override;
    void viewWillTransitionToSize(ui::Size size, ui::TransitionCoordinator& coordinator) override;
    void viewDidDisappear(bool animated) override;
    bool shouldAutorotate() const override;
    ui::InterfaceOrientationMask supportedInterfaceOrientations() const override;
    bool prefersStatusBarHidden() const override { return false; }
    ui::StatusBar::Style preferredStatusBarStyle() const override;
    void presentationControllerWillDismiss(ui::PresentationController&) override {
        exitPending_ = true;
    }
    bool exitPending() const { return exitPending_; }

    // wk::NavigationDelegate
    void decidePolicyForNavigationAction(
        const std::shared_ptr<wk::WebView>& webView, const wk::NavigationAction& action,
        std::function<void(wk::NavigationActionPolicy)> decisionHandler) override;
    void decidePolicyForNavigationResponse(
        const std::shared_ptr<wk::WebView>& webView, const wk::NavigationResponse& response,
        std::function<void(wk::NavigationResponsePolicy)> decisionHandler) override;
    void didStartProvisionalNavigation(const std::shared_ptr<wk::WebView>& webView,
                                       const std::shared_ptr<wk::Navigation>&) override;
    void didFinishNavigation(const std::shared_ptr<wk::WebView>& webView,
                             const std::shared_ptr<wk::Navigation>&) override;
    void didFailProvisionalNavigation(const std::shared_ptr<wk::WebView>& webView,
                                      const std::shared_ptr<wk::Navigation>&,
                                      const ns::Error& error) override;
    void didFailNavigation(const std::shared_ptr<wk::WebView>& webView,
                           const std::shared_ptr<wk::Navigation>&, const ns::Error& error) override;

    // wk::ScriptMessageHandler
    void didReceiveScriptMessage(wk::UserContentController&,
                                 const wk::ScriptMessage& message) override;

    // Process-wide, as one status bar is shown at a time.
    static double lastStatusBarOffset() { return lastStatusBarOffset_; }

private:
    void createViews(const std::shared_ptr<wk::WebViewConfiguration>& hostConfiguration);
    void makeWebView(const ui::Rect& frame);
    template <class Fn>
    ui::BarButtonItem::Action action(Fn fn);
    std::optional<std::string> settingForKey(const std::string& key) const;
    // Under the status bar, and under the toolbar when that is at the top.
    void rePositionViews();
    double getStatusBarOffset() const;
    void setWebViewFrame(const ui::Rect& frame);
    void updateButtons();
    void failed(const char* kind, const std::shared_ptr<wk::WebView>& webView,
                const ns::Error& error);

    HYBInAppBrowserOptions browserOptions_;
    ns::Dictionary settings_;
    std::optional<ns::URL> currentURL_;
    std::shared_ptr<wk::WebView> webView_;
    std::shared_ptr<wk::WebViewConfiguration> configuration_;
    std::shared_ptr<ui::BarButtonItem> closeButton_, backButton_, forwardButton_;
    std::shared_ptr<ui::Label> addressLabel_;
    std::shared_ptr<ui::ActivityIndicatorView> spinner_;
    std::shared_ptr<ui::Toolbar> toolbar_;
    std::shared_ptr<HYBWKInAppBrowserUIDelegate> uiDelegate_;
    std::weak_ptr<HYBScreenOrientationDelegate> orientationDelegate_;
    std::weak_ptr<HYBWKInAppBrowserNavigationDelegate> navigationDelegate_;

    // Per browser, so that a close left pending by one browser cannot turn a later
    // browser's hiding into an exit.
    bool exitPending_ = false;
    bool closing_ = false;
    static double lastStatusBarOffset_;
};
