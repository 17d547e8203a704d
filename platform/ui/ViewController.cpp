#include "platform/ui/ViewController.h"

#include <algorithm>
#include <vector>

#include "platform/dispatch/RunLoop.h"
#include "platform/ns/Exception.h"
#include "platform/ns/Log.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/PresentationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TransitionCoordinator.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {

constexpr unsigned kFlexibleSize = kAutoresizingFlexibleWidth | kAutoresizingFlexibleHeight;

// Every live controller, so that a memory warning reaches each one; oldest first, so that
// the warning reaches them in a fixed order.
std::vector<ViewController*>& liveControllers() {
    static std::vector<ViewController*> live;
    return live;
}

void observeMemoryWarnings() {
    static bool observing = false;
    if (observing) return;
    observing = true;
    ns::NotificationCenter::defaultCenter().addObserver(
        kApplicationDidReceiveMemoryWarningNotification, nullptr, [](const ns::Notification&) {
            std::vector<std::shared_ptr<ViewController>> controllers;
            for (auto* c : liveControllers()) {
                if (auto held =
                        std::static_pointer_cast<ViewController>(c->weak_from_this().lock())) {
                    controllers.push_back(held);
                }
            }
            for (auto& c : controllers) c->didReceiveMemoryWarning();
        });
}

std::string describe(const ViewController& controller) {
    return controller.description();
}

bool contains(const std::vector<std::shared_ptr<ViewController>>& list, const ViewController* c) {
    return std::any_of(list.begin(), list.end(), [&](const auto& x) { return x.get() == c; });
}

}  // namespace

ViewController::ViewController() {
    liveControllers().push_back(this);
    observeMemoryWarnings();
}

ViewController::~ViewController() {
    auto& live = liveControllers();
    live.erase(std::find(live.begin(), live.end(), this));
    for (auto& child : children_) child->parent_ = nullptr;
}

std::shared_ptr<View> ViewController::view() {
    if (!view_) {
        loadView();
        if (!view_) view_ = View::create(Screen::main().bounds());
        viewDidLoad();
    }
    return view_;
}

void ViewController::loadView() {
    view_ = View::create(Screen::main().bounds());
}

void ViewController::viewWillTransitionToSize(Size size, TransitionCoordinator& coordinator) {
    for (auto& child : std::vector(children_)) child->viewWillTransitionToSize(size, coordinator);
    if (auto presented = presented_) presented->viewWillTransitionToSize(size, coordinator);
}

void ViewController::transitionViewToSize(Size size) {
    auto self = sharedController();
    auto shown = view();
    TransitionCoordinator::transition(
        size,
        [&](TransitionCoordinator& coordinator) { viewWillTransitionToSize(size, coordinator); },
        [&] {
            shown->setFrame({shown->frame().origin, size});
        });
}

// --- Appearance --------------------------------------------------------------------------

void ViewController::beginAppearance(bool appearing, bool animated) {
    auto self = sharedController();
    if (appearing) {
        if (appearance_ == Appearance::Appearing || appearance_ == Appearance::Appeared) return;
        loadViewIfNeeded();
        appearance_ = Appearance::Appearing;
        viewWillAppear(animated);
        for (auto& child : std::vector(children_)) child->beginAppearance(true, animated);
        viewWillLayoutSubviews();
        viewDidLayoutSubviews();
    } else {
        if (appearance_ == Appearance::Disappearing || appearance_ == Appearance::Disappeared)
            return;
        appearance_ = Appearance::Disappearing;
        viewWillDisappear(animated);
        for (auto& child : std::vector(children_)) child->beginAppearance(false, animated);
    }
}

void ViewController::endAppearance(bool animated) {
    auto self = sharedController();
    if (appearance_ == Appearance::Appearing) {
        appearance_ = Appearance::Appeared;
        viewDidAppear(animated);
    } else if (appearance_ == Appearance::Disappearing) {
        appearance_ = Appearance::Disappeared;
        viewDidDisappear(animated);
    } else {
        return;
    }
    for (auto& child : std::vector(children_)) child->endAppearance(animated);
}

