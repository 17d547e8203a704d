#include "platform/gtk/GtkViewPresenter.h"

#include <gdk/gdkkeysyms.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <string>
#include <vector>

#include "platform/av/CaptureVideoPreviewLayer.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/gtk/GtkCapturePreview.h"
#include "platform/gtk/WebKitGtkAlertDialog.h"
#include "platform/gtk/WebKitGtkEngine.h"
#include "platform/ui/Accessibility.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Button.h"
#include "platform/ui/Display.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/PresentationController.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TableViewCell.h"
#include "platform/ui/TapGestureRecognizer.h"
#include "platform/ui/TextField.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "platform/wk/WebView.h"

namespace wk {
namespace {

// How long after a sync the changes it made itself are drawn.
constexpr guint kSettleMs = 50;
// The smallest a screen's window may be made.
constexpr int kMinimumScreenSide = 200;
// What a window shows where no view draws: a phone's screen is black under its views.
constexpr const char* kWindowBackground = "background-color: #000000;";
// The system's tint where an item has none: blue on a light bar, light blue on a dark one.
const ui::Color kTintOnLight(0.0, 0.48, 1.0, 1.0);
const ui::Color kTintOnDark(0.35, 0.7, 1.0, 1.0);
const ui::Color kDarkBar(0.1, 0.1, 0.1, 1.0);
const ui::Color kLightBar(0.97, 0.97, 0.97, 1.0);

std::string cssColor(const ui::Color& color) {
    const auto channel = [](double v) {
        return std::to_string(static_cast<int>(std::lround(std::clamp(v, 0.0, 1.0) * 255)));
    };
    return "rgba(" + channel(color.red()) + "," + channel(color.green()) + "," +
           channel(color.blue()) + "," + std::to_string(color.alpha()) + ")";
}

double luminance(const ui::Color& color) {
    return 0.2126 * color.red() + 0.7152 * color.green() + 0.0722 * color.blue();
}

// A colour that reads on `background`: `wanted` unless the two are too close in brightness,
// when the better of black and white is taken instead.
ui::Color legibleOn(const ui::Color& background, const ui::Color& wanted) {
    if (std::fabs(luminance(background) - luminance(wanted)) >= 0.3) return wanted;
    return luminance(background) > 0.5 ? ui::Color(0, 0, 0, 1) : ui::Color(1, 1, 1, 1);
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

// What assistive technologies read for the widget of an element: its label and value as the
// name, its hint as the description (set only on change).
void describe(GtkWidget* widget, const ui::Accessibility& element) {
    const auto& label = element.accessibilityLabel();
    const auto& value = element.accessibilityValue();
    AtkObject* accessible = gtk_widget_get_accessible(widget);
    if (!accessible) return;
    if (label || value) {
        const std::string name = label && value ? *label + ", " + *value : label ? *label : *value;
        const char* shown = atk_object_get_name(accessible);
        if (!shown || name != shown) atk_object_set_name(accessible, name.c_str());
    }
    if (const auto& hint = element.accessibilityHint()) {
        const char* shown = atk_object_get_description(accessible);
        if (!shown || *hint != shown) atk_object_set_description(accessible, hint->c_str());
    }
}

// Connects `signal` to a call of `run` with the object, for as long as the object lives.
template <class T, class Run>
void connectWeak(GtkWidget* widget, const char* signal, const std::shared_ptr<T>& object, Run run) {
    struct Carried {
        std::weak_ptr<T> object;
        Run run;
    };
    auto* carried = new Carried{object, std::move(run)};
    g_signal_connect_data(
        widget, signal, G_CALLBACK(+[](GtkWidget*, gpointer data) {
            auto* c = static_cast<Carried*>(data);
            if (auto held = c->object.lock()) c->run(*held);
        }),
        carried, [](gpointer data, GClosure*) { delete static_cast<Carried*>(data); },
        GConnectFlags(0));
}

std::string itemCaption(const ui::BarButtonItem& item) {
    if (item.title()) return *item.title();
    if (item.systemItem() == ui::BarButtonItem::SystemItem::Done) return "Done";
    if (item.systemItem() == ui::BarButtonItem::SystemItem::Cancel) return "Cancel";
    if (item.systemItem() == ui::BarButtonItem::SystemItem::Camera) return "Switch camera";
    return "";
}

// Height of an item's picture in a bar.
constexpr int kItemImageHeight = 24;

// A bar item's picture as the bars draw one: its shape (the picture's opacity) filled with
// the tint, fitted to the bar's item height.
GtkWidget* itemImage(const ui::Image& image, const ui::Color& tint) {
    const auto& bitmap = *image.bitmap();
    if (bitmap.width() <= 0 || bitmap.height() <= 0) return nullptr;
    const double scale = double(kItemImageHeight) / bitmap.height();
    const int width = std::max(1, static_cast<int>(std::lround(bitmap.width() * scale)));
    cairo_surface_t* out = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, kItemImageHeight);
    cairo_t* cr = cairo_create(out);
    cairo_set_source_rgba(cr, tint.red(), tint.green(), tint.blue(), tint.alpha());
    cairo_scale(cr, scale, scale);
    if (bitmap.format() == ui::Bitmap::Format::ARGB32) {
        cairo_pattern_t* shape = cairo_pattern_create_for_surface(bitmap.surface());
        cairo_pattern_set_filter(shape, CAIRO_FILTER_GOOD);
        cairo_mask(cr, shape);
        cairo_pattern_destroy(shape);
    }
    cairo_destroy(cr);
    GtkWidget* widget = gtk_image_new_from_surface(out);
    cairo_surface_destroy(out);
    return widget;
}

GtkWidget* itemButton(const std::shared_ptr<ui::BarButtonItem>& item, const ui::Color& bar) {
    GtkWidget* button = gtk_button_new_with_label(itemCaption(*item).c_str());
    gtk_button_set_relief(GTK_BUTTON(button), GTK_RELIEF_NONE);
    gtk_widget_set_sensitive(button, item->isEnabled());
    const ui::Color tint = legibleOn(
        bar, item->tintColor().value_or(luminance(bar) > 0.5 ? kTintOnLight : kTintOnDark));
    style(button, "color: " + cssColor(tint) + "; background: none;");
    if (item->image() && item->image()->bitmap()) {
        if (GtkWidget* picture = itemImage(*item->image(), tint)) {
            gtk_button_set_label(GTK_BUTTON(button), nullptr);
            gtk_button_set_image(GTK_BUTTON(button), picture);
            gtk_button_set_always_show_image(GTK_BUTTON(button), TRUE);
        }
    }
    describe(button, *item);
    connectWeak(button, "clicked", item, [](ui::BarButtonItem& shown) { shown.sendActions(); });
    return button;
}

void clear(GtkWidget* box) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(box));
    for (GList* c = children; c; c = c->next) gtk_widget_destroy(GTK_WIDGET(c->data));
    g_list_free(children);
}

// The items of a toolbar, drawn left to right: spaces as empty boxes, the rest as buttons
// whose clicks run the item's action.
void fillToolbar(GtkWidget* box, const ui::Toolbar& toolbar, const ui::Color& bar) {
    clear(box);
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
        gtk_box_pack_start(GTK_BOX(box), itemButton(item, bar), FALSE, FALSE, 4);
    }
    gtk_widget_show_all(box);
}

