#pragma once

#include <memory>
#include <optional>

#include "platform/ui/ApplicationDelegate.h"

class HYBViewController;

namespace ui {
class Window;
}  // namespace ui

// The host's application delegate: makes the window and shows the root view controller at
// launch, announces the URLs the application is asked to open to the plug-ins, and allows
// every orientation at the application level (the root controller narrows them).
class HYBAppDelegate : public ui::ApplicationDelegate {
public:
    HYBAppDelegate() = default;

    bool implements(ui::DelegateOp op) const override;

    // A window of the main screen's size with the view controller as its root (a plain
    // HYBViewController when none was set), made key and visible. Answers true.
    bool didFinishLaunchingWithOptions(ui::Application& application,
                                       const ns::Dictionary& launchOptions) override;
    // Posts the open-URL notifications (the URL; the URL with its source application and
    // annotation) and answers true; answers false, posting nothing, without a URL.
    bool openURL(ui::Application& application, const std::optional<ns::URL>& url,
                 const ns::Dictionary& options) override;
    ui::InterfaceOrientationMask supportedInterfaceOrientationsForWindow(
        ui::Application& application, const std::shared_ptr<ui::Window>& window) override;

    const std::shared_ptr<ui::Window>& window() const { return window_; }
    void setWindow(std::shared_ptr<ui::Window> window) { window_ = std::move(window); }
    const std::shared_ptr<HYBViewController>& viewController() const { return viewController_; }
    void setViewController(std::shared_ptr<HYBViewController> controller) {
        viewController_ = std::move(controller);
    }

private:
    std::shared_ptr<ui::Window> window_;
    std::shared_ptr<HYBViewController> viewController_;
};
