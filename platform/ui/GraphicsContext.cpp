#include "platform/ui/GraphicsContext.h"

#include <cmath>

#include "platform/ns/UTF8.h"
#include "platform/ui/Font.h"

namespace ui {

namespace {

cairo_matrix_t toCairo(const AffineTransform& t) {
    cairo_matrix_t m;
    cairo_matrix_init(&m, t.a, t.b, t.c, t.d, t.tx, t.ty);
    return m;
}

// The platform's luminance weights, for grey contexts.
double luminance(const Color& color) {
    return 0.299 * color.red() + 0.587 * color.green() + 0.114 * color.blue();
}

}  // namespace

std::unique_ptr<GraphicsContext> GraphicsContext::beginImageContext(Size size, bool opaque,
                                                                    double scale,
                                                                    Bitmap::Format format) {
    if (!(scale > 0) || !std::isfinite(size.width) || !std::isfinite(size.height)) return nullptr;
    double width = std::ceil(size.width * scale);
    double height = std::ceil(size.height * scale);
    if (!Bitmap::isAllowedSize(static_cast<int64_t>(std::min(width, 1e9)),
                               static_cast<int64_t>(std::min(height, 1e9)))) {
        return nullptr;
    }
    auto bitmap = Bitmap::create(static_cast<int>(width), static_cast<int>(height), format);
    if (!bitmap) return nullptr;
    auto context = std::make_unique<GraphicsContext>(std::move(bitmap), scale);
    if (opaque && format == Bitmap::Format::ARGB32) {
        context->fillRect({0, 0, width / scale, height / scale}, Color::blackColor());
    }
    return context;
}

GraphicsContext::GraphicsContext(std::shared_ptr<Bitmap> bitmap, double scale)
    : bitmap_(std::move(bitmap)), scale_(scale), context_(cairo_create(bitmap_->surface())) {
    cairo_scale(context_, scale_, scale_);
}

GraphicsContext::~GraphicsContext() {
    while (!levels_.empty()) restoreGState();
    cairo_destroy(context_);
}

Size GraphicsContext::size() const {
    return {bitmap_->width() / scale_, bitmap_->height() / scale_};
}

void GraphicsContext::saveGState() {
    cairo_save(context_);
    levels_.push_back({});
}

void GraphicsContext::restoreGState() {
    if (levels_.empty()) return;
    Level level = levels_.back();
    levels_.pop_back();
    if (level.mask) {
        cairo_pop_group_to_source(context_);
        cairo_mask(context_, level.mask);
        cairo_pattern_destroy(level.mask);
    }
    cairo_restore(context_);
}

void GraphicsContext::concat(const AffineTransform& transform) {
    cairo_matrix_t m = toCairo(transform);
    cairo_transform(context_, &m);
}

void GraphicsContext::setSourceColor(const Color& color) {
    if (bitmap_->format() == Bitmap::Format::Gray8) {
        // A grey bitmap keeps one channel: the colour's grey level replaces what is there.
        cairo_set_operator(context_, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_rgba(context_, 0, 0, 0, luminance(color));
    } else {
        cairo_set_operator(context_, CAIRO_OPERATOR_OVER);
        cairo_set_source_rgba(context_, color.red(), color.green(), color.blue(), color.alpha());
    }
}

void GraphicsContext::fillRect(const Rect& rect, const Color& color) {
    cairo_save(context_);
    setSourceColor(color);
    cairo_rectangle(context_, rect.x(), rect.y(), rect.width(), rect.height());
    cairo_fill(context_);
    cairo_restore(context_);
}

void GraphicsContext::drawBitmapWithTransform(const Bitmap& bitmap, const AffineTransform& toUser) {
    cairo_save(context_);
    cairo_matrix_t m = toCairo(toUser);
    cairo_transform(context_, &m);
    cairo_set_operator(context_, CAIRO_OPERATOR_OVER);
    cairo_set_source_surface(context_, bitmap.surface(), 0, 0);
    // Padding keeps scaled edges crisp; the rectangle keeps the padding itself out.
    cairo_pattern_set_extend(cairo_get_source(context_), CAIRO_EXTEND_PAD);
    if (interpolation_ == InterpolationQuality::None) {
        cairo_pattern_set_filter(cairo_get_source(context_), CAIRO_FILTER_NEAREST);
    }
    cairo_rectangle(context_, 0, 0, bitmap.width(), bitmap.height());
    cairo_fill(context_);
    cairo_restore(context_);
}

void GraphicsContext::drawBitmap(const Bitmap& bitmap, const Rect& rect) {
    if (rect.width() == 0 || rect.height() == 0) return;
    drawBitmapWithTransform(
        bitmap, AffineTransform::makeTranslation(rect.x(), rect.y())
                    .scaled(rect.width() / bitmap.width(), rect.height() / bitmap.height()));
}

void GraphicsContext::drawImage(const Image& image, const Rect& rect) {
    const Bitmap& bitmap = *image.bitmap();
    double w = bitmap.width();
    double h = bitmap.height();
    AffineTransform upright = orientationTransform(image.imageOrientation(), w, h);
    bool sideways = upright.a == 0;
    double shownWidth = sideways ? h : w;
    double shownHeight = sideways ? w : h;
    if (rect.width() == 0 || rect.height() == 0) return;
    AffineTransform place = AffineTransform::makeTranslation(rect.x(), rect.y())
                                .scaled(rect.width() / shownWidth, rect.height() / shownHeight);
    drawBitmapWithTransform(bitmap, place.after(upright));
}

void GraphicsContext::drawLinearGradient(Point start, Point end, const Color& startColor,
                                         const Color& endColor) {
    double dx = end.x - start.x;
    double dy = end.y - start.y;
    double length = std::hypot(dx, dy);
    if (length == 0) return;
    cairo_save(context_);
    bool grey = bitmap_->format() == Bitmap::Format::Gray8;
    cairo_pattern_t* pattern = cairo_pattern_create_linear(start.x, start.y, end.x, end.y);
    auto stop = [&](double offset, const Color& c) {
        if (grey) {
            cairo_pattern_add_color_stop_rgba(pattern, offset, 0, 0, 0, luminance(c));
        } else {
            cairo_pattern_add_color_stop_rgba(pattern, offset, c.red(), c.green(), c.blue(),
                                              c.alpha());
        }
    };
    stop(0, startColor);
    stop(1, endColor);
    cairo_set_operator(context_, grey ? CAIRO_OPERATOR_SOURCE : CAIRO_OPERATOR_OVER);
    cairo_set_source(context_, pattern);
    // The band: a rectangle along the axis, as long as the axis and wide enough to cross any
    // canvas.
    double ux = dx / length;
    double uy = dy / length;
    double reach = 4.0 * (bitmap_->width() + bitmap_->height()) / scale_ + length;
    cairo_move_to(context_, start.x - uy * reach, start.y + ux * reach);
    cairo_line_to(context_, end.x - uy * reach, end.y + ux * reach);
    cairo_line_to(context_, end.x + uy * reach, end.y - ux * reach);
    cairo_line_to(context_, start.x + uy * reach, start.y - ux * reach);
    cairo_close_path(context_);
    cairo_fill(context_);
    cairo_pattern_destroy(pattern);
    cairo_restore(context_);
}

void GraphicsContext::clipToMask(const Rect& rect, const Bitmap& mask) {
    if (levels_.empty() || levels_.back().mask) saveGState();
    // The mask's grey levels become coverage: an 8-bit surface whose alpha is the grey.
    auto coverage = Bitmap::create(mask.width(), mask.height(), Bitmap::Format::Gray8);
    if (!coverage) return;
    uint8_t* to = coverage->data();
    for (int y = 0; y < mask.height(); ++y) {
        for (int x = 0; x < mask.width(); ++x) {
            Bitmap::Pixel p = mask.pixel(x, y);
            double grey = luminance(Color(p.red / 255.0, p.green / 255.0, p.blue / 255.0));
            to[static_cast<size_t>(y) * coverage->stride() + x] =
                static_cast<uint8_t>(std::lround(grey * (p.alpha / 255.0) * 255.0));
        }
    }
    coverage->markDirty();
    cairo_pattern_t* pattern = cairo_pattern_create_for_surface(coverage->surface());
    // Pattern space is mask pixels; user space is the rectangle.
    cairo_matrix_t userToMask;
    cairo_matrix_init_translate(&userToMask, -rect.x(), -rect.y());
    cairo_matrix_t scaleToMask;
    cairo_matrix_init_scale(&scaleToMask, mask.width() / rect.width(),
                            mask.height() / rect.height());
    cairo_matrix_multiply(&userToMask, &userToMask, &scaleToMask);
    cairo_pattern_set_matrix(pattern, &userToMask);
    levels_.back().mask = pattern;
    cairo_push_group(context_);
}

void GraphicsContext::drawText(std::string_view text, const Rect& rect, const Font& font,
                               const Color& color, Label::TextAlignment alignment) {
    std::string utf8 = ns::utf8::repaired(text);
    cairo_save(context_);
    cairo_rectangle(context_, rect.x(), rect.y(), rect.width(), rect.height());
    cairo_clip(context_);
    font.applyTo(context_);
    setSourceColor(color);
    cairo_text_extents_t extents{};
    cairo_text_extents(context_, utf8.c_str(), &extents);
    double x = rect.x();
    if (alignment == Label::TextAlignment::Center) {
        x += (rect.width() - extents.x_advance) / 2;
    } else if (alignment == Label::TextAlignment::Right) {
        x += rect.width() - extents.x_advance;
    }
    cairo_move_to(context_, x, rect.y() + font.ascender());
    cairo_show_text(context_, utf8.c_str());
    cairo_restore(context_);
}

std::shared_ptr<Image> GraphicsContext::makeImage() {
    while (!levels_.empty()) restoreGState();
    auto snapshot = bitmap_->copy();
    return Image::imageWithBitmap(std::move(snapshot), scale_);
}

AffineTransform GraphicsContext::orientationTransform(Image::Orientation orientation, double w,
                                                      double h) {
    using O = Image::Orientation;
    switch (orientation) {
        case O::Up:
            return {1, 0, 0, 1, 0, 0};
        case O::Down:
            return {-1, 0, 0, -1, w, h};
        case O::Left:  // turned a quarter counter-clockwise
            return {0, -1, 1, 0, 0, w};
        case O::Right:  // turned a quarter clockwise
            return {0, 1, -1, 0, h, 0};
        case O::UpMirrored:
            return {-1, 0, 0, 1, w, 0};
        case O::DownMirrored:
            return {1, 0, 0, -1, 0, h};
        case O::LeftMirrored:  // mirrored along the main diagonal
            return {0, 1, 1, 0, 0, 0};
        case O::RightMirrored:  // mirrored along the other diagonal
            return {0, -1, -1, 0, h, w};
    }
    return {};
}

}  // namespace ui