std::string itemKey(const ui::BarButtonItem* item) {
    if (!item) return "-";
    return std::to_string(reinterpret_cast<uintptr_t>(item)) + itemCaption(*item) +
           std::to_string(reinterpret_cast<uintptr_t>(item->image().get())) +
           (item->isEnabled() ? "1" : "0") +
           (item->tintColor() ? cssColor(*item->tintColor()) : "");
}

// A fingerprint of what a toolbar shows, so that its buttons are made again only on change.
std::string toolbarKey(const ui::Toolbar& toolbar, const ui::Color& bar) {
    std::string key = cssColor(bar);
    for (const auto& item : toolbar.items()) key += itemKey(item.get()) + "|";
    return key;
}

// A navigation bar: the left item, the title in the middle, the right item.
void fillNavigationBar(GtkWidget* box, const ui::NavigationBar& navigationBar,
                       const ui::Color& bar) {
    clear(box);
    GtkWidget* left = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    GtkWidget* right = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_widget_set_size_request(left, 90, -1);
    gtk_widget_set_size_request(right, 90, -1);
    if (auto item = navigationBar.leftItem()) {
        gtk_box_pack_start(GTK_BOX(left), itemButton(item, bar), FALSE, FALSE, 4);
    }
    if (auto item = navigationBar.rightItem()) {
        gtk_box_pack_end(GTK_BOX(right), itemButton(item, bar), FALSE, FALSE, 4);
    }
    GtkWidget* title = gtk_label_new(navigationBar.title().value_or("").c_str());
    gtk_label_set_ellipsize(GTK_LABEL(title), PANGO_ELLIPSIZE_END);
    style(title, "color: " +
                     cssColor(legibleOn(bar, luminance(bar) > 0.5 ? ui::Color(0, 0, 0, 1)
                                                                  : ui::Color(1, 1, 1, 1))) +
                     "; font-weight: bold;");
    gtk_box_pack_start(GTK_BOX(box), left, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), title, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(box), right, FALSE, FALSE, 0);
    gtk_widget_show_all(box);
}

std::string navigationBarKey(const ui::NavigationBar& bar, const ui::Color& tint) {
    return cssColor(tint) + bar.title().value_or("") + "|" + itemKey(bar.leftItem().get()) + "|" +
           itemKey(bar.rightItem().get());
}

// The image drawn into a surface of `size` by the content mode: stretched, fitted or filled
// (and cut to the size).
cairo_surface_t* renderImage(const ui::Image& image, int width, int height, ui::ContentMode mode) {
    const auto& bitmap = *image.bitmap();
    if (width <= 0 || height <= 0 || bitmap.width() <= 0 || bitmap.height() <= 0) return nullptr;
    cairo_surface_t* out = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(out);
    double sx = double(width) / bitmap.width();
    double sy = double(height) / bitmap.height();
    if (mode == ui::ContentMode::ScaleAspectFit) sx = sy = std::min(sx, sy);
    if (mode == ui::ContentMode::ScaleAspectFill) sx = sy = std::max(sx, sy);
    cairo_translate(cr, (width - bitmap.width() * sx) / 2, (height - bitmap.height() * sy) / 2);
    cairo_scale(cr, sx, sy);
    if (bitmap.format() == ui::Bitmap::Format::ARGB32) {
        cairo_set_source_surface(cr, bitmap.surface(), 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
        cairo_paint(cr);
    }
    cairo_destroy(cr);
    return out;
}

void setImage(GtkWidget* imageWidget, const std::shared_ptr<ui::Image>& image, int width,
              int height, ui::ContentMode mode) {
    const std::string key = std::to_string(reinterpret_cast<uintptr_t>(image.get())) + "/" +
                            std::to_string(width) + "x" + std::to_string(height) + "/" +
                            std::to_string(static_cast<int>(mode));
    auto* old = static_cast<std::string*>(g_object_get_data(G_OBJECT(imageWidget), "hyb-image"));
    if (old && *old == key) return;
    cairo_surface_t* surface = image ? renderImage(*image, width, height, mode) : nullptr;
    gtk_image_set_from_surface(GTK_IMAGE(imageWidget), surface);
    if (surface) cairo_surface_destroy(surface);
    g_object_set_data_full(G_OBJECT(imageWidget), "hyb-image", new std::string(key),
                           [](gpointer p) { delete static_cast<std::string*>(p); });
}

std::shared_ptr<ui::TapGestureRecognizer> tapRecognizerOf(const ui::View& view) {
    for (const auto& recognizer : view.gestureRecognizers()) {
        if (auto tap = std::dynamic_pointer_cast<ui::TapGestureRecognizer>(recognizer)) return tap;
    }
    return nullptr;
}

// Moves a child of a GtkFixed only when it is elsewhere: GTK lays out and draws the whole
// fixed again on every move, which on each sync would paint the page again, and a page
// painted before its web process has drawn waits for that process.
void moveInFixed(GtkWidget* fixed, GtkWidget* child, int x, int y) {
    int shownX = 0, shownY = 0;
    gtk_container_child_get(GTK_CONTAINER(fixed), child, "x", &shownX, "y", &shownY, nullptr);
    if (shownX != x || shownY != y) gtk_fixed_move(GTK_FIXED(fixed), child, x, y);
}

// Where a borrowed page goes back to: the overlay that holds it in its engine's window.
GtkWidget* pageHolderOf(WebKitGtkEngine& engine) {
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(engine.window()));
    return child && GTK_IS_OVERLAY(child) ? child : engine.window();
}

// The first web view in the tree: in a window's root view, the main page's.
std::shared_ptr<WebView> webViewIn(const std::shared_ptr<ui::View>& view) {
    struct IsWebView : ui::ViewVisitor {
        bool is = false;
        void visit(ui::View&) override {}
        void visit(WebView&) override { is = true; }
        void visit(av::CaptureVideoPreviewLayer&) override {}
    } kind;
    view->accept(kind);
    if (kind.is) return std::static_pointer_cast<WebView>(view);
    for (const auto& child : view->subviews()) {
        if (auto found = webViewIn(child)) return found;
    }
    return nullptr;
}

std::shared_ptr<WebKitGtkEngine> engineOf(const std::shared_ptr<WebView>& web) {
    return web ? std::dynamic_pointer_cast<WebKitGtkEngine>(web->engine()) : nullptr;
}

// The main page's GTK window: the engine window of the first web view in the tree.
GtkWidget* engineWindowIn(const std::shared_ptr<ui::View>& view) {
    auto engine = engineOf(webViewIn(view));
    return engine ? engine->window() : nullptr;
}

// The height the band of a bar with `frame` takes: none while the bar is hidden.
int barHeight(const ui::Rect& frame) {
    return std::max(0, static_cast<int>(std::lround(frame.height())));
}

