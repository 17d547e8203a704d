#include "platform/ui/StatusBar.h"

#include <functional>
#include <vector>

#include "platform/ns/NotificationCenter.h"
#include "platform/ns/SharedInstance.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {

using DeferTo = std::shared_ptr<ViewController> (ViewController::*)() const;

// The controller that answers for `controller`: the child it defers to, and so on down.
std::shared_ptr<ViewController> answeringFor(std::shared_ptr<ViewController> controller,
                                             DeferTo deferTo) {
    while (auto child = ((*controller).*deferTo)()) controller = std::move(child);
    return controller;
}

// The controller whose answers stand for the key window's: the topmost presented controller
// that hides what is under it (or the root), then the children it defers to.
std::shared_ptr<ViewController> governingController(DeferTo deferTo) {
    auto window = Window::keyWindow();
    auto root = window ? window->rootViewController() : nullptr;
    if (!root) return nullptr;
    auto governing = root;
    for (auto& controller : root->presentationChain()) {
        if (controller != root &&
            ViewController::coversPresenter(controller->modalPresentationStyle())) {
            governing = controller;
        }
    }
    return answeringFor(governing, deferTo);
}

void collectScrollViewsToTop(const std::shared_ptr<View>& view,
                             std::vector<std::shared_ptr<ScrollView>>& found) {
    if (view->isHidden()) return;
    if (auto scroll = std::dynamic_pointer_cast<ScrollView>(view);
        scroll && scroll->scrollsToTop()) {
        found.push_back(scroll);
    }
    for (auto& child : view->subviews()) collectScrollViewsToTop(child, found);
}

}  // namespace

StatusBar& StatusBar::shared() {
    return ns::SharedInstance<StatusBar>::get();
}

bool StatusBar::isHiddenOver(const std::shared_ptr<ViewController>& screen) const {
    if (hidden_ || !screen) return hidden_;
    return vcBased_ && answeringFor(screen, &ViewController::childViewControllerForStatusBarHidden)
                           ->prefersStatusBarHidden();
}

void StatusBar::setHidden(bool hidden) {
    if (!vcBased_) apply(hidden, style_);
}

void StatusBar::setStyle(Style style) {
    if (!vcBased_) apply(hidden_, style);
}

void StatusBar::setViewControllerBasedAppearance(bool on) {
    vcBased_ = on;
    updateFromViewControllers();
}

StatusBar::Style StatusBar::styleOver(const std::shared_ptr<ViewController>& screen) const {
    if (screen && ViewController::liesBelowStatusBar(screen->modalPresentationStyle())) {
        return Style::LightContent;
    }
    return style_;
}

void StatusBar::updateFromViewControllers() {
    if (vcBased_) {
        auto forHidden =
            governingController(&ViewController::childViewControllerForStatusBarHidden);
        auto forStyle = governingController(&ViewController::childViewControllerForStatusBarStyle);
        if (forHidden && forStyle) {
            apply(forHidden->prefersStatusBarHidden(), forStyle->preferredStatusBarStyle());
        }
    }
    // A screen that does not govern the bar may still prefer it hidden over itself.
    ViewController::placePresentedViews();
}

void StatusBar::apply(bool hidden, Style style) {
    Display::update(style_, style);
    if (hidden == hidden_) return;
    Rect before = frame();
    hidden_ = hidden;
    // Observers may change the bar again; each hears the value current when it is called.
    auto observers = observers_;
    for (auto& [token, observer] : observers) {
        if (observers_.count(token)) observer(hidden_);
    }
    frameMayHaveChanged(before);
}

Rect StatusBar::frame() const {
    if (hidden_) return Rect::zero();
    return {0, 0, Screen::main().bounds().width(), height_};
}

Color StatusBar::contentColor(Style style) {
    return style == Style::LightContent ? Color::whiteColor() : Color::blackColor();
}

void StatusBar::setHeight(double height) {
    Rect before = frame();
    height_ = height;
    frameMayHaveChanged(before);
}

void StatusBar::setOrientation(InterfaceOrientation orientation) {
    Rect before = frame();
    orientation_ = orientation;
    frameMayHaveChanged(before);
}

void StatusBar::frameMayHaveChanged(const Rect& before) {
    if (frame() == before) return;
    ViewController::placePresentedViews();
    Display::setNeedsUpdate();
    ns::NotificationCenter::defaultCenter().post(kApplicationDidChangeStatusBarFrameNotification);
}

int StatusBar::addHiddenObserver(std::function<void(bool)> observer) {
    int token = nextToken_++;
    observers_[token] = std::move(observer);
    return token;
}

void StatusBar::removeHiddenObserver(int token) {
    observers_.erase(token);
}

bool StatusBar::tap() {
    auto window = Window::keyWindow();
    if (!window || hidden_) return false;
    std::vector<std::shared_ptr<ScrollView>> candidates;
    collectScrollViewsToTop(window, candidates);
    // With several candidates the platform cannot tell which one is meant and scrolls none.
    if (candidates.size() != 1) return false;
    return candidates.front()->scrollToTopForStatusBarTap();
}

}  // namespace ui
