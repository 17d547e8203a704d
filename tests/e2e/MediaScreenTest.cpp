#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "bridge/HYBViewController.h"
#include "platform/av/Camera.h"
#include "platform/av/PhotoLibrary.h"
#include "platform/gtk/GtkViewPresenter.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/URL.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/ImageCodec.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Window.h"
#include "platform/wk/URLRequest.h"
#include "platform/wk/WebView.h"
#include "plugins/media_browser/HYBAudioRecorderViewController.h"
#include "plugins/media_browser/MIPAlbumPickerController.h"
#include "plugins/media_browser/MIPAssetCell.h"
#include "plugins/media_browser/MIPAssetTablePicker.h"
#include "plugins/media_browser/MIPImagePickerController.h"
#include "plugins/media_browser/ZIVPicker.h"
#include "tests/e2e/E2EHost.h"
#include "tests/plugins/media_browser/support/ClipWriter.h"

namespace {

namespace fs = std::filesystem;

// The first widget under `root` (depth first) for which `matches` holds.
GtkWidget* find(GtkWidget* root, const std::function<bool(GtkWidget*)>& matches) {
    if (!root) return nullptr;
    if (matches(root)) return root;
    if (!GTK_IS_CONTAINER(root)) return nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(root));
    GtkWidget* found = nullptr;
    for (GList* c = children; c && !found; c = c->next) found = find(GTK_WIDGET(c->data), matches);
    g_list_free(children);
    return found;
}

GtkWidget* buttonLabelled(GtkWidget* root, const std::string& text) {
    return find(root, [&](GtkWidget* w) {
        if (!GTK_IS_BUTTON(w) || !gtk_widget_get_visible(w)) return false;
        const char* label = gtk_button_get_label(GTK_BUTTON(w));
        return label && text == label;
    });
}

bool showsLabel(GtkWidget* root, const std::string& text) {
    return find(root, [&](GtkWidget* w) {
        return GTK_IS_LABEL(w) && gtk_widget_get_mapped(w) &&
               text == gtk_label_get_text(GTK_LABEL(w));
    });
}

// A click of the first button at (x, y) of the widget, as GTK delivers one.
void clickAt(GtkWidget* widget, double x, double y) {
    GdkEvent* event = gdk_event_new(GDK_BUTTON_RELEASE);
    event->button.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(widget)));
    event->button.button = 1;
    event->button.x = x;
    event->button.y = y;
    gtk_widget_event(widget, event);
    gdk_event_free(event);
}

ns::Data jpeg(int width, int height, const ui::Color& color) {
    auto context =
        ui::GraphicsContext::beginImageContext({double(width), double(height)}, true, 1.0);
    context->fillRect({{0, 0}, {double(width), double(height)}}, color);
    return *ui::ImageCodec::encodeJPEG(*context->bitmap(), 0.9);
}

// A person picks two photos on the display: the picker's screens are drawn in a window over
// the page; they tap the first album, its first two photos and Done.
void pickTwoPhotosOnTheDisplay(E2EHost& host, const std::shared_ptr<ZIVPicker>& plugin) {
    auto* presenter = wk::GtkViewPresenter::installed();
    ASSERT_TRUE(presenter);
    auto window = host.controller()->view()->window();
    ASSERT_TRUE(window);
    GtkWidget* shown = nullptr;
    ASSERT_TRUE(host.runUntil([&] {
        shown = presenter->gtkWindowFor(*window);
        return shown && plugin->picker() && showsLabel(shown, "Select an Album");
    }));
    EXPECT_TRUE(gtk_widget_get_visible(shown));

    // The Camera Roll is the first row; tapping it opens its grid.
    auto albums = plugin->picker()->albumPicker();
    ASSERT_TRUE(host.runUntil([&] { return showsLabel(shown, albums->rowText(0)); }));
    EXPECT_EQ(albums->rowText(0).rfind("Camera Roll (", 0), 0u);
    auto row = albums->tableView()->cellForRow(0);
    ASSERT_TRUE(row);
    GtkWidget* rowTarget = presenter->tapTargetFor(*row);
    ASSERT_TRUE(rowTarget);
    clickAt(rowTarget, 20, 20);
    std::shared_ptr<MIPAssetTablePicker> grid;
    ASSERT_TRUE(host.runUntil([&] {
        grid =
            std::dynamic_pointer_cast<MIPAssetTablePicker>(plugin->picker()->topViewController());
        return grid && showsLabel(shown, "Pick Photos") && grid->tableView()->cellForRow(0) &&
               presenter->tapTargetFor(*grid->tableView()->cellForRow(0));
    }));
    auto cell = std::dynamic_pointer_cast<MIPAssetCell>(grid->tableView()->cellForRow(0));
    ASSERT_TRUE(cell);
    for (size_t i : {0, 1}) {
        const auto frame = cell->thumbnailFrame(i);
        clickAt(presenter->tapTargetFor(*cell), frame.origin.x + 10, frame.origin.y + 10);
    }
    EXPECT_EQ(grid->totalSelectedAssets(), 2u);
    GtkWidget* done = buttonLabelled(shown, "Done");
    ASSERT_TRUE(done);
    gtk_button_clicked(GTK_BUTTON(done));
    ASSERT_TRUE(host.runUntil([&] { return !presenter->gtkWindowFor(*window); }));
}

