#include "platform/gtk/GtkCapturePreview.h"

#include <cstdint>
#include <memory>

#include "platform/av/CaptureSession.h"
#include "platform/av/CaptureVideoPreviewLayer.h"

namespace wk {

namespace {

constexpr const char* kLayerKey = "hyb-preview-layer";
constexpr const char* kFrameKey = "hyb-preview-frame";

std::shared_ptr<av::CaptureVideoPreviewLayer> layerOf(GtkWidget* widget) {
    auto* weak = static_cast<std::weak_ptr<av::CaptureVideoPreviewLayer>*>(
        g_object_get_data(G_OBJECT(widget), kLayerKey));
    return weak ? weak->lock() : nullptr;
}

gboolean draw(GtkWidget* widget, cairo_t* cr, gpointer) {
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    auto layer = layerOf(widget);
    auto frame = layer && layer->session() ? layer->session()->latestFrame() : nullptr;
    if (!frame || frame->width() == 0 || frame->height() == 0) return TRUE;
    const ui::Rect picture = layer->pictureRect();
    cairo_save(cr);
    cairo_translate(cr, picture.x(), picture.y());
    cairo_scale(cr, picture.width() / frame->width(), picture.height() / frame->height());
    cairo_set_source_surface(cr, frame->surface(), 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
    return TRUE;
}

}  // namespace

GtkWidget* GtkCapturePreview::make(av::CaptureVideoPreviewLayer& layer) {
    GtkWidget* area = gtk_drawing_area_new();
    auto shared = std::static_pointer_cast<av::CaptureVideoPreviewLayer>(layer.sharedView());
    g_object_set_data_full(
        G_OBJECT(area), kLayerKey, new std::weak_ptr<av::CaptureVideoPreviewLayer>(shared),
        [](gpointer p) { delete static_cast<std::weak_ptr<av::CaptureVideoPreviewLayer>*>(p); });
    g_signal_connect(area, "draw", G_CALLBACK(draw), nullptr);
    return area;
}

void GtkCapturePreview::update(av::CaptureVideoPreviewLayer& layer, GtkWidget* widget) {
    const uint64_t count = layer.session() ? layer.session()->frameCount() : 0;
    const auto shown = reinterpret_cast<uintptr_t>(g_object_get_data(G_OBJECT(widget), kFrameKey));
    if (shown == count) return;
    g_object_set_data(G_OBJECT(widget), kFrameKey, reinterpret_cast<gpointer>(uintptr_t(count)));
    gtk_widget_queue_draw(widget);
}

}  // namespace wk