namespace {

std::function<void()>& presentationObserver() {
    static std::function<void()> observer;
    return observer;
}

}  // namespace

void ViewController::setPresentationObserver(std::function<void()> observer) {
    presentationObserver() = std::move(observer);
}

void ViewController::notifyPresentationObserver() {
    Display::setNeedsUpdate();
    if (auto& observer = presentationObserver()) observer();
}

void ViewController::transitionAppearance(
    const std::vector<std::shared_ptr<ViewController>>& before,
    const std::vector<std::shared_ptr<ViewController>>& after, bool animated,
    std::function<void()> completion) {
    std::vector<std::shared_ptr<ViewController>> changed;
    for (auto& c : before) {
        if (!contains(after, c.get())) {
            c->beginAppearance(false, animated);
            changed.push_back(c);
        }
    }
    for (auto& c : after) {
        if (!contains(before, c.get()) || c->appearance_ == Appearance::Disappeared ||
            c->appearance_ == Appearance::Disappearing) {
            c->beginAppearance(true, animated);
            changed.push_back(c);
        }
    }
    dispatch::RunLoop::main().post(
        [changed = std::move(changed), animated, completion = std::move(completion)] {
            for (auto& c : changed) c->endAppearance(animated);
            if (completion) completion();
            StatusBar::shared().updateFromViewControllers();
        });
}

// --- Presentation ------------------------------------------------------------------------

bool ViewController::coversPresenter(ModalPresentationStyle style) {
    return style == ModalPresentationStyle::FullScreen ||
           style == ModalPresentationStyle::CurrentContext;
}

bool ViewController::liesBelowStatusBar(ModalPresentationStyle style) {
    return !coversPresenter(style) && style != ModalPresentationStyle::Custom;
}

double ViewController::statusBarInset() {
    const auto& bar = StatusBar::shared();
    if (!liesBelowStatusBar(presentationStyle_) || bar.isHiddenOver(sharedController())) return 0;
    return bar.frame().height();
}

void ViewController::placePresentedViews() {
    for (const auto& window : Window::windows()) {
        const auto& root = window->rootViewController();
        if (!root) continue;
        const auto chain = root->presentationChain();
        for (size_t i = 1; i < chain.size(); ++i) {
            const auto& presented = chain[i];
            if (!presented->isViewLoaded() || presented->view_->superview() != window) continue;
            const Rect frame = presented->view_->frame();
            const double top = window->bounds().y() + presented->statusBarInset();
            presented->view_->setFrame(
                {frame.x(), top, frame.width(), std::max(0.0, frame.maxY() - top)});
        }
    }
}

ViewController& ViewController::outermostParent() {
    ViewController* c = this;
    while (c->parent_) c = c->parent_;
    return *c;
}

std::vector<std::shared_ptr<ViewController>> ViewController::presentationChain() {
    std::vector<std::shared_ptr<ViewController>> chain{sharedController()};
    while (auto next = chain.back()->presented_) chain.push_back(next);
    return chain;
}

