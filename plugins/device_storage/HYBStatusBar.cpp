#include "plugins/device_storage/HYBStatusBar.h"

#include <functional>

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBPluginResult.h"
#include "bridge/HYBViewController.h"
#include "bridge/NSDictionary+HybridPreferences.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/QueueContract.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ns/StringComponents.h"
#include "platform/ns/UTF16.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "platform/wk/WebView.h"
#include "plugins/device_storage/HYBViewController+StatusBar.h"
#include "toolbox/Foundation/NSDK_TBXSystemVersion.h"

namespace {

constexpr const char* kViewControllerBasedAppearanceKey =
    "UIViewControllerBasedStatusBarAppearance";
constexpr double kResizeDelaySeconds = 0.1;

// From 13.0 on the default style follows the system's appearance; a page that asks for the
// default wants dark text on a light page, as before.
ui::StatusBar::Style defaultStyle() {
    return NSDK_TBXSystemVersion::isSystemVersionAtLeast("13.0") ? ui::StatusBar::Style::DarkContent
                                                                 : ui::StatusBar::Style::Default;
}

// The bounds of the window that shows the view; the zero rectangle without one.
ui::Rect windowBounds(const std::shared_ptr<ui::View>& view) {
    auto window = view ? view->window() : nullptr;
    return window ? window->bounds() : ui::Rect::zero();
}

}  // namespace

HYBStatusBar::HYBStatusBar() {
    registerAction("_ready", &HYBStatusBar::ready);
    registerAction("overlaysWebView", &HYBStatusBar::overlaysWebView);
    registerAction("styleDefault", &HYBStatusBar::styleDefault);
    registerAction("styleLightContent", &HYBStatusBar::styleLightContent);
    registerAction("backgroundColorByName", &HYBStatusBar::backgroundColorByName);
    registerAction("backgroundColorByHexString", &HYBStatusBar::backgroundColorByHexString);
    registerAction("hide", &HYBStatusBar::hide);
    registerAction("show", &HYBStatusBar::show);
}

HYBStatusBar::~HYBStatusBar() {
    if (hiddenObserverToken_) ui::StatusBar::shared().removeHiddenObserver(*hiddenObserverToken_);
}

std::optional<std::string> HYBStatusBar::settingForKey(const std::string& key) const {
    auto delegate = commandDelegate();
    if (!delegate) return std::nullopt;
    const ns::Dictionary settings = delegate->settings();
    const ns::Value* value = hybridSettingForKey(settings, key);
    if (!value || value->isNull()) return std::nullopt;
    return value->stringValue();
}

void HYBStatusBar::later(std::function<void(HYBStatusBar&)> work) {
    std::weak_ptr<HYBStatusBar> weakSelf = sharedSelf<HYBStatusBar>();
    dispatch::Queue::main().asyncAfter(dispatch::seconds(kResizeDelaySeconds), [weakSelf, work] {
        if (auto self = weakSelf.lock()) work(*self);
    });
}

void HYBStatusBar::pluginInitialize() {
    const ns::Dictionary& info = ns::Bundle::mainBundle()->infoDictionary();
    auto vcBased = info.find(kViewControllerBasedAppearanceKey);
    uiviewControllerBasedStatusBarAppearance_ =
        vcBased == info.end() || vcBased->second.boolValue();

    std::weak_ptr<HYBStatusBar> weakSelf = sharedSelf<HYBStatusBar>();
    hiddenObserverToken_ = ui::StatusBar::shared().addHiddenObserver([weakSelf](bool hidden) {
        if (auto self = weakSelf.lock()) self->updateIsVisible(!hidden);
    });
    auto& center = ns::NotificationCenter::defaultCenter();
    center.addObserver(this, ui::kApplicationDidChangeStatusBarFrameNotification, nullptr,
                       [weakSelf](const ns::Notification&) {
                           if (auto self = weakSelf.lock()) self->statusBarDidChangeFrame();
                       });
    center.addObserver(this, HYBViewWillAppearNotification, nullptr,
                       [weakSelf](const ns::Notification&) {
                           if (auto self = weakSelf.lock()) self->hybridViewWillAppear();
                       });

    auto controller = viewController();
    statusBarOverlaysWebView_ = true;
    initializeStatusBarBackgroundView();
    if (controller) controller->view()->setAutoresizesSubviews(true);

    if (auto color = settingForKey("StatusBarBackgroundColor")) {
        backgroundColorFromHexString(*color);
    }
    if (auto style = settingForKey("StatusBarStyle")) setStatusBarStyle(*style);
    auto scrollToTop = settingForKey("StatusBarDefaultScrollToTop");
    if (auto web = webView()) {
        web->scrollView()->setScrollsToTop(scrollToTop && ns::Value(*scrollToTop).boolValue());
    }

    // Taps on the bar scroll the one scroll view that scrolls to top; this one never moves
    // and tells the page instead.
    const ui::Rect screen = ui::Screen::main().bounds();
    fakeScrollView_ = ui::ScrollView::create(screen);
    fakeScrollView_->setDelegate(std::shared_ptr<ui::ScrollViewDelegate>(
        shared_from_this(), static_cast<ui::ScrollViewDelegate*>(this)));
    fakeScrollView_->setScrollsToTop(true);
    if (controller) {
        controller->view()->addSubview(fakeScrollView_);
        controller->view()->sendSubviewToBack(fakeScrollView_);
    }
    fakeScrollView_->setContentSize({screen.width(), screen.height() * 2});
    fakeScrollView_->setContentOffset({0, screen.height()});

    statusBarVisible_ = !ui::StatusBar::shared().isHidden();
}