// Whether the button, drawn on its own, paints a light face of its own above its title: a light
// title on such a face cannot be read.
bool paintsALightFace(GtkWidget* button) {
    const int width = gtk_widget_get_allocated_width(button);
    const int height = gtk_widget_get_allocated_height(button);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(surface);
    gtk_widget_draw(button, cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const unsigned char* row = cairo_image_surface_get_data(surface) +
                               height / 5 * cairo_image_surface_get_stride(surface);
    const uint32_t argb = reinterpret_cast<const uint32_t*>(row)[width / 4];
    cairo_surface_destroy(surface);
    const int alpha = argb >> 24, red = (argb >> 16) & 0xFF, green = (argb >> 8) & 0xFF;
    return alpha > 200 && red > 160 && green > 160;
}

// The text of the page's element with that id (empty when there is none).
std::string elementText(E2EHost& host, const std::string& id) {
    auto value = host.evaluate("(document.getElementById('" + id + "') || {}).textContent || ''");
    return value.ok() ? value.value().stringValue() : std::string();
}

// Loads the example bundle's start page and waits until it says it is ready.
bool openExamplePage(E2EHost& host) {
    host.webView()->loadRequest(
        wk::URLRequest(*ns::URL::parse("app://localhost/example/index.html")));
    return host.runUntil([&] { return elementText(host, "status").rfind("Ready", 0) == 0; });
}

std::shared_ptr<ZIVPicker> pickerPlugin(E2EHost& host) {
    auto& library = av::PhotoLibrary::shared();
    if (!library.assetsInAlbum("").ok() || library.assetsInAlbum("").value().size() < 2) {
        EXPECT_TRUE(library.addPhoto(jpeg(400, 300, ui::Color(1, 0, 0, 1)), "red.jpg").ok());
        EXPECT_TRUE(library.addPhoto(jpeg(300, 400, ui::Color(0, 0, 1, 1)), "blue.jpg").ok());
    }
    return std::dynamic_pointer_cast<ZIVPicker>(
        host.controller()->getCommandInstance("ImagePicker"));
}

// The photo picker and the thumbnail plug-in as a person uses them in the host: the page gets
// the two files picked on the display, then a thumbnail of a clip in the container.
TEST(MediaScreens, PicksTwoPhotosOnTheDisplayAndMakesAThumbnail) {
    E2EHost& host = E2EHost::shared();
    auto plugin = pickerPlugin(host);
    ASSERT_TRUE(plugin);
    size_t from = host.reportCount();
    host.run(
        "e2e.call('pick', 'ImagePicker', 'getPictures', "
        "[{maximumImagesCount: 2, width: 100, height: 100}])");
    pickTwoPhotosOnTheDisplay(host, plugin);

    auto answer = host.waitForReport(
        from, [](const E2EHost::Report& r) { return r.body["call"] == ns::Value("pick"); });
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->body["ok"], ns::Value(true));
    const auto& urls = answer->body["value"];
    ASSERT_TRUE(urls.isArray());
    ASSERT_EQ(urls.array()->size(), 2u);
    for (const auto& url : *urls.array()) {
        auto parsed = ns::URL::parse(url.stringValue());
        ASSERT_TRUE(parsed);
        EXPECT_TRUE(fs::is_regular_file(parsed->path())) << url.stringValue();
    }

    // A thumbnail of a clip in the container, as a data URL.
    const fs::path clip = fs::path(ns::Sandbox::documentsDirectory()) / "clip.mp4";
    fs::create_directories(clip.parent_path());
    ASSERT_TRUE(mediatest::writeClip(clip.string(), 64, 32, {{0, 255, 0}, {0, 255, 0}}));
    const std::string source = ns::URL::fileURLWithPath(clip.string()).absoluteString();
    const auto thumbnail = host.call("VideoThumbnail", "createThumbnail",
                                     "[\"" + source + "\", null, {mode: 'data', position: 0.5}]");
    ASSERT_EQ(thumbnail.size(), 1u);
    ASSERT_EQ(thumbnail[0]["ok"], ns::Value(true)) << thumbnail[0].description();
    const std::string url = thumbnail[0]["value"].stringValue();
    const std::string prefix = "data:image/jpeg;base64,";
    ASSERT_EQ(url.rfind(prefix, 0), 0u);
    auto bytes = ns::Data::fromBase64(url.substr(prefix.size()));
    ASSERT_TRUE(bytes);
    auto image = ui::ImageCodec::decode(*bytes);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 64);

    // The same clip in the keychain folder is not the page's to read.
    const fs::path secret = fs::path(ns::Sandbox::keychainDirectory()) / "clip.mp4";
    fs::create_directories(secret.parent_path());
    fs::copy_file(clip, secret, fs::copy_options::overwrite_existing);
    const auto refused =
        host.call("VideoThumbnail", "createThumbnail",
                  "[\"" + ns::URL::fileURLWithPath(secret.string()).absoluteString() +
                      "\", null, {mode: 'data'}]");
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0]["ok"], ns::Value(false));
    EXPECT_NE(refused[0]["value"].stringValue().find("not found"), std::string::npos);
}

