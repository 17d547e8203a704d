#pragma once

#include <cairo.h>

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/ui/AffineTransform.h"
#include "platform/ui/Bitmap.h"
#include "platform/ui/Color.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/Image.h"
#include "platform/ui/Label.h"

namespace ui {

class Font;

// A drawing context over a bitmap, in points with the origin at the top left (the platform's
// image context). A grey context (over an 8-bit grey bitmap) takes opaque colours and stores
// their luminance. One thread at a time.
class GraphicsContext {
public:
    // A cleared canvas of `size` points at `scale` pixels per point (whole pixels, rounded up);
    // opaque canvases start black. Null when such a bitmap may not be made (empty, negative or
    // beyond the size cap), so a size from outside cannot exhaust memory.
    static std::unique_ptr<GraphicsContext> beginImageContext(
        Size size, bool opaque, double scale, Bitmap::Format format = Bitmap::Format::ARGB32);
    GraphicsContext(std::shared_ptr<Bitmap> bitmap, double scale);
    ~GraphicsContext();
    GraphicsContext(const GraphicsContext&) = delete;
    GraphicsContext& operator=(const GraphicsContext&) = delete;

    Size size() const;
    double scale() const { return scale_; }
    const std::shared_ptr<Bitmap>& bitmap() const { return bitmap_; }

    // Saving pushes the transform and clip; restoring also applies a mask set since the save.
    void saveGState();
    void restoreGState();

    // How bitmaps drawn scaled are sampled; None keeps the pixels' hard edges (nearest
    // neighbour). Not part of the saved state.
    enum class InterpolationQuality { Default, None, Low, Medium, High };
    void setInterpolationQuality(InterpolationQuality quality) { interpolation_ = quality; }

    void concat(const AffineTransform& transform);

    void fillRect(const Rect& rect, const Color& color);
    // The bitmap stretched over the rectangle, its first row at the top.
    void drawBitmap(const Bitmap& bitmap, const Rect& rect);
    // The image as shown (its orientation applied), stretched over the rectangle.
    void drawImage(const Image& image, const Rect& rect);
    // Paints the band between the lines through `start` and `end` (at right angles to the
    // axis) from one colour to the other, inside the current clip.
    void drawLinearGradient(Point start, Point end, const Color& startColor, const Color& endColor);
    // Until the matching restoreGState(), drawing shows only through the grey mask stretched
    // over the rectangle: white lets it through, black hides it.
    void clipToMask(const Rect& rect, const Bitmap& mask);
    // One line of text in the rectangle, clipped to it, its baseline one ascender below the
    // top.
    void drawText(std::string_view text, const Rect& rect, const Font& font, const Color& color,
                  Label::TextAlignment alignment = Label::TextAlignment::Left);

    // A snapshot of the canvas at the context's scale (applies pending masks first).
    std::shared_ptr<Image> makeImage();

    // The transform that shows a w × h bitmap upright in the given orientation, and the size
    // it then has.
    static AffineTransform orientationTransform(Image::Orientation orientation, double width,
                                                double height);

private:
    struct Level {
        cairo_pattern_t* mask = nullptr;
    };

    void setSourceColor(const Color& color);
    void drawBitmapWithTransform(const Bitmap& bitmap, const AffineTransform& toUser);

    std::shared_ptr<Bitmap> bitmap_;
    double scale_;
    cairo_t* context_;
    std::vector<Level> levels_;
    InterpolationQuality interpolation_ = InterpolationQuality::Default;
};

}  // namespace ui
