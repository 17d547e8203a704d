#pragma once

#include <gtk/gtk.h>

#include <memory>

#include "platform/ui/AlertController.h"

namespace wk {

// Shows an alert of the headless UI as a GTK dialog over a web view's window, so that a
// person at the display can answer the page's alert, confirm and prompt: a button pressed
// there presses the alert's button of the same place, after the dialog's entry has been
// copied into the alert's text field. Closing the dialog presses the alert's last button (the
// cancelling one of a confirm or prompt). Destroying this object takes the dialog away, as
// when the alert was answered in another way. Main thread only.
class WebKitGtkAlertDialog {
public:
    WebKitGtkAlertDialog(const std::shared_ptr<ui::AlertController>& alert, GtkWindow* parent);
    ~WebKitGtkAlertDialog();
    WebKitGtkAlertDialog(const WebKitGtkAlertDialog&) = delete;
    WebKitGtkAlertDialog& operator=(const WebKitGtkAlertDialog&) = delete;

    GtkWidget* widget() const { return dialog_; }

private:
    static void onResponse(GtkDialog* dialog, gint response, gpointer self);

    std::weak_ptr<ui::AlertController> alert_;
    GtkWidget* dialog_ = nullptr;
    GtkWidget* entry_ = nullptr;
};

}  // namespace wk