// The example bundle's own page: its buttons pick two photos on the display and make a
// thumbnail of the clip that comes with it, and the page shows both answers.
TEST(MediaScreens, TheExamplePagePicksTwoPhotosAndMakesAThumbnail) {
    E2EHost& host = E2EHost::shared();
    auto plugin = pickerPlugin(host);
    ASSERT_TRUE(plugin);
    auto text = [&](const std::string& id) { return elementText(host, id); };
    ASSERT_TRUE(openExamplePage(host));

    host.run("document.getElementById('media-pick').click()");
    pickTwoPhotosOnTheDisplay(host, plugin);
    std::string answer;
    ASSERT_TRUE(host.runUntil([&] {
        answer = text("media-answer");
        return answer.rfind("Picked photos: [", 0) == 0;
    }));
    size_t files = 0;
    for (size_t at = answer.find("file://"); at != std::string::npos;
         at = answer.find("file://", at + 1)) {
        ++files;
    }
    EXPECT_EQ(files, 2u) << answer;

    host.run("document.getElementById('media-thumbnail').click()");
    ASSERT_TRUE(host.runUntil([&] {
        answer = text("media-answer");
        return answer.rfind("Thumbnail", 0) == 0;
    }));
    // Described by its size, shown as a picture, never spelt out.
    EXPECT_EQ(answer.rfind("Thumbnail: a ", 0), 0u) << answer;
    EXPECT_NE(answer.find("image/jpeg picture of "), std::string::npos) << answer;
    EXPECT_EQ(answer.find("base64"), std::string::npos) << answer;
    EXPECT_TRUE(host.runUntil([&] {
        auto count = host.evaluate(
            "Array.prototype.filter.call(document.querySelectorAll('#media-pictures img'), "
            "function (img) { return img.complete && img.naturalWidth > 0; }).length");
        return count.ok() && count.value().integerValue() == 3;
    })) << "the two photos and the thumbnail show in the page";
    EXPECT_TRUE(host.loadStartPage());
}

