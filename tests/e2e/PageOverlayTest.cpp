#include <gtk/gtk.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "bridge/HYBViewController.h"
#include "platform/gtk/GtkViewPresenter.h"
#include "platform/gtk/WebKitGtkEngine.h"
#include "platform/ui/Color.h"
#include "platform/ui/Label.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "platform/wk/WebView.h"
#include "tests/e2e/E2EHost.h"

#include <gtest/gtest.h>

namespace {

// Views beside the page: those in front of it are drawn over it, those behind it (the status
// bar's scroll view is one) are hidden by it and get no widget that would take the page's
// clicks and scrolls.
TEST(PageOverlay, OnlyViewsInFrontOfThePageAreDrawnOverIt) {
    E2EHost& host = E2EHost::shared();
    auto* presenter = wk::GtkViewPresenter::installed();
    ASSERT_TRUE(presenter);
    auto root = host.controller()->view();
    auto behind = ui::View::create({{0, 0}, {100, 100}});
    behind->setBackgroundColor(ui::Color(1, 0, 0, 1));
    auto front = ui::View::create({{0, 0}, {100, 100}});
    front->setBackgroundColor(ui::Color(0, 0, 1, 1));
    root->addSubview(behind);
    root->sendSubviewToBack(behind);
    root->addSubview(front);
    presenter->sync();
    EXPECT_NE(presenter->widgetFor(*front), nullptr);
    EXPECT_EQ(presenter->widgetFor(*behind), nullptr);
    front->removeFromSuperview();
    behind->removeFromSuperview();
    presenter->sync();
}

// A view that does not change is not laid out again on the presenter's next turns: each
// layout paints the page under it again, and a page painted before its web process has drawn
// (while it loads) makes the program wait for that process.
TEST(PageOverlay, AnUnchangedLabelIsNotLaidOutAgain) {
    E2EHost& host = E2EHost::shared();
    auto* presenter = wk::GtkViewPresenter::installed();
    ASSERT_TRUE(presenter);
    auto label = ui::Label::create({{10, 10}, {200, 30}});
    label->setText("Loading");
    host.controller()->view()->addSubview(label);
    presenter->sync();
    GtkWidget* widget = presenter->widgetFor(*label);
    ASSERT_TRUE(widget && GTK_IS_LABEL(widget));
    // Held, so that a layout made again cannot come back at the same address.
    PangoLayout* laidOut = PANGO_LAYOUT(g_object_ref(gtk_label_get_layout(GTK_LABEL(widget))));
    presenter->sync();
    presenter->sync();
    EXPECT_EQ(gtk_label_get_layout(GTK_LABEL(widget)), laidOut);
    label->setText("Loaded");
    presenter->sync();
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(widget)), "Loaded");
    g_object_unref(laidOut);
    label->removeFromSuperview();
    presenter->sync();
}

// The presenter follows the ui layer when it says that something drawn changed, not on a timer:
// a change reaches its widget once the main loop is free, with no sync asked for, and while
// nothing changes nothing is drawn again (a timer would sync every few tens of milliseconds;
// the minute turning may ask for one sync).
TEST(PageOverlay, TheDisplayFollowsChangesAndOnlyChanges) {
    E2EHost& host = E2EHost::shared();
    auto* presenter = wk::GtkViewPresenter::installed();
    ASSERT_TRUE(presenter);
    auto label = ui::Label::create({{10, 10}, {200, 30}});
    label->setText("Before");
    host.controller()->view()->addSubview(label);
    ASSERT_TRUE(host.runUntil([&] { return presenter->widgetFor(*label) != nullptr; }));
    GtkWidget* widget = presenter->widgetFor(*label);
    ASSERT_TRUE(GTK_IS_LABEL(widget));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(widget)), "Before");

    const uint64_t settled = presenter->syncs();
    host.runUntil([] { return false; }, std::chrono::milliseconds(500));
    EXPECT_LE(presenter->syncs() - settled, 1u);

    label->setText("After");
    EXPECT_TRUE(host.runUntil(
        [&] { return gtk_label_get_text(GTK_LABEL(widget)) == std::string("After"); }));
    label->setHidden(true);
    EXPECT_TRUE(host.runUntil([&] { return !gtk_widget_is_visible(widget); }));
    label->removeFromSuperview();
}

// What the page asks of the status bar through the bridge, without an answer.
void statusBarCall(E2EHost& host, const std::string& action, const std::string& arguments = "[]") {
    host.run("hybrid.require('hybrid/exec')(null, null, 'StatusBar', '" + action + "', " +
             arguments + ")");
}

