#pragma once

#include <gtk/gtk.h>

#include <map>
#include <memory>

#include "platform/gtk/GObjectRef.h"

namespace ui {
class View;
class Window;
}  // namespace ui

namespace wk {

// Shows the native screens of the headless ui layer as GTK widgets: every visible window that
// presents a screen (a controller presented over its root, as the in-app browser is) gets a
// GTK window in which the screen's view tree is drawn: views, labels, buttons, toolbars with
// their items, text fields, activity indicators and scroll views at their frames, and web
// views as the engine's own widget. The ui objects stay the truth: the presenter follows them
// on every turn of its timer, and taps on toolbar items run the items' actions. Main thread.
class GtkViewPresenter {
public:
    // Starts following the ui layer's windows (once per process; later calls do nothing).
    static void install();
    static GtkViewPresenter* installed();

    // The GTK window that shows `window`, or null while it shows none.
    GtkWidget* gtkWindowFor(const ui::Window& window) const;
    // Brings the GTK widgets up to date with the ui objects at once.
    void sync();

private:
    struct Shown;
    GtkViewPresenter();
    void show(const std::shared_ptr<ui::Window>& window, const std::shared_ptr<ui::View>& root);
    void forget(const ui::Window* window);
    static void closeLikeTheUser(GtkWidget* gtkWindow, const std::shared_ptr<ui::Window>& window);

    std::map<const ui::Window*, std::unique_ptr<Shown>> shown_;
};

}  // namespace wk
