#include <gtk/gtk.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "bridge/HYBViewController.h"
#include "platform/gtk/GtkViewPresenter.h"
#include "platform/gtk/WebKitGtkEngine.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/Window.h"
#include "plugins/media_browser/HYBWKInAppBrowser.h"
#include "tests/e2e/E2EHost.h"
#include "tests/e2e/LoopbackHTTPServer.h"

#include <gtest/gtest.h>

namespace {

struct Pixel {
    int red = 0, green = 0, blue = 0;
};

// What the GTK window shows at (x, y), drawn into an image as the screen would show it.
std::optional<Pixel> snapshotPixel(GtkWidget* window, int x, int y) {
    GtkWidget* content = gtk_bin_get_child(GTK_BIN(window));
    const int width = gtk_widget_get_allocated_width(content);
    const int height = gtk_widget_get_allocated_height(content);
    if (!gtk_widget_get_mapped(content) || x >= width || y >= height) return std::nullopt;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(surface);
    gtk_widget_draw(content, cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const unsigned char* row =
        cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
    const uint32_t argb = reinterpret_cast<const uint32_t*>(row)[x];
    cairo_surface_destroy(surface);
    return Pixel{static_cast<int>((argb >> 16) & 0xFF), static_cast<int>((argb >> 8) & 0xFF),
                 static_cast<int>(argb & 0xFF)};
}

bool isRed(const std::optional<Pixel>& pixel) {
    return pixel && pixel->red > 200 && pixel->green < 60 && pixel->blue < 60;
}

// The browser is seen: a GTK window shows its toolbar, in the colour and at the place the
// options ask, with the page above it.
TEST(BrowserScreen, ToolbarIsDrawnWhereTheOptionsPutIt) {
    E2EHost& host = E2EHost::shared();
    LoopbackHTTPServer server;
    auto presenter = wk::GtkViewPresenter::installed();
    ASSERT_TRUE(presenter);
    auto plugin = std::dynamic_pointer_cast<HYBWKInAppBrowser>(
        host.controller()->getCommandInstance("InAppBrowser"));
    const std::string args =
        ns::JSONSerialization::write(
            ns::Value::array({server.url("/shown"), "_blank",
                              "toolbarcolor=#FF0000,toolbarposition=top,location=no"}))
            .value();
    const auto answers = host.call("InAppBrowser", "open", args, 3);
    ASSERT_EQ(answers.size(), 3u);

    // The toolbar (44 points) sits at the top, below the status bar; under it is the page.
    GtkWidget* window = nullptr;
    int barMiddle = 0;
    ASSERT_TRUE(host.runUntil([&] {
        window = plugin->tmpWindow() ? presenter->gtkWindowFor(*plugin->tmpWindow()) : nullptr;
        const auto bar = plugin->inAppBrowserViewController()->toolbar()->frame();
        barMiddle = static_cast<int>(bar.y() + bar.height() / 2);
        return window && isRed(snapshotPixel(window, 150, barMiddle));
    }));
    EXPECT_LT(barMiddle, 100);
    EXPECT_FALSE(isRed(snapshotPixel(window, 150, barMiddle + 100)));
    // The strip above the toolbar shows the status bar, in the style the browser asks for.
    const auto& bar = ui::StatusBar::shared();
    GtkWidget* band = presenter->statusBarBandFor(*plugin->tmpWindow());
    ASSERT_TRUE(band);
    EXPECT_TRUE(host.runUntil([&] {
        return gtk_widget_get_mapped(band) &&
               gtk_widget_get_allocated_height(band) ==
                   static_cast<int>(plugin->inAppBrowserViewController()->toolbar()->frame().y());
    }));
    EXPECT_EQ(bar.style(), plugin->inAppBrowserViewController()->preferredStatusBarStyle());

    const size_t from = host.reportCount();
    host.run("e2e.call('close-shown', 'InAppBrowser', 'close', [])");
    ASSERT_TRUE(host.waitForReport(from, [](const E2EHost::Report& r) {
        return r.body["value"]["type"] == ns::Value("exit");
    }));
    // The GTK window goes with the browser.
    EXPECT_TRUE(host.runUntil([&] { return !plugin->tmpWindow(); }));
    EXPECT_TRUE(host.loadStartPage());
}

// The user gives the browser's window another size, smaller than the screen too: the browser
// is laid out again for it, its page under the status bar and the toolbar at the top.
TEST(BrowserScreen, AResizedWindowLaysTheBrowserOutAgain) {
    E2EHost& host = E2EHost::shared();
    LoopbackHTTPServer server;
    auto presenter = wk::GtkViewPresenter::installed();
    auto plugin = std::dynamic_pointer_cast<HYBWKInAppBrowser>(
        host.controller()->getCommandInstance("InAppBrowser"));
    const std::string args =
        ns::JSONSerialization::write(
            ns::Value::array({server.url("/resized"), "_blank", "toolbarposition=top"}))
            .value();
    host.call("InAppBrowser", "open", args, 2);
    GtkWidget* window = nullptr;
    ASSERT_TRUE(host.runUntil([&] {
        window = plugin->tmpWindow() ? presenter->gtkWindowFor(*plugin->tmpWindow()) : nullptr;
        return window && gtk_widget_get_mapped(window);
    }));
    auto browser = plugin->inAppBrowserViewController();
    const double offset = ui::StatusBar::shared().frame().height();
    for (const auto& size : {std::pair{700, 600}, std::pair{300, 500}}) {
        const int width = size.first, height = size.second;
        SCOPED_TRACE(width);
        gtk_window_resize(GTK_WINDOW(window), width, height);
        ASSERT_TRUE(host.runUntil([&] {
            const ui::Rect web = browser->webView()->frame();
            return web.width() == width && web.y() == offset + 44 &&
                   web.y() + web.height() <= height;
        })) << ui::toString(browser->webView()->frame());
        EXPECT_EQ(browser->toolbar()->frame().y(), offset);
        EXPECT_EQ(browser->toolbar()->frame().width(), width);
    }
    const size_t from = host.reportCount();
    host.run("e2e.call('close-resized', 'InAppBrowser', 'close', [])");
    ASSERT_TRUE(host.waitForReport(from, [](const E2EHost::Report& r) {
        return r.body["value"]["type"] == ns::Value("exit");
    }));
    EXPECT_TRUE(host.loadStartPage());
}

double luminance(double r, double g, double b) {
    return 0.2126 * r + 0.7152 * g + 0.0722 * b;
}

GtkWidget* findButton(GtkWidget* root, const std::string& label) {
    if (GTK_IS_BUTTON(root)) {
        const char* text = gtk_button_get_label(GTK_BUTTON(root));
        if (text && label == text) return root;
    }
    if (!GTK_IS_CONTAINER(root)) return nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(root));
    GtkWidget* found = nullptr;
    for (GList* c = children; c && !found; c = c->next)
        found = findButton(GTK_WIDGET(c->data), label);
    g_list_free(children);
    return found;
}

// The page asks for a blue toolbar and no colour for Close: the Part's blue caption is drawn
// so that it reads on that bar.
TEST(BrowserScreen, CloseReadsOnTheToolbarColourThePageAsks) {
    E2EHost& host = E2EHost::shared();
    auto presenter = wk::GtkViewPresenter::installed();
    auto plugin = std::dynamic_pointer_cast<HYBWKInAppBrowser>(
        host.controller()->getCommandInstance("InAppBrowser"));
    const std::string args =
        ns::JSONSerialization::write(
            ns::Value::array({"popup.html", "_blank",
                              "location=yes,closebuttoncaption=Close,toolbarcolor=#2060A0"}))
            .value();
    host.call("InAppBrowser", "open", args, 2);
    GtkWidget* close = nullptr;
    ASSERT_TRUE(host.runUntil([&] {
        GtkWidget* window =
            plugin->tmpWindow() ? presenter->gtkWindowFor(*plugin->tmpWindow()) : nullptr;
        close = window ? findButton(window, "Close") : nullptr;
        return close && gtk_widget_get_mapped(close);
    }));
    GdkRGBA color;
    gtk_style_context_get_color(gtk_widget_get_style_context(close), GTK_STATE_FLAG_NORMAL, &color);
    const double bar = luminance(0x20 / 255.0, 0x60 / 255.0, 0xA0 / 255.0);
    EXPECT_GE(std::abs(luminance(color.red, color.green, color.blue) - bar), 0.3);

    const size_t from = host.reportCount();
    host.run("e2e.call('close-legible', 'InAppBrowser', 'close', [])");
    ASSERT_TRUE(host.waitForReport(from, [](const E2EHost::Report& r) {
        return r.body["value"]["type"] == ns::Value("exit");
    }));
    EXPECT_TRUE(host.loadStartPage());
}

// "Show the launch screen" covers the page with the launch view (its background colour from
// the bundle) until it is hidden again.
TEST(BrowserScreen, TheLaunchScreenCoversThePageWhileShown) {
    E2EHost& host = E2EHost::shared();
    GtkWidget* window = host.engine()->window();
    auto isLaunchBlue = [](const std::optional<Pixel>& p) {
        return p && p->red < 80 && p->green > 80 && p->green < 130 && p->blue > 180;
    };
    // After a load of the start page the launch view fades out over a quarter second.
    ASSERT_TRUE(host.runUntil([&] { return !isLaunchBlue(snapshotPixel(window, 5, 5)); }));
    host.run("e2e.call('splash', 'LaunchScreen', 'show', [])");
    EXPECT_TRUE(host.runUntil([&] { return isLaunchBlue(snapshotPixel(window, 5, 5)); }));
    host.run("e2e.call('splash', 'LaunchScreen', 'hide', [])");
    EXPECT_TRUE(host.runUntil([&] { return !isLaunchBlue(snapshotPixel(window, 5, 5)); }));
}

}  // namespace