// The example page records a clip on the capture screen (its Record button pressed on the
// display, its white Cancel legible) and makes the thumbnail of that clip, not of the one that
// comes with the bundle.
TEST(MediaScreens, TheExamplePageMakesAThumbnailOfTheClipItRecorded) {
    E2EHost& host = E2EHost::shared();
    auto* presenter = wk::GtkViewPresenter::installed();
    ASSERT_TRUE(presenter);
    const auto previousCamera = av::Camera::shared();
    const fs::path clip = fs::path(ns::Sandbox::documentsDirectory()) / "wide.mp4";
    fs::create_directories(clip.parent_path());
    ASSERT_TRUE(mediatest::writeClip(clip.string(), 64, 32, {{0, 255, 0}, {0, 255, 0}}));
    ASSERT_TRUE(av::Camera::configure(clip.string()));
    auto text = [&](const std::string& id) { return elementText(host, id); };
    ASSERT_TRUE(openExamplePage(host));

    host.run("document.getElementById('media-video').click()");
    auto window = host.controller()->view()->window();
    ASSERT_TRUE(window);
    GtkWidget* record = nullptr;
    GtkWidget* cancel = nullptr;
    ASSERT_TRUE(host.runUntil([&] {
        GtkWidget* shown = presenter->gtkWindowFor(*window);
        record = shown ? buttonLabelled(shown, "Record") : nullptr;
        cancel = shown ? buttonLabelled(shown, "Cancel") : nullptr;
        return record && cancel && gtk_widget_get_mapped(cancel) &&
               gtk_widget_get_allocated_height(cancel) > 10;
    }));
    // The screen's way back reads on its dark bar.
    EXPECT_TRUE(host.runUntil([&] { return !paintsALightFace(cancel); }));
    gtk_button_clicked(GTK_BUTTON(record));
    std::string answer;
    ASSERT_TRUE(host.runUntil([&] {
        answer = text("media-answer");
        return answer.rfind("Clip", 0) == 0;
    }));
    ASSERT_EQ(answer.rfind("Clip: [", 0), 0u) << answer;

    host.run("document.getElementById('media-thumbnail').click()");
    ASSERT_TRUE(host.runUntil([&] {
        answer = text("media-answer");
        return answer.rfind("Thumbnail", 0) == 0;
    }));
    ASSERT_EQ(answer.rfind("Thumbnail: a ", 0), 0u) << answer;
    const auto shown = host.evaluate(
        "(function () { var all = document.querySelectorAll('#media-pictures img');"
        " return all.length ? all[all.length - 1].src : ''; })()");
    ASSERT_TRUE(shown.ok());
    const std::string url = shown.value().stringValue();
    const std::string prefix = "data:image/jpeg;base64,";
    ASSERT_EQ(url.rfind(prefix, 0), 0u) << url.substr(0, 64);
    auto bytes = ns::Data::fromBase64(url.substr(prefix.size()));
    ASSERT_TRUE(bytes);
    auto image = ui::ImageCodec::decode(*bytes);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 2 * image->height()) << "the recorded clip is twice as wide";
    av::Camera::setShared(previousCamera);
    EXPECT_TRUE(host.loadStartPage());
}

// The photo grid's columns follow its window's width: the user resizes the picker's window
// and the grid lays out as many 80-point columns as the width holds.
TEST(MediaScreens, ThePhotoGridFollowsItsWindowsWidth) {
    E2EHost& host = E2EHost::shared();
    auto* presenter = wk::GtkViewPresenter::installed();
    auto plugin = pickerPlugin(host);
    ASSERT_TRUE(plugin && presenter);
    const size_t from = host.reportCount();
    host.run("e2e.call('grid', 'ImagePicker', 'getPictures', [{maximumImagesCount: 2}])");
    auto window = host.controller()->view()->window();
    GtkWidget* shown = nullptr;
    ASSERT_TRUE(host.runUntil([&] {
        shown = presenter->gtkWindowFor(*window);
        return shown && plugin->picker() && showsLabel(shown, "Select an Album");
    }));
    auto albums = plugin->picker()->albumPicker();
    ASSERT_TRUE(host.runUntil([&] {
        auto row = albums->tableView()->cellForRow(0);
        return row && presenter->tapTargetFor(*row);
    }));
    clickAt(presenter->tapTargetFor(*albums->tableView()->cellForRow(0)), 20, 20);
    std::shared_ptr<MIPAssetTablePicker> grid;
    ASSERT_TRUE(host.runUntil([&] {
        grid =
            std::dynamic_pointer_cast<MIPAssetTablePicker>(plugin->picker()->topViewController());
        return grid && showsLabel(shown, "Pick Photos");
    }));
    EXPECT_EQ(grid->columns(), 4);
    for (const auto& [width, columns] : {std::pair{820, 10}, std::pair{250, 3}}) {
        gtk_window_resize(GTK_WINDOW(shown), width, 600);
        EXPECT_TRUE(host.runUntil([&, columns = columns] { return grid->columns() == columns; }))
            << width << " wide: " << grid->columns() << " columns";
        EXPECT_EQ(grid->view()->frame().width(), width);
    }
    GtkWidget* done = buttonLabelled(shown, "Done");
    ASSERT_TRUE(done);
    gtk_button_clicked(GTK_BUTTON(done));
    auto answer = host.waitForReport(
        from, [](const E2EHost::Report& r) { return r.body["call"] == ns::Value("grid"); });
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->body["value"], ns::Value(ns::Array{}));
}

