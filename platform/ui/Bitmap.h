#pragma once

#include <cairo.h>

#include <cstdint>
#include <memory>

namespace ui {

// A bitmap in memory: 32-bit premultiplied ARGB in native byte order, or 8-bit grey. The
// drawing layer (cairo) draws into it directly.
//
// Sizes are checked before anything is allocated: a bitmap beyond kMaxDimension pixels on a
// side or kMaxPixelCount pixels in all is never made, so sizes from outside (image files,
// requested canvases) cannot exhaust memory.
class Bitmap {
public:
    enum class Format { ARGB32, Gray8 };

    static constexpr int kMaxDimension = 16384;
    static constexpr int64_t kMaxPixelCount = 40'000'000;

    struct Pixel {
        uint8_t red = 0;
        uint8_t green = 0;
        uint8_t blue = 0;
        uint8_t alpha = 0;
        bool operator==(const Pixel&) const = default;
    };

    // Whether a bitmap of that many pixels may be made.
    static bool isAllowedSize(int64_t width, int64_t height);
    // A cleared bitmap (transparent, or black for grey); null for a size that is not allowed
    // or when memory runs out.
    static std::shared_ptr<Bitmap> create(int width, int height, Format format = Format::ARGB32);
    // An ARGB32 bitmap over pixels already written (premultiplied, rows nativeStride(width)
    // bytes apart), which it owns from then on: `release` frees them when it goes, or at once
    // when no bitmap can be made over them (null then).
    static std::shared_ptr<Bitmap> adopt(uint8_t* pixels, int width, int height,
                                         void (*release)(void*));
    // The distance in bytes between the rows of an ARGB32 bitmap of that width.
    static int nativeStride(int width);

    ~Bitmap();
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }
    Format format() const { return format_; }
    int stride() const;
    uint8_t* data();
    const uint8_t* data() const;
    cairo_surface_t* surface() const { return surface_; }

    // Straight (not premultiplied) colour of one pixel; grey pixels read as opaque grey.
    Pixel pixel(int x, int y) const;
    // A copy in the same format.
    std::shared_ptr<Bitmap> copy() const;

    // Marks the pixels as changed after writing through data().
    void markDirty();

private:
    Bitmap(cairo_surface_t* surface, int width, int height, Format format)
        : surface_(surface), width_(width), height_(height), format_(format) {}

    cairo_surface_t* surface_;
    int width_;
    int height_;
    Format format_;
};

}  // namespace ui
