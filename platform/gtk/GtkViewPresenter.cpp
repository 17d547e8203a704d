#include "platform/gtk/GtkViewPresenter.h"

#include <webkit2/webkit2.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/av/CaptureVideoPreviewLayer.h"
#include "platform/gtk/GtkCapturePreview.h"
#include "platform/gtk/WebKitGtkEngine.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "platform/wk/WebView.h"

namespace wk {
namespace {

constexpr guint kSyncIntervalMs = 50;

std::string cssColor(const ui::Color& color) {
    const auto channel = [](double v) {
        return std::to_string(static_cast<int>(std::lround(v * 255)));
    };
    return "rgba(" + channel(color.red()) + "," + channel(color.green()) + "," +
           channel(color.blue()) + "," + std::to_string(color.alpha()) + ")";
}

// Gives the widget its own style: one provider per widget, replaced on change.
void style(GtkWidget* widget, const std::string& css) {
    auto* key = "hyb-css";
    auto* old = static_cast<std::string*>(g_object_get_data(G_OBJECT(widget), key));
    if (old && *old == css) return;
    GtkStyleContext* context = gtk_widget_get_style_context(widget);
    if (auto* provider = g_object_get_data(G_OBJECT(widget), "hyb-provider")) {
        gtk_style_context_remove_provider(context, GTK_STYLE_PROVIDER(provider));
    }
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, ("* {" + css + "}").c_str(), -1, nullptr);
    gtk_style_context_add_provider(context, GTK_STYLE_PROVIDER(provider),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_set_data_full(G_OBJECT(widget), "hyb-provider", provider, g_object_unref);
    g_object_set_data_full(G_OBJECT(widget), key, new std::string(css),
                           [](gpointer p) { delete static_cast<std::string*>(p); });
}

std::string itemCaption(const ui::BarButtonItem& item) {
    if (item.title()) return *item.title();
    if (item.systemItem() == ui::BarButtonItem::SystemItem::Done) return "Done";
    if (item.systemItem() == ui::BarButtonItem::SystemItem::Cancel) return "Cancel";
    if (item.systemItem() == ui::BarButtonItem::SystemItem::Camera) return "Switch camera";
    return "";
}

// The items of a toolbar, drawn left to right: spaces as empty boxes, the rest as buttons
// whose clicks run the item's action.
void fillToolbar(GtkWidget* box, const ui::Toolbar& toolbar) {
    for (GList *children = gtk_container_get_children(GTK_CONTAINER(box)), *c = children; c;
         c = c->next) {
        gtk_widget_destroy(GTK_WIDGET(c->data));
    }
    for (const auto& item : toolbar.items()) {
        const auto system = item->systemItem();
        if (system == ui::BarButtonItem::SystemItem::FlexibleSpace) {
            gtk_box_pack_start(GTK_BOX(box), gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0), TRUE, TRUE,
                               0);
            continue;
        }
        if (system == ui::BarButtonItem::SystemItem::FixedSpace) {
            GtkWidget* space = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
            gtk_widget_set_size_request(space, static_cast<int>(item->width()), -1);
            gtk_box_pack_start(GTK_BOX(box), space, FALSE, FALSE, 0);
            continue;
        }
        GtkWidget* button = gtk_button_new_with_label(itemCaption(*item).c_str());
        gtk_button_set_relief(GTK_BUTTON(button), GTK_RELIEF_NONE);
        gtk_widget_set_sensitive(button, item->isEnabled());
        if (item->tintColor()) style(button, "color: " + cssColor(*item->tintColor()) + ";");
        std::weak_ptr<ui::BarButtonItem> weakItem = item;
        auto* carried = new std::weak_ptr<ui::BarButtonItem>(weakItem);
        g_signal_connect_data(
            button, "clicked", G_CALLBACK(+[](GtkButton*, gpointer data) {
                if (auto shown = static_cast<std::weak_ptr<ui::BarButtonItem>*>(data)->lock()) {
                    shown->sendActions();
                }
            }),
            carried,
            [](gpointer data, GClosure*) {
                delete static_cast<std::weak_ptr<ui::BarButtonItem>*>(data);
            },
            GConnectFlags(0));
        gtk_box_pack_start(GTK_BOX(box), button, FALSE, FALSE, 4);
    }
    gtk_widget_show_all(box);
}

// A fingerprint of what a toolbar shows, so that its buttons are made again only on change.
std::string toolbarKey(const ui::Toolbar& toolbar) {
    std::string key;
    for (const auto& item : toolbar.items()) {
        key += std::to_string(reinterpret_cast<uintptr_t>(item.get())) + itemCaption(*item) +
               (item->isEnabled() ? "1" : "0") +
               (item->tintColor() ? cssColor(*item->tintColor()) : "") + "|";
    }
    return key;
}

}  // namespace