// The recorder as assistive technologies meet it in the host: its button's label and the
// time's hint and value are what the toolkit reads, and the end of a timed recording is
// announced; Done then answers the page with the clip.
TEST(MediaScreens, TheRecorderSpeaksThroughTheToolkit) {
    E2EHost& host = E2EHost::shared();
    auto* presenter = wk::GtkViewPresenter::installed();
    ASSERT_TRUE(presenter);
    const size_t from = host.reportCount();
    host.run("e2e.call('sound', 'Capture', 'captureAudio', [{duration: 1}])");
    auto window = host.controller()->view()->window();
    std::shared_ptr<HYBAudioRecorderViewController> screen;
    GtkWidget* record = nullptr;
    GtkWidget* time = nullptr;
    ASSERT_TRUE(host.runUntil([&] {
        auto nav = std::dynamic_pointer_cast<ui::NavigationController>(
            host.controller()->presentedViewController());
        screen = nav ? std::dynamic_pointer_cast<HYBAudioRecorderViewController>(
                           nav->topViewController())
                     : nullptr;
        record = screen ? presenter->widgetFor(*screen->recordButton()) : nullptr;
        time = screen ? presenter->widgetFor(*screen->timerLabel()) : nullptr;
        return record && time && gtk_widget_get_mapped(record);
    }));
    auto nameOf = [](GtkWidget* widget) {
        const char* name = atk_object_get_name(gtk_widget_get_accessible(widget));
        return std::string(name ? name : "");
    };
    EXPECT_EQ(nameOf(record), "toggle audio recording");
    const char* hint = atk_object_get_description(gtk_widget_get_accessible(time));
    EXPECT_STREQ(hint, "recorded time in minutes and seconds");
    gtk_button_clicked(GTK_BUTTON(record));
    ASSERT_TRUE(host.runUntil([&] {
        GtkWidget* said = presenter->announcement();
        return said && nameOf(said) == "timed recording complete";
    }));
    EXPECT_EQ(atk_object_get_role(gtk_widget_get_accessible(presenter->announcement())),
              ATK_ROLE_NOTIFICATION);
    EXPECT_EQ(nameOf(time), "0:01");
    GtkWidget* done = buttonLabelled(presenter->gtkWindowFor(*window), "Done");
    ASSERT_TRUE(done);
    gtk_button_clicked(GTK_BUTTON(done));
    auto answer = host.waitForReport(
        from, [](const E2EHost::Report& r) { return r.body["call"] == ns::Value("sound"); });
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->body["value"].at(0)["type"], ns::Value("audio/wav"));
}

// The example page's capture modes say what this host captures: sound as WAV, clips in the
// camera clip's own container, and an error answer names its code.
TEST(MediaScreens, TheExamplePageShowsWhatThisHostCaptures) {
    E2EHost& host = E2EHost::shared();
    const auto previousCamera = av::Camera::shared();
    const fs::path clip = fs::path(ns::Sandbox::documentsDirectory()) / "modes.mp4";
    fs::create_directories(clip.parent_path());
    ASSERT_TRUE(mediatest::writeClip(clip.string(), 32, 16, {{0, 0, 255}}));
    ASSERT_TRUE(av::Camera::configure(clip.string()));
    ASSERT_TRUE(openExamplePage(host));
    host.run("document.getElementById('media-modes').click()");
    std::string answer;
    ASSERT_TRUE(host.runUntil([&] {
        answer = elementText(host, "media-answer");
        return answer.rfind("Capture modes", 0) == 0;
    }));
    EXPECT_EQ(
        answer,
        "Capture modes:\n image: image/jpeg, image/png\n video: video/mp4\n audio: audio/wav");

    // A photo whose camera screen is closed: no media files, named beside its code.
    host.run("document.getElementById('media-photo').click()");
    auto* presenter = wk::GtkViewPresenter::installed();
    auto window = host.controller()->view()->window();
    GtkWidget* cancel = nullptr;
    ASSERT_TRUE(host.runUntil([&] {
        GtkWidget* shown = presenter->gtkWindowFor(*window);
        cancel = shown ? buttonLabelled(shown, "Cancel") : nullptr;
        return cancel != nullptr;
    }));
    gtk_button_clicked(GTK_BUTTON(cancel));
    ASSERT_TRUE(host.runUntil([&] {
        answer = elementText(host, "media-answer");
        return answer.rfind("Photo failed", 0) == 0;
    }));
    EXPECT_EQ(answer,
              "Photo failed: {\"code\":3} (HYBCaptureErrorNoMediaFiles: nothing was captured)");
    av::Camera::setShared(previousCamera);
    EXPECT_TRUE(host.loadStartPage());
}

}  // namespace
