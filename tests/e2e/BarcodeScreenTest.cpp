#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "bridge/HYBViewController.h"
#include "platform/av/CaptureDevice.h"
#include "platform/gtk/GtkViewPresenter.h"
#include "platform/ui/Window.h"
#include "plugins/media_browser/HYBbcsViewController.h"
#include "tests/e2e/E2EHost.h"

namespace {

// The colour the GTK window shows at (x, y), drawn as the screen shows it.
std::optional<uint32_t> pixelAt(GtkWidget* window, int x, int y) {
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
    return argb & 0xFFFFFF;
}

// The first widget under `root` (depth first) for which `matches` holds.
GtkWidget* findWidget(GtkWidget* root, const std::function<bool(GtkWidget*)>& matches) {
    if (matches(root)) return root;
    if (!GTK_IS_CONTAINER(root)) return nullptr;
    GtkWidget* found = nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(root));
    for (GList* c = children; c && !found; c = c->next) {
        found = findWidget(GTK_WIDGET(c->data), matches);
    }
    g_list_free(children);
    return found;
}

GtkWidget* buttonLabelled(GtkWidget* widget, const std::string& label) {
    return findWidget(widget, [&](GtkWidget* w) {
        const char* text = GTK_IS_BUTTON(w) ? gtk_button_get_label(GTK_BUTTON(w)) : nullptr;
        return text && label == text;
    });
}

// A back camera that shows a flat red picture (with a torch and a flash when asked).
void useRedCamera(bool withTorch = false) {
    auto frame = ui::Bitmap::create(64, 48);
    ASSERT_TRUE(frame);
    for (int y = 0; y < 48; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(frame->data() + size_t(y) * frame->stride());
        for (int x = 0; x < 64; ++x) row[x] = 0xFFD02020;
    }
    frame->markDirty();
    std::shared_ptr<const ui::Bitmap> picture = frame;
    av::CaptureDevice::setDevices(std::vector{std::make_shared<av::CaptureDevice>(
        "e2e", av::CaptureDevicePosition::Back,
        av::CaptureDevice::Capabilities{withTorch, withTorch, false, false},
        [picture](dispatch::Duration) { return picture; })});
}

// The page's scan, once its screen shows the camera's picture in a GTK window of its own.
struct ShownScan {
    std::shared_ptr<HYBbcsViewController> screen;
    std::shared_ptr<ui::Window> shownIn;
    GtkWidget* window = nullptr;
};

ShownScan startScan(E2EHost& host, wk::GtkViewPresenter& presenter,
                    const std::string& options = "{}") {
    host.run("e2e.call('scan', 'BarcodeScanner', 'scan', [" + options + "])");
    ShownScan shown;
    host.runUntil([&] {
        shown.screen = std::dynamic_pointer_cast<HYBbcsViewController>(
            host.controller()->presentedViewController());
        shown.shownIn = shown.screen ? shown.screen->view()->window() : nullptr;
        shown.window = shown.shownIn ? presenter.gtkWindowFor(*shown.shownIn) : nullptr;
        const auto middle = shown.window ? pixelAt(shown.window, 100, 100) : std::nullopt;
        return middle && *middle == 0xD02020;
    });
    return shown;
}

// The scanner in the host, on the red camera; each test starts a scan and ends it.
class BarcodeScreen : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(presenter);
        useRedCamera();
    }
    void TearDown() override { av::CaptureDevice::setDevices(std::nullopt); }

    ns::Value scanAnswer() {
        auto answer = host.waitForReport(
            from, [](const E2EHost::Report& r) { return r.body["call"] == ns::Value("scan"); });
        return answer ? answer->body : ns::Value();
    }

    E2EHost& host = E2EHost::shared();
    wk::GtkViewPresenter* presenter = wk::GtkViewPresenter::installed();
    const size_t from = host.reportCount();
};

