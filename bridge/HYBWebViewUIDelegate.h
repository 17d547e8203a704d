#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ns/Object.h"
#include "platform/wk/UIDelegate.h"

namespace ui {
class ViewController;
}  // namespace ui

// The main web view's panels and windows: the page's alert, confirm and prompt dialogs as
// native alerts titled with the application's name, and new windows (shown above the page
// when "AllowNewWindows" is on, otherwise loaded in the calling web view).
//
// Every dialog's completion runs exactly once: with the button the user pressed, or with the
// dismissed answer (OK, false, null) when the alert cannot be shown or goes away unanswered.
// Main thread only.
class HYBWebViewUIDelegate : public ns::Object, public wk::UIDelegate {
public:
    explicit HYBWebViewUIDelegate(std::optional<std::string> title);

    const std::optional<std::string>& title() const { return title_; }
    void setTitle(std::optional<std::string> title) { title_ = std::move(title); }
    bool allowNewWindows() const { return allowNewWindows_; }
    void setAllowNewWindows(bool allow) { allowNewWindows_ = allow; }
    // The controllers of the extra windows, oldest first.
    const std::vector<std::shared_ptr<ui::ViewController>>& windows() const { return windows_; }

    void runJavaScriptAlertPanel(const std::shared_ptr<wk::WebView>& webView,
                                 const std::string& message, const wk::FrameInfo& frame,
                                 std::function<void()> completionHandler) override;
    void runJavaScriptConfirmPanel(const std::shared_ptr<wk::WebView>& webView,
                                   const std::string& message, const wk::FrameInfo& frame,
                                   std::function<void(bool)> completionHandler) override;
    void runJavaScriptTextInputPanel(
        const std::shared_ptr<wk::WebView>& webView, const std::string& prompt,
        const std::optional<std::string>& defaultText, const wk::FrameInfo& frame,
        std::function<void(std::optional<std::string>)> completionHandler) override;

    std::shared_ptr<wk::WebView> createWebView(
        const std::shared_ptr<wk::WebView>& webView,
        const std::shared_ptr<wk::WebViewConfiguration>& configuration,
        const wk::NavigationAction& action, const wk::WindowFeatures& features) override;
    void webViewDidClose(const std::shared_ptr<wk::WebView>& webView) override;

private:
    std::vector<std::shared_ptr<ui::ViewController>> windows_;
    bool allowNewWindows_ = false;
    std::optional<std::string> title_;
};
