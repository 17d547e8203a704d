#pragma once

#include <functional>
#include <memory>

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/ViewController.h"
#include "platform/wk/WebView.h"

// The interactive sign-in screen: the directory's sign-in page in a web view, under a toolbar
// whose Cancel item gives the user a way back. It shows; the sign-in controller decides.
class DSWebAuthViewController : public ui::ViewController {
public:
    static constexpr double kToolbarHeight = 44;

    static std::shared_ptr<DSWebAuthViewController> create(std::function<void()> onCancel);
    explicit DSWebAuthViewController(std::function<void()> onCancel);

    void loadView() override;

    const std::shared_ptr<wk::WebView>& webView() {
        loadViewIfNeeded();
        return webView_;
    }
    const std::shared_ptr<ui::Toolbar>& toolbar() {
        loadViewIfNeeded();
        return toolbar_;
    }
    const std::shared_ptr<ui::BarButtonItem>& cancelButton() {
        loadViewIfNeeded();
        return cancelButton_;
    }

private:
    std::function<void()> onCancel_;
    std::shared_ptr<wk::WebView> webView_;
    std::shared_ptr<ui::Toolbar> toolbar_;
    std::shared_ptr<ui::BarButtonItem> cancelButton_;
};
