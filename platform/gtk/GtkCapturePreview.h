#pragma once

#include <gtk/gtk.h>

namespace av {
class CaptureVideoPreviewLayer;
}  // namespace av

namespace wk {

// The live camera picture of a preview layer as a GTK widget: it paints the session's newest
// frame as the layer's gravity places it, and repaints when a new frame has come. Main thread.
class GtkCapturePreview {
public:
    // A new widget for the layer (which it does not keep alive).
    static GtkWidget* make(av::CaptureVideoPreviewLayer& layer);
    // Repaints the widget if the session delivered a frame since the last paint.
    static void update(av::CaptureVideoPreviewLayer& layer, GtkWidget* widget);
};

}  // namespace wk
