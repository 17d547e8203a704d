#include "platform/gtk/WebKitGtkAlertDialog.h"

namespace wk {

WebKitGtkAlertDialog::WebKitGtkAlertDialog(const std::shared_ptr<ui::AlertController>& alert,
                                           GtkWindow* parent)
    : alert_(alert) {
    dialog_ = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER, GTK_BUTTONS_NONE,
                                     "%s", alert->message().value_or("").c_str());
    if (alert->title()) gtk_window_set_title(GTK_WINDOW(dialog_), alert->title()->c_str());
    const auto& actions = alert->actions();
    for (size_t i = 0; i < actions.size(); ++i) {
        gtk_dialog_add_button(GTK_DIALOG(dialog_), actions[i]->title().c_str(),
                              static_cast<gint>(i));
    }
    if (!alert->textFields().empty()) {
        entry_ = gtk_entry_new();
        gtk_entry_set_text(GTK_ENTRY(entry_), alert->textFields().front()->text().c_str());
        gtk_entry_set_activates_default(GTK_ENTRY(entry_), TRUE);
        gtk_container_add(
            GTK_CONTAINER(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog_))),
            entry_);
    }
    if (!actions.empty()) gtk_dialog_set_default_response(GTK_DIALOG(dialog_), 0);
    g_signal_connect(dialog_, "response", G_CALLBACK(onResponse), this);
    gtk_widget_show_all(dialog_);
}

WebKitGtkAlertDialog::~WebKitGtkAlertDialog() {
    g_signal_handlers_disconnect_by_data(dialog_, this);
    gtk_widget_destroy(dialog_);
}

void WebKitGtkAlertDialog::onResponse(GtkDialog*, gint response, gpointer data) {
    auto* self = static_cast<WebKitGtkAlertDialog*>(data);
    auto alert = self->alert_.lock();
    if (!alert || alert->isPressed() || alert->actions().empty()) return;
    if (self->entry_ && !alert->textFields().empty()) {
        alert->textFields().front()->setText(gtk_entry_get_text(GTK_ENTRY(self->entry_)));
    }
    const size_t count = alert->actions().size();
    const size_t index = response >= 0 && static_cast<size_t>(response) < count
                             ? static_cast<size_t>(response)
                             : count - 1;
    // Pressing answers the page, which may destroy this object: nothing of it is used after.
    alert->press(index);
}

}  // namespace wk
