#include "platform/ui/Bitmap.h"

#include <cstring>

namespace ui {

bool Bitmap::isAllowedSize(int64_t width, int64_t height) {
    return width > 0 && height > 0 && width <= kMaxDimension && height <= kMaxDimension &&
           width * height <= kMaxPixelCount;
}

std::shared_ptr<Bitmap> Bitmap::create(int width, int height, Format format) {
    if (!isAllowedSize(width, height)) return nullptr;
    cairo_format_t cairoFormat = format == Format::ARGB32 ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_A8;
    cairo_surface_t* surface = cairo_image_surface_create(cairoFormat, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    return std::shared_ptr<Bitmap>(new Bitmap(surface, width, height, format));
}

std::shared_ptr<Bitmap> Bitmap::adopt(uint8_t* pixels, int width, int height,
                                      void (*release)(void*)) {
    static cairo_user_data_key_t ownedPixels;
    if (!isAllowedSize(width, height)) {
        release(pixels);
        return nullptr;
    }
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        pixels, CAIRO_FORMAT_ARGB32, width, height, nativeStride(width));
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS ||
        cairo_surface_set_user_data(surface, &ownedPixels, pixels, release) !=
            CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        release(pixels);
        return nullptr;
    }
    return std::shared_ptr<Bitmap>(new Bitmap(surface, width, height, Format::ARGB32));
}

int Bitmap::nativeStride(int width) {
    return cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, width);
}

Bitmap::~Bitmap() {
    cairo_surface_destroy(surface_);
}

int Bitmap::stride() const {
    return cairo_image_surface_get_stride(surface_);
}

uint8_t* Bitmap::data() {
    cairo_surface_flush(surface_);
    return cairo_image_surface_get_data(surface_);
}

const uint8_t* Bitmap::data() const {
    cairo_surface_flush(surface_);
    return cairo_image_surface_get_data(surface_);
}

void Bitmap::markDirty() {
    cairo_surface_mark_dirty(surface_);
}

Bitmap::Pixel Bitmap::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return {};
    const uint8_t* row = data() + static_cast<size_t>(y) * stride();
    if (format_ == Format::Gray8) {
        uint8_t grey = row[x];
        return {grey, grey, grey, 255};
    }
    uint32_t argb;
    std::memcpy(&argb, row + static_cast<size_t>(x) * 4, 4);
    auto alpha = static_cast<uint8_t>(argb >> 24);
    if (alpha == 0) return {};
    auto straight = [alpha](uint32_t premultiplied) {
        return static_cast<uint8_t>((premultiplied * 255 + alpha / 2) / alpha);
    };
    return {straight((argb >> 16) & 0xFF), straight((argb >> 8) & 0xFF), straight(argb & 0xFF),
            alpha};
}

std::shared_ptr<Bitmap> Bitmap::copy() const {
    auto out = create(width_, height_, format_);
    if (!out) return nullptr;
    const uint8_t* from = data();
    uint8_t* to = out->data();
    std::memcpy(to, from, static_cast<size_t>(stride()) * height_);
    out->markDirty();
    return out;
}

}  // namespace ui