// The status bar's band in the window of a presented screen, which has the screen's window's
// size: as high as the bar (none where the bar is hidden over the screen), in the style the
// bar shows over that screen. A screen shown full screen lies under the band and leaves room
// for it itself, or hides the bar; a sheet starts below the bar (the ui layer puts it there),
// so the band lies over the window's backdrop above it.
struct BandPlace {
    int height = 0;
    ui::Color content;
};

BandPlace bandPlaceOver(const std::shared_ptr<ui::ViewController>& screen) {
    const auto& bar = ui::StatusBar::shared();
    return {bar.isHiddenOver(screen) ? 0 : barHeight(bar.frame()),
            ui::StatusBar::contentColor(bar.styleOver(screen))};
}

// How far below its window's top the screen's views start.
int screenTop(ui::ViewController& screen) {
    return std::max(0, static_cast<int>(std::lround(screen.view()->frame().y())));
}

std::shared_ptr<ui::ViewController> topPresented(ui::Window& window) {
    const auto controllers = window.visibleControllers();
    for (auto it = controllers.rbegin(); it != controllers.rend(); ++it) {
        if (dynamic_cast<ui::AlertController*>(it->get())) continue;
        return (*it)->presentingViewController() ? *it : nullptr;
    }
    return nullptr;
}

// Every alert presented in the window, bottom to top.
std::vector<std::shared_ptr<ui::AlertController>> alertsIn(ui::Window& window) {
    std::vector<std::shared_ptr<ui::AlertController>> alerts;
    if (!window.rootViewController()) return alerts;
    for (const auto& controller : window.rootViewController()->presentationChain()) {
        if (auto alert = std::dynamic_pointer_cast<ui::AlertController>(controller)) {
            alerts.push_back(alert);
        }
    }
    return alerts;
}

}  // namespace

// The status bar: a band along the top of a GTK window (the main page's, or one that shows a
// presented screen), transparent but for the time at its left and a battery at its right,
// drawn in the bar's content colour. The band lives in its window and goes with it.
struct GtkViewPresenter::StatusBand {
    GtkWidget* window = nullptr;  // cleared when GTK destroys the window
    GtkWidget* band = nullptr;    // an event box in the window's overlay
    GtkWidget* clock = nullptr;
    ui::Color content;

    // Adds the band over what `stack`, an overlay in `window`, already shows.
    StatusBand(GtkWidget* window, GtkWidget* stack) : window(window) {
        g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&this->window));
        band = gtk_event_box_new();
        gtk_event_box_set_visible_window(GTK_EVENT_BOX(band), FALSE);
        gtk_widget_set_valign(band, GTK_ALIGN_START);
        gtk_widget_set_halign(band, GTK_ALIGN_FILL);
        gtk_widget_add_events(band, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK);
        // A click on the bar is the user's tap on it (the page hears of it when it listens).
        g_signal_connect(band, "button-release-event",
                         G_CALLBACK(+[](GtkWidget*, GdkEventButton* event, gpointer) -> gboolean {
                             if (event->button != 1) return FALSE;
                             ui::StatusBar::shared().tap();
                             if (auto* presenter = GtkViewPresenter::installed()) presenter->sync();
                             return TRUE;
                         }),
                         nullptr);
        g_signal_connect_after(band, "draw", G_CALLBACK(drawBattery), this);
        clock = gtk_label_new("");
        gtk_widget_set_halign(clock, GTK_ALIGN_START);
        gtk_widget_set_margin_start(clock, kSideMargin);
        gtk_container_add(GTK_CONTAINER(band), clock);
        gtk_overlay_add_overlay(GTK_OVERLAY(stack), band);
        gtk_widget_show_all(band);
    }
    ~StatusBand() {
        if (!window) return;
        // Its handlers know this band: it goes with it.
        gtk_widget_destroy(band);
        g_object_remove_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&window));
    }
    StatusBand(const StatusBand&) = delete;
    StatusBand& operator=(const StatusBand&) = delete;

    static constexpr int kSideMargin = 20;

    // Shows the band `height` high (none: hidden), the time and battery in `color`. Set only
    // on change: each set lays out again.
    void update(int height, const ui::Color& color) {
        gtk_widget_set_visible(band, height > 0);
        if (height <= 0) return;
        int shownWidth = 0, shownHeight = 0;
        gtk_widget_get_size_request(band, &shownWidth, &shownHeight);
        if (shownHeight != height) gtk_widget_set_size_request(band, -1, height);
        if (cssColor(color) != cssColor(content)) {
            content = color;
            gtk_widget_queue_draw(band);
        }
        style(clock, "color: " + cssColor(content) + "; font-weight: bold;");
        const std::string time = timeOfDay();
        if (time != gtk_label_get_text(GTK_LABEL(clock)))
            gtk_label_set_text(GTK_LABEL(clock), time.c_str());
    }

    // "09:41": the local time of the program's clock.
    static std::string timeOfDay() {
        const auto seconds = static_cast<time_t>(dispatch::Clock::current().wallTime());
        struct tm local {};
        char text[8] = "";
        if (localtime_r(&seconds, &local)) std::strftime(text, sizeof text, "%H:%M", &local);
        return text;
    }

    static gboolean drawBattery(GtkWidget* widget, cairo_t* cr, gpointer data) {
        const ui::Color& color = static_cast<StatusBand*>(data)->content;
        const double width = gtk_widget_get_allocated_width(widget);
        const double height = gtk_widget_get_allocated_height(widget);
        const double bodyWidth = 24, bodyHeight = 12;
        const double x = width - kSideMargin - bodyWidth - 3, y = (height - bodyHeight) / 2;
        cairo_set_source_rgba(cr, color.red(), color.green(), color.blue(), 0.45);
        cairo_set_line_width(cr, 1);
        cairo_rectangle(cr, x + 0.5, y + 0.5, bodyWidth - 1, bodyHeight - 1);
        cairo_stroke(cr);
        cairo_rectangle(cr, x + bodyWidth + 1, y + 4, 2, bodyHeight - 8);
        cairo_fill(cr);
        cairo_set_source_rgba(cr, color.red(), color.green(), color.blue(), 1);
        cairo_rectangle(cr, x + 2, y + 2, bodyWidth - 4, bodyHeight - 4);
        cairo_fill(cr);
        return FALSE;
    }
};

// One window on screen: its GTK window and a widget for each view drawn so far.
struct GtkViewPresenter::Shown {
    std::weak_ptr<ui::Window> window;
    std::weak_ptr<ui::View> root;
    GtkWidget* gtkWindow = nullptr;
    GtkWidget* viewport = nullptr;  // holds `fixed`: below the status bar, or under it
    GtkWidget* fixed = nullptr;
    std::unique_ptr<StatusBand> band;  // the status bar over or above the screen
    struct Drawn {
        std::weak_ptr<ui::View> view;
        GtkWidget* widget = nullptr;
        GtkWidget* container = nullptr;  // the GtkFixed it sits in
        GtkWidget* content = nullptr;    // a scroll view's GtkFixed of its content
        GtkWidget* tapBox = nullptr;     // input over a view with a tap recognizer
        std::string key;                 // what a bar shows
        bool drawsItsContent = false;    // a web view: its subviews are the engine's
        bool seen = false;
    };
    std::map<const ui::View*, Drawn> widgets;
    // Web view widgets borrowed from their engines' windows, given back on dismissal.
    // The engine's window is gone with the engine, so it is found again through the engine.
    std::vector<std::pair<GtkWidget*, std::weak_ptr<WebKitGtkEngine>>> borrowed;