void ViewController::presentViewController(const std::shared_ptr<ViewController>& controller,
                                           bool animated, std::function<void()> completion) {
    if (!controller) return;
    ViewController& host = outermostParent();
    if (&host != this) {
        host.presentViewController(controller, animated, std::move(completion));
        return;
    }
    if (controller.get() == this || controller->presenting_.lock() || controller->parent_) {
        throw ns::Exception(ns::kInvalidArgumentException,
                            "Application tried to present modally a view controller " +
                                describe(*controller) + " that is already active.");
    }
    auto win = window();
    if (!win || win->isHidden()) {
        ns::Log::write(ns::LogLevel::Default, "Attempt to present " + describe(*controller) +
                                                  " on " + describe(*this) +
                                                  " whose view is not in the window hierarchy.");
        return;
    }
    if (presented_) {
        ns::Log::write(ns::LogLevel::Default,
                       "Attempt to present " + describe(*controller) + " on " + describe(*this) +
                           " which is already presenting " + describe(*presented_) + ".");
        return;
    }
    auto before = win->visibleControllers();
    presented_ = controller;
    controller->presenting_ = sharedController();
    auto view = controller->view();
    const Rect bounds = win->bounds();
    const double top = bounds.y() + controller->statusBarInset();
    view->setFrame({bounds.x(), top, bounds.width(), std::max(0.0, bounds.maxY() - top)});
    view->setAutoresizingMask(kFlexibleSize);
    win->addSubview(view);
    transitionAppearance(before, win->visibleControllers(), animated, std::move(completion));
    notifyPresentationObserver();
}

void ViewController::dismissViewController(bool animated, std::function<void()> completion) {
    if (presented_) {
        dismissPresented(animated, std::move(completion));
    } else if (auto presenter = presentingViewController()) {
        presenter->dismissPresented(animated, std::move(completion));
    }
}

void ViewController::dismissPresented(bool animated, std::function<void()> completion) {
    if (!presented_) return;
    auto self = sharedController();
    auto win = window();
    auto before = win ? win->visibleControllers() : std::vector<std::shared_ptr<ViewController>>();
    auto dismissed = presented_->presentationChain();
    presented_ = nullptr;
    for (auto& c : dismissed) {
        c->presenting_.reset();
        c->presented_ = nullptr;
        if (c->isViewLoaded()) c->view_->removeFromSuperview();
    }
    auto after = win ? win->visibleControllers() : std::vector<std::shared_ptr<ViewController>>();
    transitionAppearance(before, after, animated, std::move(completion));
    notifyPresentationObserver();
}

std::shared_ptr<ViewController> ViewController::presentingViewController() const {
    if (auto p = presenting_.lock()) return p;
    if (auto parent = parentViewController()) return parent->presentingViewController();
    return nullptr;
}

PresentationController& ViewController::presentationController() {
    if (!presentationController_) {
        presentationController_ = std::make_unique<PresentationController>(*this);
    }
    return *presentationController_;
}

// --- Containment ---------------------------------------------------------------------------

std::shared_ptr<ViewController> ViewController::parentViewController() const {
    if (!parent_) return nullptr;
    return std::static_pointer_cast<ViewController>(parent_->weak_from_this().lock());
}

void ViewController::addChildViewController(const std::shared_ptr<ViewController>& child) {
    if (!child || child.get() == this || child->parent_ == this) return;
    child->removeFromParentViewController();
    children_.push_back(child);
    child->parent_ = this;
}

void ViewController::removeFromParentViewController() {
    if (!parent_) return;
    auto self = sharedController();
    auto& siblings = parent_->children_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), self), siblings.end());
    parent_ = nullptr;
}

std::shared_ptr<NavigationController> ViewController::navigationController() const {
    for (auto c = parentViewController(); c; c = c->parentViewController()) {
        if (auto nav = std::dynamic_pointer_cast<NavigationController>(c)) return nav;
    }
    return nullptr;
}

std::shared_ptr<Window> ViewController::window() const {
    if (view_) {
        if (auto w = view_->window()) return w;
    }
    if (auto parent = parentViewController()) return parent->window();
    return nullptr;
}

// --- Orientation and status bar ------------------------------------------------------------

InterfaceOrientationMask ViewController::supportedInterfaceOrientations() const {
    return Device::current().userInterfaceIdiom() == Device::Idiom::Pad
               ? kInterfaceOrientationMaskAll
               : kInterfaceOrientationMaskAllButUpsideDown;
}

void ViewController::setNeedsStatusBarAppearanceUpdate() {
    StatusBar::shared().updateFromViewControllers();
}

}  // namespace ui