// The colour GTK draws a label's text in.
std::string textColour(GtkWidget* label) {
    GdkRGBA colour;
    gtk_style_context_get_color(gtk_widget_get_style_context(label), GTK_STATE_FLAG_NORMAL,
                                &colour);
    char text[32];
    std::snprintf(text, sizeof text, "%.0f %.0f %.0f", colour.red * 255, colour.green * 255,
                  colour.blue * 255);
    return text;
}

// The status bar the page controls is drawn over it: a band as high as the bar's frame with
// the time in the bar's style, gone while the bar is hidden; with the bar not over the page,
// the page starts below it and the strip the plug-in puts behind the bar shows in its colour;
// a click on the band is a tap the page hears.
TEST(PageOverlay, StatusBarBandFollowsTheBar) {
    E2EHost& host = E2EHost::shared();
    auto* presenter = wk::GtkViewPresenter::installed();
    ASSERT_TRUE(presenter);
    auto& bar = ui::StatusBar::shared();
    ASSERT_FALSE(bar.isHidden());
    GtkWidget* page = GTK_WIDGET(host.engine()->webView());
    const auto ready = host.call("StatusBar", "_ready", "[]");
    ASSERT_EQ(ready.size(), 1u);
    presenter->sync();
    GtkWidget* band = presenter->statusBarBand();
    ASSERT_TRUE(band);
    const auto height = [&] {
        int width = 0, shown = 0;
        gtk_widget_get_size_request(band, &width, &shown);
        return shown;
    };
    GtkWidget* clock = gtk_bin_get_child(GTK_BIN(band));
    ASSERT_TRUE(clock && GTK_IS_LABEL(clock));
    EXPECT_TRUE(gtk_widget_get_visible(band));
    EXPECT_EQ(height(), static_cast<int>(bar.frame().height()));
    EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(clock))).size(), 5u);
    EXPECT_EQ(gtk_widget_get_margin_top(page), 0) << "the bar lies over the page";

    statusBarCall(host, "styleLightContent");
    ASSERT_TRUE(host.runUntil([&] { return bar.style() == ui::StatusBar::Style::LightContent; }));
    presenter->sync();
    EXPECT_EQ(textColour(clock), "255 255 255");
    statusBarCall(host, "styleDefault");
    ASSERT_TRUE(host.runUntil([&] { return bar.style() != ui::StatusBar::Style::LightContent; }));
    presenter->sync();
    EXPECT_EQ(textColour(clock), "0 0 0");

    statusBarCall(host, "hide");
    ASSERT_TRUE(host.runUntil([&] { return bar.isHidden(); }));
    presenter->sync();
    EXPECT_FALSE(gtk_widget_get_visible(band));

    statusBarCall(host, "overlaysWebView", "[false]");
    statusBarCall(host, "backgroundColorByHexString", "['#2060c0']");
    statusBarCall(host, "show");
    ASSERT_TRUE(host.runUntil([&] { return !bar.isHidden(); }));
    presenter->sync();
    EXPECT_TRUE(gtk_widget_get_visible(band));
    const int barHeight = static_cast<int>(bar.frame().height());
    EXPECT_EQ(gtk_widget_get_margin_top(page), barHeight) << "the page starts below the bar";
    auto strip = host.controller()->view()->subviews().back();
    EXPECT_EQ(strip->frame().height(), barHeight);
    GtkWidget* drawnStrip = presenter->widgetFor(*strip);
    ASSERT_TRUE(drawnStrip);
    EXPECT_TRUE(gtk_widget_get_visible(drawnStrip));
    // What draws the strip over the page takes no clicks below it: the page has them.
    host.runUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(gtk_widget_get_allocated_height(gtk_widget_get_parent(drawnStrip)), barHeight);

    // A click on the band: the page hears a tap on its ready callback.
    const size_t from = host.reportCount();
    GdkEvent* click = gdk_event_new(GDK_BUTTON_RELEASE);
    click->button.button = 1;
    click->button.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(band)));
    gtk_widget_event(band, click);
    gdk_event_free(click);
    EXPECT_TRUE(host.waitForReport(from, [](const E2EHost::Report& report) {
        return report.body["value"]["type"] == ns::Value("tap");
    }));

    // Back as the other cases expect it.
    statusBarCall(host, "overlaysWebView", "[true]");
    ASSERT_TRUE(host.runUntil([&] { return host.webView()->frame().y() == 0; }));
    presenter->sync();
    EXPECT_EQ(gtk_widget_get_margin_top(page), 0);
}

// A screen that answers the status bar questions as a test sets them.
class BarScreen : public ui::ViewController {
public:
    bool hidden = false;
    ui::StatusBar::Style style = ui::StatusBar::Style::Default;
    bool prefersStatusBarHidden() const override { return hidden; }
    ui::StatusBar::Style preferredStatusBarStyle() const override { return style; }
};