// The scanner screen is seen and used in the host: its GTK window shows the camera's picture
// with the reticle and the toolbar over it, and its Cancel button answers the page's scan.
TEST_F(BarcodeScreen, ShowsTheCameraAndItsCancelButtonAnswers) {
    const ShownScan shown = startScan(host, *presenter);
    ASSERT_TRUE(shown.window) << "the camera's picture is drawn";
    // The reticle's green square, drawn over the picture at the middle of its left side.
    const ui::Rect reticle = shown.screen->reticleView()->frame();
    const int edgeX = static_cast<int>(reticle.origin.x + reticle.width() * 65 / 500);
    const int edgeY = static_cast<int>(reticle.origin.y + reticle.height() / 2);
    const auto edge = pixelAt(shown.window, edgeX, edgeY);
    ASSERT_TRUE(edge);
    EXPECT_GT((*edge >> 8) & 0xFF, 0x40u) << std::hex << *edge;  // green over the red picture

    GtkWidget* cancel = buttonLabelled(shown.window, "Cancel");
    ASSERT_TRUE(cancel);
    gtk_button_clicked(GTK_BUTTON(cancel));
    const ns::Value answer = scanAnswer();
    EXPECT_EQ(answer["ok"], ns::Value(true));
    EXPECT_EQ(answer["value"]["cancelled"], ns::Value(1));
    EXPECT_TRUE(host.runUntil([&] { return !presenter->gtkWindowFor(*shown.shownIn); }));
}

// Closing the scanner's window, as a user does with its close button, answers the page's scan
// as a cancel, and the window goes.
TEST_F(BarcodeScreen, ClosingItsWindowAnswersAsACancel) {
    const ShownScan shown = startScan(host, *presenter);
    ASSERT_TRUE(shown.window);
    gtk_window_close(GTK_WINDOW(shown.window));
    const ns::Value answer = scanAnswer();
    EXPECT_EQ(answer["ok"], ns::Value(true));
    EXPECT_EQ(answer["value"], ns::Value::dict({{"text", ""}, {"format", ""}, {"cancelled", 1}}));
    EXPECT_TRUE(host.runUntil([&] { return !presenter->gtkWindowFor(*shown.shownIn); }));
    EXPECT_FALSE(host.controller()->presentedViewController());
}

// The torch button is the bundle's torch picture, drawn in the bar's tint with no title; its
// name is read out as "Torch", and it lights the torch.
TEST_F(BarcodeScreen, TheTorchButtonShowsTheBundlesPicture) {
    useRedCamera(true);
    const ShownScan shown = startScan(host, *presenter, "{showTorchButton: true}");
    ASSERT_TRUE(shown.window);
    const auto& torchItem = shown.screen->toolbar()->items().at(0);
    ASSERT_TRUE(torchItem->image());
    GtkWidget* torch = nullptr;
    ASSERT_TRUE(host.runUntil([&] {
        torch = findWidget(shown.window, [](GtkWidget* w) {
            return GTK_IS_BUTTON(w) &&
                   std::string(atk_object_get_name(gtk_widget_get_accessible(w)) ?: "") == "Torch";
        });
        return torch && gtk_widget_get_mapped(torch);
    }));
    EXPECT_FALSE(gtk_button_get_label(GTK_BUTTON(torch)));
    GtkWidget* picture = gtk_button_get_image(GTK_BUTTON(torch));
    ASSERT_TRUE(picture && GTK_IS_IMAGE(picture));
    EXPECT_EQ(gtk_image_get_storage_type(GTK_IMAGE(picture)), GTK_IMAGE_SURFACE);
    gtk_button_clicked(GTK_BUTTON(torch));
    EXPECT_TRUE(host.runUntil([] { return av::CaptureDevice::defaultDevice()->isTorchActive(); }));
    gtk_button_clicked(GTK_BUTTON(buttonLabelled(shown.window, "Cancel")));
    EXPECT_EQ(scanAnswer()["value"]["cancelled"], ns::Value(1));
    EXPECT_TRUE(host.runUntil([&] { return !presenter->gtkWindowFor(*shown.shownIn); }));
}

}  // namespace