    ~Shown() {
        for (const auto& [widget, engine] : borrowed) {
            if (GtkWidget* parent = gtk_widget_get_parent(widget)) {
                gtk_container_remove(GTK_CONTAINER(parent), widget);
            }
            if (auto home = engine.lock())
                gtk_container_add(GTK_CONTAINER(pageHolderOf(*home)), widget);
            g_object_unref(widget);
        }
        band.reset();
        if (gtkWindow) gtk_widget_destroy(gtkWindow);
    }

    // Views that left the tree are hidden; widgets of views that are gone go too.
    void prune() {
        for (auto it = widgets.begin(); it != widgets.end();) {
            Drawn& drawn = it->second;
            if (drawn.view.expired()) {
                destroy(drawn);
                it = widgets.erase(it);
                continue;
            }
            if (!drawn.seen) {
                if (drawn.widget) gtk_widget_hide(drawn.widget);
                if (drawn.tapBox) gtk_widget_hide(drawn.tapBox);
            }
            drawn.seen = false;
            ++it;
        }
    }
    void destroy(Drawn& drawn) {
        if (drawn.tapBox) gtk_widget_destroy(drawn.tapBox);
        if (!drawn.widget) return;
        if (isBorrowed(drawn.widget)) {
            gtk_widget_hide(drawn.widget);
        } else {
            // A scroll view's content may hold borrowed widgets: take them out first.
            gtk_widget_destroy(drawn.widget);
        }
    }
    bool isBorrowed(GtkWidget* widget) const {
        for (const auto& entry : borrowed) {
            if (entry.first == widget) return true;
        }
        return false;
    }

    // Makes the widget that draws a view, by the view's kind.
    struct Maker : ui::ViewVisitor {
        Shown& shown;
        Drawn& drawn;
        GtkWidget* widget = nullptr;

