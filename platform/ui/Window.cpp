#include "platform/ui/Window.h"

#include <algorithm>

#include "platform/ui/StatusBar.h"
#include "platform/ui/TransitionCoordinator.h"
#include "platform/ui/ViewController.h"

namespace ui {
namespace {

// Windows in the order they were last shown; hidden and released ones are skipped on read.
std::vector<std::weak_ptr<Window>>& shownOrder() {
    static std::vector<std::weak_ptr<Window>> order;
    return order;
}

std::weak_ptr<Window>& keySlot() {
    static std::weak_ptr<Window> key;
    return key;
}

constexpr unsigned kFlexibleSize = kAutoresizingFlexibleWidth | kAutoresizingFlexibleHeight;

}  // namespace

Window::Window(Rect frame) : View(frame) {
    View::setHidden(true);
}

Window::~Window() {
    Display::setNeedsUpdate();
}

void Window::setRootViewController(std::shared_ptr<ViewController> controller) {
    changeScreen(isHidden(), std::move(controller));
}

void Window::makeKeyAndVisible() {
    setHidden(false);
    makeKeyWindow();
}

void Window::makeKeyWindow() {
    keySlot() = sharedWindow();
    StatusBar::shared().updateFromViewControllers();
}

bool Window::isKeyWindow() const {
    return keySlot().lock().get() == this;
}

void Window::setHidden(bool hidden) {
    if (hidden != isHidden()) changeScreen(hidden, root_);
}

void Window::changeScreen(bool hidden, std::shared_ptr<ViewController> root) {
    auto self = sharedWindow();
    auto before = visibleControllers();
    if (root_ != root && root_ && root_->isViewLoaded() &&
        root_->view()->superview().get() == this) {
        root_->view()->removeFromSuperview();
    }
    root_ = std::move(root);
    View::setHidden(hidden);
    auto& order = shownOrder();
    std::erase_if(order, [&](const auto& w) { return w.expired() || w.lock() == self; });
    if (!hidden) {
        order.push_back(self);
        installRootView();
    } else if (isKeyWindow()) {
        auto visible = windows();
        keySlot() = visible.empty() ? std::weak_ptr<Window>() : visible.back();
    }
    ViewController::transitionAppearance(before, visibleControllers(), false);
    Display::setNeedsUpdate();
}

void Window::installRootView() {
    if (!root_) return;
    auto view = root_->view();
    if (view->superview().get() == this) return;
    view->setFrame(bounds());
    view->setAutoresizingMask(kFlexibleSize);
    insertSubview(view, 0);
}

std::vector<std::shared_ptr<ViewController>> Window::visibleControllers() {
    if (isHidden() || !root_) return {};
    auto chain = root_->presentationChain();
    size_t start = 0;
    for (size_t i = 1; i < chain.size(); ++i) {
        if (ViewController::coversPresenter(chain[i]->modalPresentationStyle())) start = i;
    }
    return {chain.begin() + static_cast<ptrdiff_t>(start), chain.end()};
}

void Window::transitionToSize(Size size) {
    auto self = sharedWindow();
    TransitionCoordinator::transition(
        size,
        [&](TransitionCoordinator& coordinator) {
            if (root_) root_->viewWillTransitionToSize(size, coordinator);
        },
        [&] {
            setFrame({frame().origin, size});
        });
}

std::shared_ptr<Window> Window::keyWindow() {
    auto key = keySlot().lock();
    return key && !key->isHidden() ? key : nullptr;
}

std::vector<std::shared_ptr<Window>> Window::windows() {
    std::vector<std::shared_ptr<Window>> visible;
    for (auto& w : shownOrder()) {
        if (auto window = w.lock(); window && !window->isHidden()) visible.push_back(window);
    }
    std::stable_sort(visible.begin(), visible.end(),
                     [](const auto& a, const auto& b) { return a->level_ < b->level_; });
    return visible;
}

}  // namespace ui
