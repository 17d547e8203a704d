#include "platform/ui/NavigationController.h"

#include <algorithm>

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

void NavigationController::pushViewController(const std::shared_ptr<ViewController>& controller,
                                              bool animated) {
    if (!controller) return;
    auto from = topViewController();
    if (from && from->isViewLoaded()) from->view()->removeFromSuperview();
    addChildViewController(controller);
    if (isViewLoaded()) showTopView();
    replaceTop(from, controller, animated);
}

std::shared_ptr<ViewController> NavigationController::popViewController(bool animated) {
    if (childViewControllers().size() < 2) return nullptr;
    auto from = topViewController();
    if (from->isViewLoaded()) from->view()->removeFromSuperview();
    from->removeFromParentViewController();
    auto to = topViewController();
    if (isViewLoaded()) showTopView();
    replaceTop(from, to, animated);
    return from;
}

void NavigationController::replaceTop(const std::shared_ptr<ViewController>& from,
                                      const std::shared_ptr<ViewController>& to, bool animated) {
    // Off screen the children hear nothing now; they follow this controller when it appears.
    if (appearance() != Appearance::Appeared && appearance() != Appearance::Appearing) return;
    std::vector<std::shared_ptr<ViewController>> before;
    if (from) before.push_back(from);
    transitionAppearance(before, {to}, animated);
}

void NavigationController::setNavigationBarHidden(bool hidden) {
    navigationBarHidden_ = hidden;
    if (isViewLoaded()) showTopView();
}

void NavigationController::viewDidLoad() {
    ViewController::viewDidLoad();
    const Rect bounds = view()->bounds();
    bar_ = std::make_shared<NavigationBar>(Rect{{0, 0}, {bounds.width(), NavigationBar::kHeight}},
                                           sharedSelf<NavigationController>());
    bar_->setAutoresizingMask(kAutoresizingFlexibleWidth);
    view()->addSubview(bar_);
    showTopView();
}

void NavigationController::showTopView() {
    if (bar_) {
        bar_->setHidden(navigationBarHidden_);
        view()->bringSubviewToFront(bar_);
    }
    auto top = topViewController();
    if (!top) return;
    auto view = top->view();
    Rect frame = this->view()->bounds();
    if (bar_ && !navigationBarHidden_) {
        frame.origin.y += NavigationBar::kHeight;
        frame.size.height = std::max(0.0, frame.size.height - NavigationBar::kHeight);
    }
    view->setFrame(frame);
    view->setAutoresizingMask(kAutoresizingFlexibleWidth | kAutoresizingFlexibleHeight);
    if (view->superview().get() != this->view().get()) this->view()->insertSubview(view, 0);
}

std::shared_ptr<ViewController> NavigationController::childViewControllerForStatusBarHidden()
    const {
    return topViewController();
}

std::shared_ptr<ViewController> NavigationController::childViewControllerForStatusBarStyle() const {
    return navigationBarHidden_ ? topViewController() : nullptr;
}

}  // namespace ui