// Where GTK put the widget in its window, once it has laid the window out.
int topInWindow(GtkWidget* widget) {
    int x = 0, y = -1;
    if (!gtk_widget_get_mapped(widget) ||
        !gtk_widget_translate_coordinates(widget, gtk_widget_get_toplevel(widget), 0, 0, &x, &y)) {
        return -1;
    }
    return y;
}

// Each presented screen's window has the main window's size and draws the bar too: over a
// screen shown full screen, in the style that screen asks for since it governs the bar, and
// hidden when it prefers it hidden; above a sheet or a screen over the current context, whose
// views start below the band, in light content on the backdrop; in no window while the page
// has hidden the bar.
TEST(PageOverlay, PresentedScreensShowTheBarInTheirWindows) {
    E2EHost& host = E2EHost::shared();
    auto* presenter = wk::GtkViewPresenter::installed();
    ASSERT_TRUE(presenter);
    auto& bar = ui::StatusBar::shared();
    host.call("StatusBar", "_ready", "[]");
    statusBarCall(host, "styleDefault");
    ASSERT_TRUE(host.runUntil([&] { return bar.style() == ui::StatusBar::Style::DarkContent; }));
    const int barHeight = static_cast<int>(bar.frame().height());
    ASSERT_GT(barHeight, 0);
    struct Case {
        const char* what;
        ui::ModalPresentationStyle presentation;
        bool prefersHidden;
        bool pageHidesTheBar;
        bool bandShows;
        int screenTop;
        const char* textColour;
    };
    const Case cases[] = {
        {"full screen", ui::ModalPresentationStyle::FullScreen, false, false, true, 0,
         "255 255 255"},
        {"full screen, bar hidden", ui::ModalPresentationStyle::FullScreen, true, false, false, 0,
         nullptr},
        {"sheet", ui::ModalPresentationStyle::PageSheet, false, false, true, barHeight,
         "255 255 255"},
        {"over the current context", ui::ModalPresentationStyle::OverCurrentContext, false, false,
         true, barHeight, "255 255 255"},
        {"sheet, bar hidden over it", ui::ModalPresentationStyle::PageSheet, true, false, false, 0,
         nullptr},
        {"sheet, bar hidden by the page", ui::ModalPresentationStyle::PageSheet, false, true, false,
         0, nullptr},
    };
    auto root = host.controller();
    auto window = root->window();
    ASSERT_TRUE(window);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.pageHidesTheBar) {
            statusBarCall(host, "hide");
            ASSERT_TRUE(host.runUntil([&] { return bar.isHidden(); }));
        }
        auto screen = std::make_shared<BarScreen>();
        screen->hidden = c.prefersHidden;
        screen->style = ui::StatusBar::Style::LightContent;
        screen->setModalPresentationStyle(c.presentation);
        root->presentViewController(screen, false);
        GtkWidget* band = nullptr;
        GtkWidget* drawn = nullptr;
        ASSERT_TRUE(host.runUntil([&] {
            band = presenter->statusBarBandFor(*window);
            drawn = presenter->widgetFor(*screen->view());
            return band && drawn && topInWindow(drawn) == c.screenTop &&
                   gtk_widget_get_visible(band) == c.bandShows;
        })) << "screen at "
            << (drawn ? topInWindow(drawn) : -1);
        GtkWidget* shown = presenter->gtkWindowFor(*window);
        GtkWidget* main = host.engine()->window();
        ASSERT_TRUE(shown);
        EXPECT_TRUE(host.runUntil([&] {
            return gtk_widget_get_allocated_width(shown) == gtk_widget_get_allocated_width(main) &&
                   gtk_widget_get_allocated_height(shown) == gtk_widget_get_allocated_height(main);
        })) << "the screen's window is "
            << gtk_widget_get_allocated_height(shown) << " high, the main window "
            << gtk_widget_get_allocated_height(main);
        if (c.bandShows) {
            int width = 0, height = 0;
            gtk_widget_get_size_request(band, &width, &height);
            EXPECT_EQ(height, barHeight);
            EXPECT_EQ(topInWindow(band), 0);
            EXPECT_EQ(textColour(gtk_bin_get_child(GTK_BIN(band))), c.textColour);
        }
        root->dismissViewController(false);
        ASSERT_TRUE(host.runUntil([&] { return !presenter->gtkWindowFor(*window); }));
        if (c.pageHidesTheBar) {
            statusBarCall(host, "show");
            ASSERT_TRUE(host.runUntil([&] { return !bar.isHidden(); }));
        }
    }
}

}  // namespace
