#include "platform/ui/NavigationController.h"

namespace ui {

std::shared_ptr<NavigationController> NavigationController::create(
    std::shared_ptr<ViewController> root) {
    auto nav = std::make_shared<NavigationController>();
    if (root) nav->setViewControllers({std::move(root)});
    return nav;
}

void NavigationController::setViewControllers(
    const std::vector<std::shared_ptr<ViewController>>& controllers) {
    for (auto& old : std::vector(childViewControllers())) {
        if (old->isViewLoaded()) old->view()->removeFromSuperview();
        old->removeFromParentViewController();
    }
    for (auto& c : controllers) addChildViewController(c);
    if (isViewLoaded()) showTopView();
}

std::shared_ptr<ViewController> NavigationController::topViewController() const {
    auto& stack = childViewControllers();
    return stack.empty() ? nullptr : stack.back();
}

void NavigationController::viewDidLoad() {
    ViewController::viewDidLoad();
    showTopView();
}

void NavigationController::showTopView() {
    auto top = topViewController();
    if (!top) return;
    auto view = top->view();
    view->setFrame(this->view()->bounds());
    view->setAutoresizingMask(kAutoresizingFlexibleWidth | kAutoresizingFlexibleHeight);
    this->view()->addSubview(view);
}

std::shared_ptr<ViewController> NavigationController::childViewControllerForStatusBarHidden()
    const {
    return topViewController();
}

std::shared_ptr<ViewController> NavigationController::childViewControllerForStatusBarStyle() const {
    return navigationBarHidden_ ? topViewController() : nullptr;
}

}  // namespace ui
