#pragma once

#include <functional>
#include <map>
#include <memory>

#include "platform/ui/Color.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/InterfaceOrientation.h"

namespace ui {

class ViewController;

// Posted on the default centre after the status bar's frame changed (shown, hidden, resized).
inline constexpr const char* kApplicationDidChangeStatusBarFrameNotification =
    "UIApplicationDidChangeStatusBarFrameNotification";

// The system status bar: what the application object reports about it and the state that the
// view controllers' appearance answers set. Headless, so its height is configuration.
//
// With view-controller-based appearance (the default, as when Info.plist says nothing), the
// hidden flag and the style follow the controller that governs the key window's status bar
// whenever a controller asks for an appearance update or a presentation changes; the
// application-level setters are then ignored, as on the platform. Without it, only the
// application-level setters change them. Main thread only.
class StatusBar {
public:
    enum class Style { Default = 0, LightContent = 1, DarkContent = 3 };
    static constexpr double kDefaultHeight = 47;

    static StatusBar& shared();

    bool isHidden() const { return hidden_; }
    // Whether the bar is hidden over a presented screen: while it is hidden, and, with
    // view-controller-based appearance, when the screen's controller (or the child it defers
    // to) prefers it hidden, even where that controller does not govern the bar (a sheet).
    bool isHiddenOver(const std::shared_ptr<ViewController>& screen) const;
    Style style() const { return style_; }
    // The style the bar shows in over a presented screen. Over one that lies below the bar (a
    // sheet) the bar lies on the dark backdrop behind the screen, whatever the controllers
    // prefer, so its content is light; over any other it is the bar's style.
    Style styleOver(const std::shared_ptr<ViewController>& screen) const;
    // The application's setters.
    void setHidden(bool hidden);
    void setStyle(Style style);

    void setViewControllerBasedAppearance(bool on);
    // Asks the governing view controller of the key window (view-controller-based appearance
    // only); view controllers call it through setNeedsStatusBarAppearanceUpdate. Screens that
    // lie below the bar follow whether it shows over them.
    void updateFromViewControllers();

    // The bar's frame: the screen's width by the bar's height at the top; zero while hidden.
    Rect frame() const;
    // The colour of what the bar shows (time, battery) in its style: light for light content,
    // dark for the others (the default style follows the light appearance the host has).
    Color contentColor() const { return contentColor(style_); }
    static Color contentColor(Style style);
    double height() const { return height_; }
    void setHeight(double height);
    InterfaceOrientation orientation() const { return orientation_; }
    void setOrientation(InterfaceOrientation orientation);

    // Observes changes of the hidden flag (the application's "statusBarHidden" key path).
    // Returns a token for removeHiddenObserver.
    int addHiddenObserver(std::function<void(bool hidden)> observer);
    void removeHiddenObserver(int token);

    // The user taps the bar: when exactly one visible scroll view of the key window scrolls to
    // top, it is asked to. Answers whether a view scrolled.
    bool tap();

private:
    void apply(bool hidden, Style style);
    void frameMayHaveChanged(const Rect& before);

    bool hidden_ = false;
    Style style_ = Style::Default;
    bool vcBased_ = true;
    double height_ = kDefaultHeight;
    InterfaceOrientation orientation_ = InterfaceOrientation::Portrait;
    int nextToken_ = 1;
    std::map<int, std::function<void(bool)>> observers_;
};

}  // namespace ui