        Maker(Shown& shown, Drawn& drawn) : shown(shown), drawn(drawn) {}
        void visit(ui::View&) override { widget = plainView(); }
        void visit(WebView& web) override {
            // The engine's own widget, borrowed from its window: it draws the page itself.
            drawn.drawsItsContent = true;
            auto engine = std::dynamic_pointer_cast<WebKitGtkEngine>(web.engine());
            if (!engine) return;
            widget = GTK_WIDGET(engine->webView());
            g_object_ref(widget);
            if (GtkWidget* parent = gtk_widget_get_parent(widget)) {
                gtk_container_remove(GTK_CONTAINER(parent), widget);
            }
            gtk_widget_hide(engine->window());
            shown.borrowed.emplace_back(widget, engine);
        }
        void visit(av::CaptureVideoPreviewLayer& preview) override {
            widget = GtkCapturePreview::make(preview);
        }
        void visit(ui::Toolbar&) override { widget = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0); }
        void visit(ui::NavigationBar&) override {
            widget = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
        }
        void visit(ui::Label&) override {
            widget = gtk_label_new("");
            gtk_label_set_ellipsize(GTK_LABEL(widget), PANGO_ELLIPSIZE_END);
        }
        void visit(ui::Button& button) override {
            widget = gtk_button_new();
            connectWeak(widget, "clicked",
                        std::static_pointer_cast<ui::Button>(button.sharedView()),
                        [](ui::Button& shown) { shown.sendActions(); });
        }
        void visit(ui::ImageView&) override { widget = gtk_image_new(); }
        void visit(ui::TextField&) override { widget = gtk_entry_new(); }
        void visit(ui::ActivityIndicatorView&) override { widget = gtk_spinner_new(); }
        void visit(ui::ScrollView& scroll) override {
            widget = gtk_scrolled_window_new(nullptr, nullptr);
            gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(widget), GTK_POLICY_NEVER,
                                           GTK_POLICY_AUTOMATIC);
            drawn.content = gtk_fixed_new();
            gtk_container_add(GTK_CONTAINER(widget), drawn.content);
            // The content and the viewport GTK puts around it show with the scroll view.
            gtk_widget_show_all(widget);
            GtkAdjustment* adjustment =
                gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(widget));
            // The user scrolls: the view follows, and a table makes the rows that come near.
            g_signal_connect_data(
                adjustment, "value-changed", G_CALLBACK(+[](GtkAdjustment* a, gpointer data) {
                    auto held = static_cast<std::weak_ptr<ui::ScrollView>*>(data)->lock();
                    if (!held) return;
                    const double value = gtk_adjustment_get_value(a);
                    if (std::fabs(value - held->contentOffset().y) < 0.5) return;
                    held->setContentOffset({held->contentOffset().x, value});
                    if (auto* presenter = GtkViewPresenter::installed()) presenter->sync();
                }),
                new std::weak_ptr<ui::ScrollView>(
                    std::static_pointer_cast<ui::ScrollView>(scroll.sharedView())),
                [](gpointer data, GClosure*) {
                    delete static_cast<std::weak_ptr<ui::ScrollView>*>(data);
                },
                GConnectFlags(0));
            // GTK learns the content's size at its next layout: an offset that it could not
            // take before (see syncOffset) is set then.
            g_signal_connect(adjustment, "changed", G_CALLBACK(+[](GtkAdjustment*, gpointer) {
                                 GtkViewPresenter::changed();
                             }),
                             nullptr);
        }
    };

    // Gives a plain view's widget the colour its draw handler paints (drawn again on change).
    static void paintBackground(GtkWidget* widget, const ui::Color& color) {
        auto* old = static_cast<ui::Color*>(g_object_get_data(G_OBJECT(widget), "hyb-background"));
        if (old && cssColor(*old) == cssColor(color)) return;
        g_object_set_data_full(G_OBJECT(widget), "hyb-background", new ui::Color(color),
                               [](gpointer p) { delete static_cast<ui::Color*>(p); });
        gtk_widget_queue_draw(widget);
    }

    // A plain view: a GtkFixed (which draws no background of its own) that paints the view's
    // background colour under its children.
    static GtkWidget* plainView() {
        GtkWidget* fixed = gtk_fixed_new();
        g_signal_connect(fixed, "draw", G_CALLBACK(+[](GtkWidget* w, cairo_t* cr, gpointer) {
                             auto* color = static_cast<ui::Color*>(
                                 g_object_get_data(G_OBJECT(w), "hyb-background"));
                             if (!color) return FALSE;
                             cairo_set_source_rgba(cr, color->red(), color->green(), color->blue(),
                                                   color->alpha());
                             cairo_paint(cr);
                             return FALSE;
                         }),
                         nullptr);
        return fixed;
    }

    // Gives a view with a tap recognizer an input box over it whose clicks fire the recognizer
    // at the point clicked.
    void placeTapBox(const std::shared_ptr<ui::View>& view, Drawn& drawn, GtkWidget* container,
                     int left, int top, int width, int height, bool visible) {
        auto tap = tapRecognizerOf(*view);
        if (!tap) {
            if (drawn.tapBox) gtk_widget_hide(drawn.tapBox);
            return;
        }
        if (!drawn.tapBox) {
            drawn.tapBox = gtk_event_box_new();
            gtk_event_box_set_visible_window(GTK_EVENT_BOX(drawn.tapBox), FALSE);
            gtk_event_box_set_above_child(GTK_EVENT_BOX(drawn.tapBox), TRUE);
            gtk_widget_add_events(drawn.tapBox, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK);
            std::weak_ptr<ui::View> weakView = view;
            g_signal_connect_data(
                drawn.tapBox, "button-release-event",
                G_CALLBACK(+[](GtkWidget*, GdkEventButton* event, gpointer data) -> gboolean {
                    auto held = static_cast<std::weak_ptr<ui::View>*>(data)->lock();
                    if (!held || event->button != 1) return FALSE;
                    if (auto recognizer = tapRecognizerOf(*held)) {
                        recognizer->tapAt({event->x, event->y});
                    }
                    if (auto* presenter = GtkViewPresenter::installed()) presenter->sync();
                    return TRUE;
                }),
                new std::weak_ptr<ui::View>(weakView),
                [](gpointer data, GClosure*) {
                    delete static_cast<std::weak_ptr<ui::View>*>(data);
                },
                GConnectFlags(0));
            gtk_fixed_put(GTK_FIXED(container), drawn.tapBox, left, top);
        } else if (gtk_widget_get_parent(drawn.tapBox) != container) {
            g_object_ref(drawn.tapBox);
            gtk_container_remove(GTK_CONTAINER(gtk_widget_get_parent(drawn.tapBox)), drawn.tapBox);
            gtk_fixed_put(GTK_FIXED(container), drawn.tapBox, left, top);
            g_object_unref(drawn.tapBox);
        }
        moveInFixed(container, drawn.tapBox, left, top);
        gtk_widget_set_size_request(drawn.tapBox, width, height);
        gtk_widget_set_visible(drawn.tapBox, visible && view->isUserInteractionEnabled());
        // Over the view's own widgets.
        if (GdkWindow* input = gtk_widget_get_window(drawn.tapBox)) gdk_window_raise(input);
    }

    // Places the view at (x, y) of `container` (a GtkFixed), and its subviews.
    void place(const std::shared_ptr<ui::View>& view, GtkWidget* container, double x, double y,
               bool hidden = false) {
        Drawn& drawn = widgets[view.get()];
        if (drawn.view.lock() != view) {
            destroy(drawn);
            drawn = Drawn{};
            drawn.view = view;
        }
        if (!drawn.widget) {
            Maker maker(*this, drawn);
            view->accept(maker);
            drawn.widget = maker.widget;
            if (!drawn.widget) return;
            gtk_fixed_put(GTK_FIXED(container), drawn.widget, 0, 0);
            drawn.container = container;
        } else if (drawn.container != container) {
            g_object_ref(drawn.widget);
            if (GtkWidget* parent = gtk_widget_get_parent(drawn.widget)) {
                gtk_container_remove(GTK_CONTAINER(parent), drawn.widget);
            }
            gtk_fixed_put(GTK_FIXED(container), drawn.widget, 0, 0);
            g_object_unref(drawn.widget);
            drawn.container = container;
        }
        drawn.seen = true;
        GtkWidget* widget = drawn.widget;
        const ui::Rect frame = view->frame();
        const double left = x + frame.x();
        const double top = y + frame.y();
        const int width = std::max(0, static_cast<int>(frame.width()));
        const int height = std::max(0, static_cast<int>(frame.height()));
        moveInFixed(container, widget, static_cast<int>(left), static_cast<int>(top));
        gtk_widget_set_size_request(widget, width, height);
        hidden = hidden || view->isHidden() || view->alpha() <= 0;
        gtk_widget_set_visible(widget, !hidden);
        if (!hidden) gtk_widget_set_opacity(widget, std::min(1.0, view->alpha()));
        Updater updater(drawn, width, height);
        view->accept(updater);
        // A web view draws its own content; its scroll view is the engine's.
        if (drawn.drawsItsContent) return;
        if (drawn.content) {
            auto* scroll = static_cast<ui::ScrollView*>(view.get());
            const ui::Size content = scroll->contentSize();
            gtk_widget_set_size_request(drawn.content, width,
                                        std::max(height, static_cast<int>(content.height)));
            for (const auto& child : view->subviews()) place(child, drawn.content, 0, 0, hidden);
            syncOffset(*scroll, drawn);
        } else {
            for (const auto& child : view->subviews()) place(child, container, left, top, hidden);
        }
        placeTapBox(view, drawn, container, static_cast<int>(left), static_cast<int>(top), width,
                    height, !hidden);
    }

    // A scroll offset set on the view (a table scrolled to its end) moves the GTK view too.
    static void syncOffset(ui::ScrollView& scroll, Drawn& drawn) {
        const double wanted = scroll.contentOffset().y;
        GtkAdjustment* adjustment =
            gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(drawn.widget));
        if (std::fabs(wanted - gtk_adjustment_get_value(adjustment)) < 0.5) return;
        // GTK learns the content's size at its next layout; until then the value would be cut.
        if (gtk_adjustment_get_upper(adjustment) <
            wanted + gtk_adjustment_get_page_size(adjustment))
            return;
        gtk_adjustment_set_value(adjustment, wanted);
    }

    // Brings a view's widget up to the view, by the view's kind.
    struct Updater : ui::ViewVisitor {
        Drawn& drawn;
        GtkWidget* widget;
        int width;
        int height;

        Updater(Drawn& drawn, int width, int height)
            : drawn(drawn), widget(drawn.widget), width(width), height(height) {}
        void visit(ui::View& view) override {
            if (view.backgroundColor()) paintBackground(widget, *view.backgroundColor());
        }
        void visit(WebView&) override {}
        void visit(av::CaptureVideoPreviewLayer& preview) override {
            GtkCapturePreview::update(preview, widget);
        }
        void visit(ui::Toolbar& toolbar) override {
            const ui::Color bar = toolbar.barTintColor().value_or(kDarkBar);
            style(widget, "background-color: " + cssColor(bar) + ";");
            std::string key = toolbarKey(toolbar, bar);
            if (drawn.key == key) return;
            fillToolbar(widget, toolbar, bar);
            drawn.key = std::move(key);
        }
        void visit(ui::NavigationBar& navigationBar) override {
            const ui::Color bar = navigationBar.barTintColor().value_or(kLightBar);
            style(widget, "background-color: " + cssColor(bar) + ";");
            std::string key = navigationBarKey(navigationBar, bar);
            if (drawn.key == key) return;
            fillNavigationBar(widget, navigationBar, bar);
            drawn.key = std::move(key);
        }
        void visit(ui::Label& label) override {
            describe(widget, label);
            // Set only on change: GTK lays a label out and draws it again on every set.
            const std::string text = label.text().value_or("");
            if (text != gtk_label_get_text(GTK_LABEL(widget))) {
                gtk_label_set_text(GTK_LABEL(widget), text.c_str());
            }
            const auto alignment = label.textAlignment();
            gtk_label_set_xalign(GTK_LABEL(widget),
                                 alignment == ui::Label::TextAlignment::Center  ? 0.5f
                                 : alignment == ui::Label::TextAlignment::Right ? 1.0f
                                                                                : 0.0f);
            std::string css;
            if (label.textColor()) css += "color: " + cssColor(*label.textColor()) + ";";
            if (label.backgroundColor()) {
                css += "background-color: " + cssColor(*label.backgroundColor()) + ";";
            }
            style(widget, css);
        }
        void visit(ui::Button& button) override {
            describe(widget, button);
            const auto title = button.titleForState(ui::Button::kControlStateNormal);
            const char* shownTitle = gtk_button_get_label(GTK_BUTTON(widget));
            if (title ? !shownTitle || *title != shownTitle : shownTitle != nullptr) {
                gtk_button_set_label(GTK_BUTTON(widget), title ? title->c_str() : nullptr);
            }
            if (auto image = button.imageForState(ui::Button::kControlStateNormal)) {
                GtkWidget* shown = gtk_button_get_image(GTK_BUTTON(widget));
                if (!shown) {
                    shown = gtk_image_new();
                    gtk_button_set_image(GTK_BUTTON(widget), shown);
                    gtk_button_set_always_show_image(GTK_BUTTON(widget), TRUE);
                    gtk_button_set_relief(GTK_BUTTON(widget), GTK_RELIEF_NONE);
                }
                setImage(shown, image, width, height, ui::ContentMode::ScaleAspectFit);
            }
            gtk_widget_set_sensitive(widget, button.isEnabled());
            // A tinted button is drawn as the platform draws one: its title in the tint, on
            // what it lies on (a light button face would hide a light tint).
            if (button.tintColor()) {
                const std::string tint = cssColor(*button.tintColor());
                style(widget,
                      "color: " + tint + "; background: none; border: 1px solid " + tint + ";");
            }
        }
        void visit(ui::SegmentedControl& control) override {
            describe(widget, control);
            visit(static_cast<ui::View&>(control));
        }
        void visit(ui::ImageView& imageView) override {
            setImage(widget, imageView.image(), width, height, imageView.contentMode());
        }
        void visit(ui::TextField& field) override {
            if (!gtk_widget_has_focus(widget))
                gtk_entry_set_text(GTK_ENTRY(widget), field.text().c_str());
            gtk_entry_set_visibility(GTK_ENTRY(widget), !field.isSecureTextEntry());
        }
        void visit(ui::ActivityIndicatorView& spinner) override {
            if (spinner.isAnimating()) {
                gtk_spinner_start(GTK_SPINNER(widget));
            } else {
                gtk_spinner_stop(GTK_SPINNER(widget));
            }
            if (spinner.hidesWhenStopped() && !spinner.isAnimating()) gtk_widget_hide(widget);
        }
        void visit(ui::TableViewCell& cell) override {
            paintBackground(widget, cell.backgroundColor().value_or(ui::Color(1, 1, 1, 1)));
        }
        void visit(ui::ScrollView& scroll) override {
            style(widget, "background-color: " +
                              (scroll.backgroundColor() ? cssColor(*scroll.backgroundColor())
                                                        : std::string("#ffffff")) +
                              ";");
        }
        void visit(ui::TableView& table) override {
            visit(static_cast<ui::ScrollView&>(table));
            // The rows that come near, before they are placed.
            table.layoutRows();
        }
    };

    GtkWidget* widgetFor(const ui::View& view) const {
        auto found = widgets.find(&view);
        return found == widgets.end() ? nullptr : found->second.widget;
    }
    GtkWidget* tapTargetFor(const ui::View& view) const {
        auto found = widgets.find(&view);
        return found == widgets.end() ? nullptr : found->second.tapBox;
    }
};

