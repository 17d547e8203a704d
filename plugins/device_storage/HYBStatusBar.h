#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "bridge/HYBPlugin.h"
#include "platform/ui/Color.h"
#include "platform/ui/ScrollViewDelegate.h"
#include "platform/ui/StatusBar.h"

class HYBPluginResult;

namespace ui {
class ScrollView;
class View;
}  // namespace ui

// The page's service for the system status bar: whether the web view lies under the bar or
// below it, the bar's text style, the colour of the strip behind the bar, hiding and showing,
// and events for taps on the bar and for changes of its visibility.
//
// Hiding and styling go through the root view controller's status bar answers
// (HYBViewController+StatusBar.h) when the application uses view-controller-based appearance
// (Info.plist "UIViewControllerBasedStatusBarAppearance", true when absent), and straight to
// the status bar otherwise. Taps reach the plug-in through an invisible scroll view at the back
// of the root view. Main thread only.
class HYBStatusBar : public HYBPlugin, public ui::ScrollViewDelegate {
public:
    HYBStatusBar();
    ~HYBStatusBar() override;

    void pluginInitialize() override;
    void onReset() override;

    // --- Page actions ---------------------------------------------------------------------
    // "_ready": keeps the callback for events, sends the visibility, applies the setting
    // "StatusBarOverlaysWebView".
    void ready(const HYBInvokedUrlCommand& command);
    void overlaysWebView(const HYBInvokedUrlCommand& command);
    void styleDefault(const HYBInvokedUrlCommand& command);
    void styleLightContent(const HYBInvokedUrlCommand& command);
    void backgroundColorByName(const HYBInvokedUrlCommand& command);
    void backgroundColorByHexString(const HYBInvokedUrlCommand& command);
    void hide(const HYBInvokedUrlCommand& command);
    void show(const HYBInvokedUrlCommand& command);

    // --- Events to the page ------------------------------------------------------------------
    void updateIsVisible(bool visible);
    void fireTappedEvent();

    // --- Operations ------------------------------------------------------------------------
    bool statusBarOverlaysWebView() const { return statusBarOverlaysWebView_; }
    void setStatusBarOverlaysWebView(bool overlays);
    // "default" or "lightcontent", in any letter case; anything else changes nothing.
    void setStatusBarStyle(const std::string& style);
    void setStyleForStatusBar(ui::StatusBar::Style style);
    void hideStatusBar();
    void showStatusBar();
    void refreshStatusBarAppearance();
    void initializeStatusBarBackgroundView();
    void resizeStatusBarBackgroundView();
    void resizeWebView();

    bool statusBarVisible() const { return statusBarVisible_; }
    const std::shared_ptr<ui::View>& statusBarBackgroundView() const {
        return statusBarBackgroundView_;
    }
    const std::shared_ptr<ui::ScrollView>& fakeScrollView() const { return fakeScrollView_; }

    // The invisible scroll view's delegate: a tap on the bar fires the tap event and moves
    // nothing.
    bool scrollViewShouldScrollToTop(ui::ScrollView& scrollView) override;

private:
    std::optional<std::string> settingForKey(const std::string& key) const;
    void setStatusBarHidden(bool hidden);
    void backgroundColorFromHexString(const std::string& hex);
    void sendEvent(std::shared_ptr<HYBPluginResult> result);
    void hybridViewWillAppear();
    void statusBarDidChangeFrame();
    // Runs the work 0.1 s later on the main queue, unless the plug-in is gone by then.
    void later(std::function<void(HYBStatusBar&)> work);

    bool statusBarOverlaysWebView_ = true;
    std::shared_ptr<ui::View> statusBarBackgroundView_;
    bool uiviewControllerBasedStatusBarAppearance_ = true;
    std::optional<ui::Color> statusBarBackgroundColor_;
    std::optional<std::string> eventsCallbackId_;
    bool statusBarVisible_ = true;
    std::shared_ptr<ui::ScrollView> fakeScrollView_;
    std::optional<int> hiddenObserverToken_;
};