void HYBStatusBar::onReset() {
    eventsCallbackId_.reset();
}

// --- Events ---------------------------------------------------------------------------------

void HYBStatusBar::sendEvent(std::shared_ptr<HYBPluginResult> result) {
    if (!eventsCallbackId_) return;
    result->setKeepCallbackAsBool(true);
    sendToPage(result, eventsCallbackId_);
}

void HYBStatusBar::updateIsVisible(bool visible) {
    sendEvent(HYBPluginResult::resultWithStatusMessageAsBool(HYBResultStatusOK, visible));
}

void HYBStatusBar::fireTappedEvent() {
    sendEvent(
        HYBPluginResult::resultWithStatusMessageAsDictionary(HYBResultStatusOK, {{"type", "tap"}}));
}

bool HYBStatusBar::scrollViewShouldScrollToTop(ui::ScrollView&) {
    fireTappedEvent();
    return false;
}

// --- Page actions ---------------------------------------------------------------------------

void HYBStatusBar::ready(const HYBInvokedUrlCommand& command) {
    eventsCallbackId_ = command.callbackId();
    updateIsVisible(!ui::StatusBar::shared().isHidden());
    if (auto overlays = settingForKey("StatusBarOverlaysWebView")) {
        setStatusBarOverlaysWebView(ns::Value(*overlays).boolValue());
        if (statusBarOverlaysWebView_) resizeWebView();
    }
}

void HYBStatusBar::overlaysWebView(const HYBInvokedUrlCommand& command) {
    HYB_EXPECT_MAIN_THREAD();
    const ns::Value value = command.argumentAtIndex(0);
    // A JSON true or false arrives as a boolean, a 0 or 1 as a number; anything else is true.
    const bool overlays = value.isBool() || value.isNumber() ? value.boolValue() : true;
    setStatusBarOverlaysWebView(overlays);
}

void HYBStatusBar::styleDefault(const HYBInvokedUrlCommand&) {
    HYB_EXPECT_MAIN_THREAD();
    setStyleForStatusBar(defaultStyle());
}

void HYBStatusBar::styleLightContent(const HYBInvokedUrlCommand&) {
    HYB_EXPECT_MAIN_THREAD();
    setStyleForStatusBar(ui::StatusBar::Style::LightContent);
}

void HYBStatusBar::backgroundColorByName(const HYBInvokedUrlCommand& command) {
    HYB_EXPECT_MAIN_THREAD();
    const ns::Value value = command.argumentAtIndex(0, "black", &ns::Value::isString);
    // Only the colour class's own named colours: the page's text picks from a fixed table and
    // never names an operation to run.
    std::optional<ui::Color> color = ui::Color::fromConstructorName(*value.string() + "Color");
    if (color && statusBarBackgroundView_) statusBarBackgroundView_->setBackgroundColor(*color);
}

void HYBStatusBar::backgroundColorByHexString(const HYBInvokedUrlCommand& command) {
    HYB_EXPECT_MAIN_THREAD();
    const ns::Value value = command.argumentAtIndex(0, "#000000", &ns::Value::isString);
    const std::string& hex = *value.string();
    if (hex.empty() || hex.front() != '#' || ns::utf16Length(hex) < 7) return;
    backgroundColorFromHexString(hex);
}

void HYBStatusBar::hide(const HYBInvokedUrlCommand&) {
    HYB_EXPECT_MAIN_THREAD();
    statusBarVisible_ = false;
    if (ui::StatusBar::shared().isHidden()) return;
    hideStatusBar();
    if (statusBarBackgroundView_) statusBarBackgroundView_->removeFromSuperview();
    resizeWebView();
    if (statusBarBackgroundView_) statusBarBackgroundView_->setHidden(true);
}

void HYBStatusBar::show(const HYBInvokedUrlCommand&) {
    HYB_EXPECT_MAIN_THREAD();
    statusBarVisible_ = true;
    if (!ui::StatusBar::shared().isHidden()) return;
    showStatusBar();
    resizeWebView();
    if (!statusBarOverlaysWebView_) {
        resizeStatusBarBackgroundView();
        auto web = webView();
        auto superview = web ? web->superview() : nullptr;
        if (superview && statusBarBackgroundView_) superview->addSubview(statusBarBackgroundView_);
    }
    if (statusBarBackgroundView_) statusBarBackgroundView_->setHidden(false);
}