// One window on screen: its GTK window and a widget for each view drawn so far.
struct GtkViewPresenter::Shown {
    std::weak_ptr<ui::Window> window;
    std::weak_ptr<ui::View> root;
    GtkWidget* gtkWindow = nullptr;
    GtkWidget* fixed = nullptr;
    struct Drawn {
        std::weak_ptr<ui::View> view;
        GtkWidget* widget = nullptr;
        bool seen = false;
    };
    std::map<const ui::View*, Drawn> widgets;
    std::map<const ui::View*, std::string> toolbarKeys;
    // Web view widgets borrowed from their engines' windows, given back on dismissal.
    // The engine's window is gone with the engine, so it is found again through the engine.
    std::vector<std::pair<GtkWidget*, std::weak_ptr<WebKitGtkEngine>>> borrowed;

    ~Shown() {
        for (const auto& [widget, engine] : borrowed) {
            if (GtkWidget* parent = gtk_widget_get_parent(widget)) {
                gtk_container_remove(GTK_CONTAINER(parent), widget);
            }
            if (auto home = engine.lock()) gtk_container_add(GTK_CONTAINER(home->window()), widget);
            g_object_unref(widget);
        }
        gtk_widget_destroy(gtkWindow);
    }

    // Views that left the tree are hidden; widgets of views that are gone go too.
    void prune() {
        for (auto it = widgets.begin(); it != widgets.end();) {
            Drawn& drawn = it->second;
            if (drawn.view.expired()) {
                if (drawn.widget && !isBorrowed(drawn.widget)) gtk_widget_destroy(drawn.widget);
                if (drawn.widget && isBorrowed(drawn.widget)) gtk_widget_hide(drawn.widget);
                it = widgets.erase(it);
                continue;
            }
            if (!drawn.seen && drawn.widget) gtk_widget_hide(drawn.widget);
            drawn.seen = false;
            ++it;
        }
    }
    bool isBorrowed(GtkWidget* widget) const {
        for (const auto& entry : borrowed) {
            if (entry.first == widget) return true;
        }
        return false;
    }

    GtkWidget* make(const std::shared_ptr<ui::View>& view) {
        if (auto* web = dynamic_cast<WebView*>(view.get())) {
            auto engine = std::dynamic_pointer_cast<WebKitGtkEngine>(web->engine());
            if (!engine) return nullptr;
            GtkWidget* widget = GTK_WIDGET(engine->webView());
            g_object_ref(widget);
            if (GtkWidget* parent = gtk_widget_get_parent(widget)) {
                gtk_container_remove(GTK_CONTAINER(parent), widget);
            }
            gtk_widget_hide(engine->window());
            borrowed.emplace_back(widget, engine);
            return widget;
        }
        if (auto* preview = dynamic_cast<av::CaptureVideoPreviewLayer*>(view.get()))
            return GtkCapturePreview::make(*preview);
        if (dynamic_cast<ui::Toolbar*>(view.get()))
            return gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
        if (dynamic_cast<ui::Label*>(view.get())) {
            GtkWidget* label = gtk_label_new("");
            gtk_label_set_xalign(GTK_LABEL(label), 0);
            gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
            return label;
        }
        if (dynamic_cast<ui::Button*>(view.get())) return gtk_button_new_with_label("");
        if (dynamic_cast<ui::TextField*>(view.get())) return gtk_entry_new();
        if (dynamic_cast<ui::ActivityIndicatorView*>(view.get())) return gtk_spinner_new();
        if (dynamic_cast<ui::ScrollView*>(view.get())) return gtk_fixed_new();
        return gtk_fixed_new();
    }

    // Places the view (at `origin` in the window) and its subviews.
    void place(const std::shared_ptr<ui::View>& view, double x, double y, bool hidden = false) {
        Drawn& drawn = widgets[view.get()];
        if (drawn.view.lock() != view) drawn = Drawn{view, nullptr, false};
        if (!drawn.widget) {
            drawn.widget = make(view);
            if (!drawn.widget) return;
            gtk_fixed_put(GTK_FIXED(fixed), drawn.widget, 0, 0);
        }
        drawn.seen = true;
        GtkWidget* widget = drawn.widget;
        const ui::Rect frame = view->frame();
        const double left = x + frame.x();
        const double top = y + frame.y();
        gtk_fixed_move(GTK_FIXED(fixed), widget, static_cast<int>(left), static_cast<int>(top));
        gtk_widget_set_size_request(widget, std::max(0, static_cast<int>(frame.width())),
                                    std::max(0, static_cast<int>(frame.height())));
        hidden = hidden || view->isHidden();
        gtk_widget_set_visible(widget, !hidden);
        update(*view, widget);
        // A web view draws its own content; its scroll view is the engine's.
        if (dynamic_cast<WebView*>(view.get())) return;
        for (const auto& child : view->subviews()) place(child, left, top, hidden);
    }

