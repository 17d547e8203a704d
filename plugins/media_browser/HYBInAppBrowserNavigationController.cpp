#include "plugins/media_browser/HYBInAppBrowserNavigationController.h"

#include "platform/ui/InterfaceOrientation.h"
#include "platform/ui/StatusBar.h"

std::shared_ptr<HYBInAppBrowserNavigationController> HYBInAppBrowserNavigationController::create(
    std::shared_ptr<ui::ViewController> root) {
    auto controller = std::make_shared<HYBInAppBrowserNavigationController>();
    controller->setViewControllers({std::move(root)});
    return controller;
}

void HYBInAppBrowserNavigationController::dismissViewController(bool animated,
                                                                std::function<void()> completion) {
    if (!presentedViewController()) return;
    ui::NavigationController::dismissViewController(animated, std::move(completion));
}

bool HYBInAppBrowserNavigationController::shouldAutorotate() const {
    if (auto delegate = orientationDelegate()) return delegate->shouldAutorotate();
    return true;
}

ui::InterfaceOrientationMask HYBInAppBrowserNavigationController::supportedInterfaceOrientations()
    const {
    if (auto delegate = orientationDelegate()) return delegate->supportedInterfaceOrientations();
    return ui::kInterfaceOrientationMaskPortrait;
}

ui::Rect HYBInAppBrowserNavigationController::invertFrameIfNeeded(const ui::Rect& rect) const {
    if (ui::isLandscape(ui::StatusBar::shared().orientation())) {
        return {0, 0, rect.height(), rect.width()};
    }
    return {0, 0, rect.width(), rect.height()};
}