// The views over the main page: drawn in a layer over the engine's widget while they show.
// The layer lives in the engine's window and goes with it.
struct GtkViewPresenter::Overlay {
    GtkWidget* engineWindow = nullptr;  // cleared when GTK destroys the window
    Shown layer;

    explicit Overlay(GtkWidget* window) : engineWindow(window) {
        g_object_add_weak_pointer(G_OBJECT(engineWindow),
                                  reinterpret_cast<gpointer*>(&engineWindow));
    }
    ~Overlay() {
        if (engineWindow) {
            g_object_remove_weak_pointer(G_OBJECT(engineWindow),
                                         reinterpret_cast<gpointer*>(&engineWindow));
        }
    }
    Overlay(const Overlay&) = delete;
    Overlay& operator=(const Overlay&) = delete;
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
    // The ui layer says when something drawn changes; the display follows once the main loop
    // is free, and an alert answered in any way leaves it at once.
    ui::Display::setObserver(changed);
    ui::ViewController::setPresentationObserver([] {
        if (auto* presenter = presenterSlot()) presenter->syncAlerts(ui::Window::windows());
    });
    ui::AccessibilityNotifications::setObserver(
        [](const ui::AccessibilityNotifications::Posted& posted) {
            auto* presenter = presenterSlot();
            if (!presenter || posted.notification != ui::AccessibilityNotification::Announcement ||
                !posted.argument) {
                return;
            }
            presenter->sync();
            presenter->announce(*posted.argument);
        });
    changed();
}

void GtkViewPresenter::changed() {
    auto* presenter = presenterSlot();
    if (!presenter || presenter->syncScheduled_.exchange(true)) return;
    // What a sync itself changes (the rows a table makes as it is drawn, an offset GTK has just
    // settled) is drawn a moment later: a view that changes each time it is drawn cannot keep
    // the main loop busy.
    const auto run = [](gpointer) -> gboolean {
        if (auto* presenter = presenterSlot()) {
            presenter->syncScheduled_ = false;
            presenter->sync();
        }
        return G_SOURCE_REMOVE;
    };
    if (presenter->syncing_) {
        g_timeout_add(kSettleMs, run, nullptr);
    } else {
        g_idle_add_full(G_PRIORITY_DEFAULT, run, nullptr, nullptr);
    }
}

GtkWidget* GtkViewPresenter::gtkWindowFor(const ui::Window& window) const {
    auto it = shown_.find(&window);
    return it == shown_.end() ? nullptr : it->second->gtkWindow;
}

GtkWidget* GtkViewPresenter::widgetFor(const ui::View& view) const {
    for (const auto& [window, shown] : shown_) {
        if (GtkWidget* widget = shown->widgetFor(view)) return widget;
    }
    for (const auto& [window, overlay] : overlays_) {
        if (GtkWidget* widget = overlay->layer.widgetFor(view)) return widget;
    }
    return nullptr;
}

GtkWidget* GtkViewPresenter::tapTargetFor(const ui::View& view) const {
    for (const auto& [window, shown] : shown_) {
        if (GtkWidget* widget = shown->tapTargetFor(view)) return widget;
    }
    return nullptr;
}

GtkWidget* GtkViewPresenter::announcement() const {
    return announcement_;
}

