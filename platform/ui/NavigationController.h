#pragma once

#include <memory>
#include <vector>

#include "platform/ui/ViewController.h"

namespace ui {

// A container that shows the top controller of a stack under a navigation bar. Its children
// hear its appearance callbacks; the status bar follows the top controller (its style only
// while the navigation bar is hidden, since a visible bar decides the style itself).
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

    bool isNavigationBarHidden() const { return navigationBarHidden_; }
    void setNavigationBarHidden(bool hidden) { navigationBarHidden_ = hidden; }

    void viewDidLoad() override;
    std::shared_ptr<ViewController> childViewControllerForStatusBarHidden() const override;
    std::shared_ptr<ViewController> childViewControllerForStatusBarStyle() const override;

  private:
    void showTopView();

    bool navigationBarHidden_ = false;
};

}  // namespace ui
