#pragma once

#include <memory>
#include <string>

#include "platform/ui/ViewController.h"
#include "platform/wk/UIDelegate.h"

// Shows the browser page's alert, confirm and prompt as native alerts over the browser.
class HYBWKInAppBrowserUIDelegate : public wk::UIDelegate {
public:
    explicit HYBWKInAppBrowserUIDelegate(std::string title) : title_(std::move(title)) {}

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

    const std::string& title() const { return title_; }
    void setTitle(std::string title) { title_ = std::move(title); }
    // Held weakly: the browser view controller owns this delegate.
    std::shared_ptr<ui::ViewController> getViewController() const { return viewController_.lock(); }
    void setViewController(std::weak_ptr<ui::ViewController> controller) {
        viewController_ = std::move(controller);
    }

private:
    std::string title_;
    std::weak_ptr<ui::ViewController> viewController_;
};
