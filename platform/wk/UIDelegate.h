#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/wk/FrameInfo.h"
#include "platform/wk/NavigationAction.h"
#include "platform/wk/WindowFeatures.h"

namespace wk {

class WebView;
class WebViewConfiguration;

// Shows a web view's dialogs and windows. Every operation is optional; the defaults open no
// window and answer each dialog at once as dismissed (OK for an alert, false for a confirm,
// null for a prompt). A completion handler must be called exactly once: one dropped without a
// call gives the page that dismissed answer (and is logged), a second call is ignored.
class UIDelegate {
public:
    virtual ~UIDelegate() = default;

    // The page asks for a new window (a link with a new-window target, window.open). Answer a
    // web view made with `configuration`, which then loads the request; or null for none.
    virtual std::shared_ptr<WebView> createWebView(
        const std::shared_ptr<WebView>& /*webView*/,
        const std::shared_ptr<WebViewConfiguration>& /*configuration*/,
        const NavigationAction& /*action*/, const WindowFeatures& /*features*/) {
        return nullptr;
    }
    // The page closed its window (window.close).
    virtual void webViewDidClose(const std::shared_ptr<WebView>&) {}

    virtual void runJavaScriptAlertPanel(const std::shared_ptr<WebView>&,
                                         const std::string& /*message*/, const FrameInfo&,
                                         std::function<void()> completionHandler) {
        completionHandler();
    }
    virtual void runJavaScriptConfirmPanel(const std::shared_ptr<WebView>&,
                                           const std::string& /*message*/, const FrameInfo&,
                                           std::function<void(bool)> completionHandler) {
        completionHandler(false);
    }
    virtual void runJavaScriptTextInputPanel(
        const std::shared_ptr<WebView>&, const std::string& /*prompt*/,
        const std::optional<std::string>& /*defaultText*/, const FrameInfo&,
        std::function<void(std::optional<std::string>)> completionHandler) {
        completionHandler(std::nullopt);
    }
};

}  // namespace wk