// --- Operations -----------------------------------------------------------------------------

void HYBStatusBar::setStatusBarOverlaysWebView(bool overlays) {
    if (overlays == statusBarOverlaysWebView_) return;
    statusBarOverlaysWebView_ = overlays;
    resizeWebView();
    if (!overlays) {
        initializeStatusBarBackgroundView();
        auto web = webView();
        auto superview = web ? web->superview() : nullptr;
        if (superview) superview->addSubview(statusBarBackgroundView_);
    } else if (statusBarBackgroundView_) {
        statusBarBackgroundView_->removeFromSuperview();
    }
}

void HYBStatusBar::setStatusBarStyle(const std::string& style) {
    const std::string name = ns::asciiLowercased(style);
    if (name == "default") setStyleForStatusBar(defaultStyle());
    if (name == "lightcontent") setStyleForStatusBar(ui::StatusBar::Style::LightContent);
}

void HYBStatusBar::setStyleForStatusBar(ui::StatusBar::Style style) {
    if (!uiviewControllerBasedStatusBarAppearance_) {
        ui::StatusBar::shared().setStyle(style);
        return;
    }
    if (auto controller = viewController()) setSb_statusBarStyle(*controller, style);
    refreshStatusBarAppearance();
}

void HYBStatusBar::hideStatusBar() {
    setStatusBarHidden(true);
}

void HYBStatusBar::showStatusBar() {
    setStatusBarHidden(false);
}

void HYBStatusBar::setStatusBarHidden(bool hidden) {
    if (!uiviewControllerBasedStatusBarAppearance_) {
        ui::StatusBar::shared().setHidden(hidden);
        return;
    }
    if (auto controller = viewController()) setSb_hideStatusBar(*controller, hidden);
    refreshStatusBarAppearance();
}

void HYBStatusBar::refreshStatusBarAppearance() {
    if (auto controller = viewController()) controller->setNeedsStatusBarAppearanceUpdate();
}

void HYBStatusBar::initializeStatusBarBackgroundView() {
    const ui::StatusBar& bar = ui::StatusBar::shared();
    ui::Rect frame = bar.frame();
    auto controller = viewController();
    if (bar.orientation() == ui::InterfaceOrientation::PortraitUpsideDown && controller &&
        frame.maxY() == windowBounds(controller->view()).height()) {
        frame.origin.y = 0;
    }
    statusBarBackgroundView_ = ui::View::create(frame);
    statusBarBackgroundView_->setBackgroundColor(statusBarBackgroundColor_);
    statusBarBackgroundView_->setAutoresizingMask(ui::kAutoresizingFlexibleWidth |
                                                  ui::kAutoresizingFlexibleBottomMargin);
    statusBarBackgroundView_->setAutoresizesSubviews(true);
}

void HYBStatusBar::resizeStatusBarBackgroundView() {
    if (!statusBarBackgroundView_) return;
    const ui::Rect bar = ui::StatusBar::shared().frame();
    statusBarBackgroundView_->setFrame({statusBarBackgroundView_->frame().origin, bar.size});
}

void HYBStatusBar::resizeWebView() {
    auto controller = viewController();
    auto web = webView();
    if (!controller || !web) return;
    ui::Rect bounds = windowBounds(controller->view());
    if (bounds == ui::Rect::zero()) bounds = ui::Screen::main().bounds();
    controller->view()->setFrame(bounds);
    web->setFrame(bounds);

    const double height = ui::StatusBar::shared().frame().height();
    ui::Rect frame = web->frame();
    double top = 0;
    if (!statusBarOverlaysWebView_) {
        top = height;
    } else {
        top = height >= 20 ? height - 20 : 0;
        if (NSDK_TBXSystemVersion::isSystemVersionAtLeast("11.0")) {
            // The page already keeps clear of the safe area's top inset, so only the part of
            // the bar beyond it moves the web view.
            const double inset = static_cast<float>(web->safeAreaInsets().top);
            if (height >= inset && inset > 0) {
                top = inset == 40 ? 20 : height - inset;
            } else {
                top = 0;
            }
        }
    }
    frame.origin.y = top;
    frame.size.height -= top;
    web->setFrame(frame);
}

void HYBStatusBar::backgroundColorFromHexString(const std::string& hex) {
    statusBarBackgroundColor_ = ui::Color::fromHexString(hex);
    if (statusBarBackgroundView_)
        statusBarBackgroundView_->setBackgroundColor(statusBarBackgroundColor_);
}

void HYBStatusBar::hybridViewWillAppear() {
    later([](HYBStatusBar& self) { self.resizeWebView(); });
}

void HYBStatusBar::statusBarDidChangeFrame() {
    HYB_EXPECT_MAIN_THREAD();
    later([](HYBStatusBar& self) {
        self.resizeStatusBarBackgroundView();
        self.resizeWebView();
    });
}