void GtkViewPresenter::announce(const std::string& text) {
    if (announcement_) gtk_widget_destroy(announcement_);
    announcement_ = nullptr;
    // Over the screen the user is on: the topmost presented one, else the page.
    GtkWidget* holder = nullptr;
    for (const auto& window : ui::Window::windows()) {
        auto found = shown_.find(window.get());
        if (found != shown_.end()) holder = found->second->fixed;
    }
    if (!holder) return;
    // A notification that comes into view is read out; it takes no room and shows nothing.
    announcement_ = gtk_label_new(text.c_str());
    gtk_widget_set_opacity(announcement_, 0);
    gtk_widget_set_size_request(announcement_, 1, 1);
    AtkObject* accessible = gtk_widget_get_accessible(announcement_);
    atk_object_set_role(accessible, ATK_ROLE_NOTIFICATION);
    atk_object_set_name(accessible, text.c_str());
    g_object_add_weak_pointer(G_OBJECT(announcement_), reinterpret_cast<gpointer*>(&announcement_));
    gtk_fixed_put(GTK_FIXED(holder), announcement_, 0, 0);
    gtk_widget_show(announcement_);
}

void GtkViewPresenter::sync() {
    // A scroll or a tap inside a sync asks for another; the one running takes care of it.
    if (syncing_) return;
    syncing_ = true;
    ++syncs_;
    const auto windows = ui::Window::windows();
    std::map<const ui::Window*, std::shared_ptr<ui::ViewController>> wanted;
    std::map<const ui::Window*, std::shared_ptr<ui::Window>> byKey;
    GtkWidget* mainWindow = nullptr;
    std::shared_ptr<WebView> mainPage;
    for (const auto& window : windows) {
        if (!mainWindow && window->rootViewController() &&
            window->rootViewController()->isViewLoaded()) {
            mainPage = webViewIn(window->rootViewController()->view());
            auto engine = engineOf(mainPage);
            mainWindow = engine ? engine->window() : nullptr;
        }
        // Screens presented over a window's root are drawn here: the root of the main window
        // is the host's page, which its engine shows itself, and alerts have dialogs.
        if (auto top = topPresented(*window)) {
            wanted[window.get()] = top;
            byKey[window.get()] = window;
        }
    }
    for (auto it = shown_.begin(); it != shown_.end();) {
        auto keep = wanted.find(it->first);
        if (keep == wanted.end() || it->second->root.lock() != keep->second->view() ||
            it->second->window.expired()) {
            it = shown_.erase(it);
        } else {
            ++it;
        }
    }
    for (const auto& [key, top] : wanted) {
        const auto root = top->view();
        if (!shown_.count(key))
            show(byKey[key], top, mainWindow ? GTK_WINDOW(mainWindow) : nullptr);
        Shown& shown = *shown_[key];
        shown.place(root, shown.fixed, -root->frame().x(), -root->frame().y());
        shown.prune();
        syncStatusBar(shown, top);
    }
    syncOverlays(windows);
    syncStatusBar(mainPage);
    syncAlerts(windows);
    syncing_ = false;
}

void GtkViewPresenter::syncOverlays(const std::vector<std::shared_ptr<ui::Window>>& windows) {
    std::map<const ui::Window*, bool> live;
    for (const auto& window : windows) {
        auto root = window->rootViewController();
        if (!root || !root->isViewLoaded()) continue;
        GtkWidget* engineWindow = engineWindowIn(root->view());
        if (!engineWindow) continue;
        // The views beside the page that show over it (the launch screen while it covers).
        // Those behind it (the status bar's scroll view) are hidden by the page: drawn over it,
        // they would take its clicks and scrolls, and paint it again while it loads.
        std::vector<std::shared_ptr<ui::View>> over;
        bool abovePage = false;
        for (const auto& child : root->view()->subviews()) {
            if (GtkWidget* holder = engineWindowIn(child)) {
                abovePage = abovePage || holder == engineWindow;
                continue;
            }
            if (!abovePage || child->isHidden() || child->alpha() <= 0) continue;
            over.push_back(child);
        }
        auto found = overlays_.find(window.get());
        if (over.empty()) {
            if (found != overlays_.end() && found->second->engineWindow) {
                gtk_widget_hide(found->second->layer.fixed);
            }
            live[window.get()] = found != overlays_.end();
            continue;
        }
        if (found == overlays_.end() || found->second->engineWindow != engineWindow) {
            // The engine's window holds the page in an overlay: the layer goes over the page
            // without moving it.
            GtkWidget* stack = gtk_bin_get_child(GTK_BIN(engineWindow));
            if (!stack || !GTK_IS_OVERLAY(stack)) continue;
            auto overlay = std::make_unique<Overlay>(engineWindow);
            overlay->layer.fixed = gtk_fixed_new();
            // As large as its views reach from the top left and no larger: the overlay gives it
            // a window of its own, which takes every click within it (a strip over the top of
            // the page leaves the rest of the page to the user).
            gtk_widget_set_halign(overlay->layer.fixed, GTK_ALIGN_START);
            gtk_widget_set_valign(overlay->layer.fixed, GTK_ALIGN_START);
            gtk_overlay_add_overlay(GTK_OVERLAY(stack), overlay->layer.fixed);
            gtk_widget_show_all(overlay->layer.fixed);
            // The status bar stays over everything, the launch screen included.
            if (statusBand_ && statusBand_->window == engineWindow) {
                gtk_overlay_reorder_overlay(GTK_OVERLAY(stack), statusBand_->band, -1);
            }
            found = overlays_.insert_or_assign(window.get(), std::move(overlay)).first;
        }
        live[window.get()] = true;
        Overlay& overlay = *found->second;
        if (!overlay.engineWindow) continue;
        gtk_widget_show(overlay.layer.fixed);
        for (const auto& view : over) overlay.layer.place(view, overlay.layer.fixed, 0, 0);
        overlay.layer.prune();
    }
    // A layer whose window went is forgotten; its widgets went with the window.
    std::erase_if(overlays_, [&](auto& entry) {
        if (live.count(entry.first) && entry.second->engineWindow) return false;
        entry.second->layer.widgets.clear();
        return true;
    });
}

void GtkViewPresenter::syncStatusBar(const std::shared_ptr<WebView>& page) {
    auto engine = engineOf(page);
    if (!engine) return;
    GtkWidget* stack = gtk_bin_get_child(GTK_BIN(engine->window()));
    if (!stack || !GTK_IS_OVERLAY(stack)) return;
    // The page sits where its view's frame puts it: below the bar when the bar does not lie
    // over it. Its widget is the engine's own; one lent to a screen is that screen's.
    GtkWidget* shown = GTK_WIDGET(engine->webView());
    if (gtk_widget_get_parent(shown) == stack) {
        const int top = std::max(0, static_cast<int>(std::lround(page->frame().y())));
        if (gtk_widget_get_margin_top(shown) != top) gtk_widget_set_margin_top(shown, top);
    }
    if (!statusBand_ || statusBand_->window != engine->window()) {
        statusBand_ = std::make_unique<StatusBand>(engine->window(), stack);
    }
    const auto& bar = ui::StatusBar::shared();
    const int height = barHeight(bar.frame());
    statusBand_->update(height, bar.contentColor());
    if (height > 0) wakeWhenTheMinuteTurns();
}

