#pragma once

#include <memory>
#include <vector>

#include "platform/ui/NavigationBar.h"
#include "platform/ui/ViewController.h"

namespace ui {

// A container that shows the top controller of a stack under a navigation bar. Its children
// hear its appearance callbacks; the status bar follows the top controller (its style only
// while the navigation bar is hidden, since a visible bar decides the style itself). While the
// bar shows, the top controller's view fills the space below it.
class NavigationController : public ViewController {
public:
    NavigationController() = default;
    // Makes a controller with `root` as the only controller of the stack.
    static std::shared_ptr<NavigationController> create(std::shared_ptr<ViewController> root);

    const std::vector<std::shared_ptr<ViewController>>& viewControllers() const {
        return childViewControllers();
    }
    // Replaces the stack; the top controller's view fills this controller's view.
    void setViewControllers(const std::vector<std::shared_ptr<ViewController>>& controllers);
    std::shared_ptr<ViewController> topViewController() const;
    // Puts `controller` on top: the old top leaves the screen and the new one comes on when
    // the navigation controller is on screen.
    void pushViewController(const std::shared_ptr<ViewController>& controller, bool animated);
    // Takes the top controller off (never the last one); the one under it comes back.
    std::shared_ptr<ViewController> popViewController(bool animated);

    void setNavigationBarHidden(bool hidden);
    // The bar, made with the view; null before the view has loaded.
    const std::shared_ptr<NavigationBar>& navigationBar() const { return bar_; }

    void viewDidLoad() override;
    std::shared_ptr<ViewController> childViewControllerForStatusBarHidden() const override;
    std::shared_ptr<ViewController> childViewControllerForStatusBarStyle() const override;

private:
    void showTopView();
    void replaceTop(const std::shared_ptr<ViewController>& from,
                    const std::shared_ptr<ViewController>& to, bool animated);

    bool navigationBarHidden_ = false;
    std::shared_ptr<NavigationBar> bar_;
};

}  // namespace ui
