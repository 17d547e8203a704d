#pragma once

#include <functional>
#include <memory>

#include "bridge/HYBScreenOrientationDelegate.h"
#include "platform/ui/NavigationController.h"

// The navigation controller the in-app browser is presented in. It defers rotation to its
// orientation delegate and ignores requests to dismiss when it presents nothing, so that a
// stray dismissal cannot take the browser itself off screen.
class HYBInAppBrowserNavigationController : public ui::NavigationController {
public:
    static std::shared_ptr<HYBInAppBrowserNavigationController> create(
        std::shared_ptr<ui::ViewController> root);

    void dismissViewController(bool animated, std::function<void()> completion = {}) override;
    bool shouldAutorotate() const override;
    ui::InterfaceOrientationMask supportedInterfaceOrientations() const override;
    // The rectangle's size at the origin, width and height swapped while the status bar lies
    // in a landscape orientation.
    ui::Rect invertFrameIfNeeded(const ui::Rect& rect) const;

    std::shared_ptr<HYBScreenOrientationDelegate> orientationDelegate() const {
        return orientationDelegate_.lock();
    }
    void setOrientationDelegate(std::weak_ptr<HYBScreenOrientationDelegate> delegate) {
        orientationDelegate_ = std::move(delegate);
    }

private:
    std::weak_ptr<HYBScreenOrientationDelegate> orientationDelegate_;
};
