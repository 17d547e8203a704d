#include "toolbox/iPhone/UIImage+TBXUIImageResizeAdditions.h"

#include <cmath>

#include "platform/ns/Exception.h"
#include "platform/ns/Format.h"
#include "platform/ui/GraphicsContext.h"

namespace {

// The smallest rectangle of whole points that holds `rect`.
ui::Rect integral(const ui::Rect& rect) {
    double left = std::floor(rect.x());
    double top = std::floor(rect.y());
    return {left, top, std::ceil(rect.maxX()) - left, std::ceil(rect.maxY()) - top};
}

}  // namespace

std::shared_ptr<ui::Image> tbx_imageByResizingToSize(const ui::Image& image, ui::Size size,
                                                     bool preserveAspectRatio, bool trimToFit) {
    ui::Size own = image.size();
    double w = own.width;
    double h = own.height;
    double W = size.width;
    double H = size.height;
    if (!(w >= 1) || !(h >= 1) || !(W >= 1) || !(H >= 1)) return nullptr;

    ui::Rect canvas{0, 0, W, H};
    ui::Rect drawn = canvas;
    if (preserveAspectRatio) {
        bool targetIsNarrower = W / H < w / h;
        if (!trimToFit) {
            canvas = targetIsNarrower ? ui::Rect{0, 0, W, W * h / w} : ui::Rect{0, 0, H * w / h, H};
            drawn = canvas;
        } else if (targetIsNarrower) {
            drawn = {(W - H * w / h) / 2, 0, H * w / h, H};
        } else {
            drawn = {0, (H - W * h / w) / 2, W, W * h / w};
        }
    }
    canvas = integral(canvas);
    drawn = integral(drawn);
    auto context = ui::GraphicsContext::beginImageContext(canvas.size, false, 1.0);
    if (!context) return nullptr;
    context->drawImage(image, drawn);
    return context->makeImage();
}

std::shared_ptr<ui::Image> tbx_imageByRotating(const ui::Image& image,
                                               ui::Image::Orientation orientation) {
    auto value = static_cast<long>(orientation);
    if (value < 0 || value > 7) {
        throw ns::Exception(ns::kInternalInconsistencyException,
                            ns::format("Invalid orientation %zd", value));
    }
    if (orientation == ui::Image::Orientation::Up) {
        return ui::Image::imageWithBitmap(image.bitmap(), image.scale());
    }
    double w = image.bitmap()->width() / image.scale();
    double h = image.bitmap()->height() / image.scale();
    ui::AffineTransform upright = ui::GraphicsContext::orientationTransform(orientation, w, h);
    bool sideways = upright.a == 0;
    ui::Size canvas = sideways ? ui::Size{h, w} : ui::Size{w, h};
    auto context = ui::GraphicsContext::beginImageContext(canvas, false, image.scale());
    if (!context) return nullptr;
    context->concat(upright);
    context->drawBitmap(*image.bitmap(), {0, 0, w, h});
    return context->makeImage();
}