    void update(ui::View& view, GtkWidget* widget) {
        if (auto* preview = dynamic_cast<av::CaptureVideoPreviewLayer*>(&view)) {
            GtkCapturePreview::update(*preview, widget);
        } else if (auto* toolbar = dynamic_cast<ui::Toolbar*>(&view)) {
            const ui::Color tint = toolbar->barTintColor().value_or(ui::Color(0.1, 0.1, 0.1, 1));
            style(widget, "background-color: " + cssColor(tint) + ";");
            std::string key = toolbarKey(*toolbar);
            if (toolbarKeys[&view] != key) {
                fillToolbar(widget, *toolbar);
                toolbarKeys[&view] = std::move(key);
            }
        } else if (auto* label = dynamic_cast<ui::Label*>(&view)) {
            gtk_label_set_text(GTK_LABEL(widget), label->text().value_or("").c_str());
            if (label->textColor()) style(widget, "color: " + cssColor(*label->textColor()) + ";");
        } else if (auto* button = dynamic_cast<ui::Button*>(&view)) {
            gtk_button_set_label(GTK_BUTTON(widget), button->titleForState(0).value_or("").c_str());
        } else if (auto* field = dynamic_cast<ui::TextField*>(&view)) {
            if (!gtk_widget_has_focus(widget))
                gtk_entry_set_text(GTK_ENTRY(widget), field->text().c_str());
            gtk_entry_set_visibility(GTK_ENTRY(widget), !field->isSecureTextEntry());
        } else if (auto* spinner = dynamic_cast<ui::ActivityIndicatorView*>(&view)) {
            if (spinner->isAnimating()) {
                gtk_spinner_start(GTK_SPINNER(widget));
            } else {
                gtk_spinner_stop(GTK_SPINNER(widget));
            }
            if (spinner->hidesWhenStopped() && !spinner->isAnimating()) gtk_widget_hide(widget);
        } else if (!dynamic_cast<WebView*>(&view) && view.backgroundColor()) {
            style(widget, "background-color: " + cssColor(*view.backgroundColor()) + ";");
        }
    }
};

GtkViewPresenter::GtkViewPresenter() = default;

namespace {

GtkViewPresenter*& presenterSlot() {
    static GtkViewPresenter* presenter = nullptr;
    return presenter;
}

}  // namespace

GtkViewPresenter* GtkViewPresenter::installed() {
    return presenterSlot();
}

void GtkViewPresenter::install() {
    if (presenterSlot()) return;
    presenterSlot() = new GtkViewPresenter();  // lives as long as the process
    g_timeout_add(
        kSyncIntervalMs,
        [](gpointer self) -> gboolean {
            static_cast<GtkViewPresenter*>(self)->sync();
            return G_SOURCE_CONTINUE;
        },
        presenterSlot());
}

GtkWidget* GtkViewPresenter::gtkWindowFor(const ui::Window& window) const {
    auto it = shown_.find(&window);
    return it == shown_.end() ? nullptr : it->second->gtkWindow;
}

void GtkViewPresenter::sync() {
    std::map<const ui::Window*, std::shared_ptr<ui::View>> wanted;
    std::map<const ui::Window*, std::shared_ptr<ui::Window>> windows;
    for (const auto& window : ui::Window::windows()) {
        const auto controllers = window->visibleControllers();
        // Only screens presented over a window's root are drawn here: the root of the main
        // window is the host's page, which its engine shows itself, and alerts have dialogs
        // of their own.
        if (controllers.empty() || !controllers.back()->presentingViewController() ||
            dynamic_cast<ui::AlertController*>(controllers.back().get())) {
            continue;
        }
        wanted[window.get()] = controllers.back()->view();
        windows[window.get()] = window;
    }
    for (auto it = shown_.begin(); it != shown_.end();) {
        auto keep = wanted.find(it->first);
        if (keep == wanted.end() || it->second->root.lock() != keep->second ||
            it->second->window.expired()) {
            it = shown_.erase(it);
        } else {
            ++it;
        }
    }
    for (const auto& [key, root] : wanted) {
        if (!shown_.count(key)) show(windows[key], root);
        Shown& shown = *shown_[key];
        shown.place(root, -root->frame().x(), -root->frame().y());
        shown.prune();
    }
}

void GtkViewPresenter::show(const std::shared_ptr<ui::Window>& window,
                            const std::shared_ptr<ui::View>& root) {
    auto shown = std::make_unique<Shown>();
    shown->window = window;
    shown->root = root;
    shown->gtkWindow = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    const ui::Rect frame = window->frame();
    gtk_window_set_default_size(GTK_WINDOW(shown->gtkWindow), static_cast<int>(frame.width()),
                                static_cast<int>(frame.height()));
    gtk_window_set_resizable(GTK_WINDOW(shown->gtkWindow), FALSE);
    shown->fixed = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(shown->gtkWindow), shown->fixed);
    gtk_widget_show_all(shown->gtkWindow);
    shown_[window.get()] = std::move(shown);
}

}  // namespace wk