void GtkViewPresenter::syncStatusBar(Shown& shown, const std::shared_ptr<ui::ViewController>& top) {
    const BandPlace place = bandPlaceOver(top);
    shown.band->update(place.height, place.content);
    const int topOfScreen = screenTop(*top);
    if (gtk_widget_get_margin_top(shown.viewport) != topOfScreen) {
        gtk_widget_set_margin_top(shown.viewport, topOfScreen);
    }
    if (place.height > 0) wakeWhenTheMinuteTurns();
}

void GtkViewPresenter::wakeWhenTheMinuteTurns() {
    // The time shown changes with the minute, which nothing in the ui layer announces: one
    // timer for every band asks for a sync when the minute turns.
    if (minuteTimer_) return;
    const double now = dispatch::Clock::current().wallTime();
    const auto untilNext = static_cast<guint>((60.0 - std::fmod(now, 60.0)) * 1000) + 1;
    minuteTimer_ = g_timeout_add(
        untilNext,
        [](gpointer) -> gboolean {
            if (auto* presenter = presenterSlot()) presenter->minuteTimer_ = 0;
            GtkViewPresenter::changed();
            return G_SOURCE_REMOVE;
        },
        nullptr);
}

GtkWidget* GtkViewPresenter::statusBarBand() const {
    return statusBand_ && statusBand_->window ? statusBand_->band : nullptr;
}

GtkWidget* GtkViewPresenter::statusBarBandFor(const ui::Window& window) const {
    auto it = shown_.find(&window);
    return it == shown_.end() || !it->second->band ? nullptr : it->second->band->band;
}

void GtkViewPresenter::syncAlerts(const std::vector<std::shared_ptr<ui::Window>>& windows) {
    std::map<const ui::AlertController*, bool> live;
    for (const auto& window : windows) {
        for (const auto& alert : alertsIn(*window)) {
            if (alert->isPressed()) continue;
            live[alert.get()] = true;
            if (alerts_.count(alert.get())) continue;
            GtkWidget* parent = gtkWindowFor(*window);
            if (!parent && window->rootViewController()) {
                parent = engineWindowIn(window->rootViewController()->view());
            }
            alerts_[alert.get()] = std::make_unique<WebKitGtkAlertDialog>(
                alert, parent ? GTK_WINDOW(parent) : nullptr);
        }
    }
    std::erase_if(alerts_, [&](const auto& entry) { return !live.count(entry.first); });
}

void GtkViewPresenter::resizedByUser(const std::weak_ptr<ui::Window>& weak, ui::Size size) {
    // Not inside GTK's layout pass: the screen's new layout changes the widgets' sizes.
    dispatch::Queue::main().async([weak, size] {
        auto window = weak.lock();
        auto top = window ? topPresented(*window) : nullptr;
        if (!top || !top->isViewLoaded() || top->view()->frame().size == size) return;
        top->transitionViewToSize(size);
        if (auto* presenter = installed()) presenter->sync();
    });
}

void GtkViewPresenter::closeByUser(const std::weak_ptr<ui::Window>& weak) {
    auto window = weak.lock();
    if (!window) return;
    if (auto top = topPresented(*window)) top->presentationController().closeByUser();
}

void GtkViewPresenter::show(const std::shared_ptr<ui::Window>& window,
                            const std::shared_ptr<ui::ViewController>& top, GtkWindow* parent) {
    auto shown = std::make_unique<Shown>();
    shown->window = window;
    shown->root = top->view();
    shown->gtkWindow = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* gtkWindow = GTK_WINDOW(shown->gtkWindow);
    // As large as the window the screen is presented in (the main window's size): the band
    // lies inside it, over the screen or above a sheet.
    const ui::Rect frame = window->frame();
    gtk_window_set_default_size(gtkWindow, static_cast<int>(frame.width()),
                                static_cast<int>(frame.height()));
    // The user may resize a screen's window, as a phone's screen turns: the screen takes the
    // window's size and lays itself out again.
    gtk_window_set_resizable(gtkWindow, TRUE);
    if (parent) {
        // Over the main window; not modal, since a modal grab would keep the page's own
        // windows from being closed.
        gtk_window_set_transient_for(gtkWindow, parent);
        gtk_window_set_position(gtkWindow, GTK_WIN_POS_CENTER_ON_PARENT);
    }
    style(shown->gtkWindow, kWindowBackground);
    // Closing the window or pressing Escape is the user leaving the screen: the screen decides
    // (its plug-in answers the page), and the window goes when the screen has gone.
    auto* carried = new std::weak_ptr<ui::Window>(window);
    g_signal_connect_data(
        shown->gtkWindow, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer data) {
            closeByUser(*static_cast<std::weak_ptr<ui::Window>*>(data));
            return TRUE;
        }),
        carried,
        [](gpointer data, GClosure*) { delete static_cast<std::weak_ptr<ui::Window>*>(data); },
        GConnectFlags(0));
    g_signal_connect_data(
        shown->gtkWindow, "key-press-event",
        G_CALLBACK(+[](GtkWidget*, GdkEventKey* event, gpointer data) -> gboolean {
            if (event->keyval != GDK_KEY_Escape) return FALSE;
            closeByUser(*static_cast<std::weak_ptr<ui::Window>*>(data));
            return TRUE;
        }),
        new std::weak_ptr<ui::Window>(window),
        [](gpointer data, GClosure*) { delete static_cast<std::weak_ptr<ui::Window>*>(data); },
        GConnectFlags(0));
    // The views lie in a fixed layer whose size is theirs; the window around it may be made
    // smaller than they are (they follow at the next sync), so a scrolled window without
    // scroll bars holds it.
    GtkWidget* viewport = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(viewport), GTK_POLICY_EXTERNAL,
                                   GTK_POLICY_EXTERNAL);
    gtk_widget_set_size_request(viewport, kMinimumScreenSide, kMinimumScreenSide);
    shown->fixed = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(viewport), shown->fixed);
    style(viewport, kWindowBackground);
    if (GtkWidget* holder = gtk_bin_get_child(GTK_BIN(viewport))) style(holder, kWindowBackground);
    // The status bar's band lies over the screen, or over the room a sheet leaves above it.
    GtkWidget* stack = gtk_overlay_new();
    gtk_container_add(GTK_CONTAINER(stack), viewport);
    gtk_container_add(GTK_CONTAINER(shown->gtkWindow), stack);
    shown->viewport = viewport;
    shown->band = std::make_unique<StatusBand>(shown->gtkWindow, stack);
    g_signal_connect_data(
        viewport, "size-allocate",
        G_CALLBACK(+[](GtkWidget*, GdkRectangle* allocation, gpointer data) {
            resizedByUser(*static_cast<std::weak_ptr<ui::Window>*>(data),
                          {double(allocation->width), double(allocation->height)});
        }),
        new std::weak_ptr<ui::Window>(window),
        [](gpointer data, GClosure*) { delete static_cast<std::weak_ptr<ui::Window>*>(data); },
        GConnectFlags(0));
    gtk_widget_show_all(shown->gtkWindow);
    shown_[window.get()] = std::move(shown);
}

}  // namespace wk
