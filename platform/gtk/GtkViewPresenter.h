#pragma once

#include <gtk/gtk.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/gtk/GObjectRef.h"
#include "platform/ui/Geometry.h"

namespace ui {
class AlertController;
class View;
class ViewController;
class Window;
}  // namespace ui

namespace wk {

class WebKitGtkAlertDialog;
class WebView;

// Shows the native screens of the headless ui layer as GTK widgets, so that every screen a
// plug-in presents is seen and used in the real program:
// - a controller presented modally over a window (the in-app browser, the photo picker, the
//   camera, the recorder, a scanner or a sign-in window) gets a GTK window of its own, kept
//   above the main one, in which its view tree is drawn: views, labels, buttons, image views,
//   text fields, activity indicators, toolbars and navigation bars with their items, scroll
//   views and table views (scrolling makes the table's rows), and web views as the engine's
//   own widget;
// - an alert presented anywhere is a dialog over the window it belongs to;
// - views over the main page (the launch screen, the status bar's strip) are drawn over the
//   engine's widget while they show;
// - the status bar is a band at the top of the main page's window, as high as the bar's frame,
//   showing the time and battery in the bar's style while the bar shows, and the page sits
//   where its web view's frame puts it (below the bar, or under it); a click on the band is
//   a tap on the bar. Each presented screen's window has the size of the window the screen
//   is presented in and the same band along its top, hidden where the bar is hidden over that
//   screen: over a screen shown full screen (which leaves room for the bar or lies under it)
//   in the bar's style, above a sheet (whose views start below it) in light content on the
//   backdrop.
// Labels, hints and values of elements are what the toolkit's accessibility layer reads for
// their widgets, and announcements are read out over the topmost screen. The ui objects stay
// the truth: the presenter follows them when the ui layer says that something it draws has
// changed (ui::Display), as soon as the main loop is free. Taps on buttons and bar items run
// their actions, taps on views with tap recognizers fire them at the tapped point,
// resizing a presented screen's window gives the screen that size (as a rotation does on a
// phone), and closing a presented screen's window or pressing Escape in it asks the screen's
// presentation controller to close it as the user would, so that the plug-in answers its
// page. Main thread.
class GtkViewPresenter {
public:
    // Starts following the ui layer's windows (once per process; later calls do nothing).
    static void install();
    static GtkViewPresenter* installed();

    // The GTK window that shows the screen presented in `window`, or null while it shows none.
    GtkWidget* gtkWindowFor(const ui::Window& window) const;
    // The widget that draws `view` now, or null (for tests and drivers that act on the display).
    GtkWidget* widgetFor(const ui::View& view) const;
    // The input box over a view with a tap recognizer, whose clicks fire it; null otherwise.
    GtkWidget* tapTargetFor(const ui::View& view) const;
    // The notification that carries the last announcement to assistive technologies, while
    // its screen shows; null otherwise.
    GtkWidget* announcement() const;
    // The band that draws the status bar over the main page, or null before there is one.
    GtkWidget* statusBarBand() const;
    // The band that draws the status bar in the GTK window that shows the screen presented in
    // `window`, or null while it shows none.
    GtkWidget* statusBarBandFor(const ui::Window& window) const;
    // Brings the GTK widgets up to date with the ui objects at once.
    void sync();
    // How many times the widgets have been brought up to date (for tests).
    uint64_t syncs() const { return syncs_; }

private:
    struct Shown;
    struct Overlay;
    struct StatusBand;
    GtkViewPresenter();
    ~GtkViewPresenter() = delete;  // lives as long as the process
    void show(const std::shared_ptr<ui::Window>& window,
              const std::shared_ptr<ui::ViewController>& top, GtkWindow* parent);
    // Something drawn changed (ui::Display's observer): a sync is due. Any thread.
    static void changed();
    void syncAlerts(const std::vector<std::shared_ptr<ui::Window>>& windows);
    void syncOverlays(const std::vector<std::shared_ptr<ui::Window>>& windows);
    // Reads `text` out through the toolkit's accessibility layer, over the topmost screen.
    void announce(const std::string& text);
    // The user resized the window that shows the screen presented in `window`.
    static void resizedByUser(const std::weak_ptr<ui::Window>& window, ui::Size size);
    // The main page's place under the status bar, and the band that draws the bar over it.
    void syncStatusBar(const std::shared_ptr<WebView>& page);
    // The band of the screen `top` shown in `shown`'s window, and the screen's place below it.
    void syncStatusBar(Shown& shown, const std::shared_ptr<ui::ViewController>& top);
    // Asks for a sync when the minute that the bands show turns.
    void wakeWhenTheMinuteTurns();
    // The user asks to leave the screen shown in `window` (close button, Escape).
    static void closeByUser(const std::weak_ptr<ui::Window>& window);

    std::map<const ui::Window*, std::unique_ptr<Shown>> shown_;
    std::map<const ui::AlertController*, std::unique_ptr<WebKitGtkAlertDialog>> alerts_;
    std::map<const ui::Window*, std::unique_ptr<Overlay>> overlays_;
    std::unique_ptr<StatusBand> statusBand_;
    std::atomic<bool> syncing_ = false;
    uint64_t syncs_ = 0;
    std::atomic<bool> syncScheduled_ = false;
    guint minuteTimer_ = 0;
    GtkWidget* announcement_ = nullptr;  // cleared when GTK destroys it
};

}  // namespace wk
