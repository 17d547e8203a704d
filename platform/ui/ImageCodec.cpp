#include "platform/ui/ImageCodec.h"

// clang-format off
#include <cstdio>  // jpeglib.h needs FILE declared first
#include <jpeglib.h>
// clang-format on
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace ui {

namespace {

constexpr unsigned char kPNGSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// More scans than any real progressive file has; crafted files with thousands of tiny scans
// would otherwise take minutes to decode.
constexpr int kMaxJPEGScans = 256;

// One row of premultiplied native-endian ARGB pixels as straight BGRA bytes.
void straightenRow(const uint8_t* row, int width, uint8_t* dst) {
    for (int x = 0; x < width; ++x, dst += 4) {
        uint32_t argb;
        std::memcpy(&argb, row + static_cast<size_t>(x) * 4, 4);
        const uint32_t alpha = argb >> 24;
        uint32_t r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
        if (alpha == 0) {
            r = g = b = 0;
        } else if (alpha != 255) {
            r = (r * 255 + alpha / 2) / alpha;
            g = (g * 255 + alpha / 2) / alpha;
            b = (b * 255 + alpha / 2) / alpha;
        }
        dst[0] = static_cast<uint8_t>(b);
        dst[1] = static_cast<uint8_t>(g);
        dst[2] = static_cast<uint8_t>(r);
        dst[3] = static_cast<uint8_t>(alpha);
    }
}

// Whether every pixel of an ARGB32 row has full alpha. Read as whole words without an early
// exit, so that the compiler vectorises it: most rows are opaque and are read to the end.
bool isOpaqueRow(const uint8_t* row, int width) {
    uint32_t all = 0xffffffffu;
    for (int x = 0; x < width; ++x) {
        uint32_t argb;
        std::memcpy(&argb, row + static_cast<size_t>(x) * 4, 4);
        all &= argb;
    }
    return (all >> 24) == 0xff;
}

// Premultiplied native-endian ARGB ⇄ straight BGRA bytes (what both libraries read and write
// on a little-endian machine; built from the 32-bit value so the byte order is explicit).
void premultipliedToStraightBGRA(const Bitmap& bitmap, std::vector<uint8_t>& out) {
    out.resize(static_cast<size_t>(bitmap.width()) * bitmap.height() * 4);
    if (bitmap.format() != Bitmap::Format::ARGB32) {
        size_t at = 0;
        for (int y = 0; y < bitmap.height(); ++y) {
            for (int x = 0; x < bitmap.width(); ++x) {
                Bitmap::Pixel p = bitmap.pixel(x, y);
                out[at++] = p.blue;
                out[at++] = p.green;
                out[at++] = p.red;
                out[at++] = p.alpha;
            }
        }
        return;
    }
    // Rows are read straight from the pixels, flushed once: going through pixel() for each
    // one made encoding a frame cost more than decoding it.
    const uint8_t* base = bitmap.data();
    const size_t stride = static_cast<size_t>(bitmap.stride());
    const size_t rowBytes = static_cast<size_t>(bitmap.width()) * 4;
    for (int y = 0; y < bitmap.height(); ++y) {
        straightenRow(base + static_cast<size_t>(y) * stride, bitmap.width(),
                      out.data() + static_cast<size_t>(y) * rowBytes);
    }
}

void storeStraightBGRA(const uint8_t* bgra, Bitmap& bitmap) {
    uint8_t* base = bitmap.data();
    for (int y = 0; y < bitmap.height(); ++y) {
        auto* row = reinterpret_cast<uint32_t*>(base + static_cast<size_t>(y) * bitmap.stride());
        for (int x = 0; x < bitmap.width(); ++x, bgra += 4) {
            uint32_t a = bgra[3];
            auto pre = [a](uint32_t c) { return (c * a + 127) / 255; };
            row[x] = (a << 24) | (pre(bgra[2]) << 16) | (pre(bgra[1]) << 8) | pre(bgra[0]);
        }
    }
    bitmap.markDirty();
}

std::shared_ptr<Bitmap> decodePNG(const ns::Data& data) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data.bytes(), data.length())) return nullptr;
    if (!Bitmap::isAllowedSize(image.width, image.height)) {
        png_image_free(&image);
        return nullptr;
    }
    image.format = PNG_FORMAT_BGRA;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
        png_image_free(&image);
        return nullptr;
    }
    auto bitmap = Bitmap::create(static_cast<int>(image.width), static_cast<int>(image.height));
    if (!bitmap) return nullptr;
    storeStraightBGRA(pixels.data(), *bitmap);
    return bitmap;
}

struct JPEGErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf escape;
};

void jpegFail(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JPEGErrorManager*>(info->err)->escape, 1);
}

void jpegQuiet(j_common_ptr) {}

void jpegProgress(j_common_ptr info) {
    auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (info->is_decompressor && decompress->input_scan_number > kMaxJPEGScans) jpegFail(info);
}

// Everything between setjmp and a possible longjmp is plain data: no destructor may be
// skipped.
bool decodeJPEGInto(const ns::Data& data, std::shared_ptr<Bitmap>& result) {
    jpeg_decompress_struct info;
    JPEGErrorManager errors;
    jpeg_progress_mgr progress;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = jpegFail;
    errors.base.output_message = jpegQuiet;
    progress.progress_monitor = jpegProgress;
    if (setjmp(errors.escape)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    info.progress = &progress;
    jpeg_mem_src(&info, data.bytes(), static_cast<unsigned long>(data.length()));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK ||
        !Bitmap::isAllowedSize(info.image_width, info.image_height)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = JCS_EXT_BGRA;
    jpeg_start_decompress(&info);
    result =
        Bitmap::create(static_cast<int>(info.output_width), static_cast<int>(info.output_height));
    if (!result) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    uint8_t* base = result->data();
    int stride = result->stride();
    while (info.output_scanline < info.output_height) {
        JSAMPROW target = base + static_cast<size_t>(info.output_scanline) * stride;
        jpeg_read_scanlines(&info, &target, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    // JCS_EXT_BGRA writes opaque straight pixels, which are their own premultiplied form.
    result->markDirty();
    return true;
}

bool readJPEGSize(const ns::Data& data, int& width, int& height) {
    jpeg_decompress_struct info;
    JPEGErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = jpegFail;
    errors.base.output_message = jpegQuiet;
    if (setjmp(errors.escape)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data.bytes(), static_cast<unsigned long>(data.length()));
    const bool read = jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK;
    width = static_cast<int>(info.image_width);
    height = static_cast<int>(info.image_height);
    jpeg_destroy_decompress(&info);
    return read && width > 0 && height > 0;
}

std::shared_ptr<Bitmap> decodeJPEG(const ns::Data& data) {
    std::shared_ptr<Bitmap> bitmap;
    if (!decodeJPEGInto(data, bitmap)) return nullptr;
    return bitmap;
}

// Rows whose pixels are all opaque are handed to the encoder where they stand (the premultiplied
// native order is then BGRX, which it reads); a row with any translucent pixel is made straight
// in one row of scratch first. Video frames and photos are opaque, so a picture is neither
// copied nor converted whole before it is encoded.
bool encodeJPEGInto(const Bitmap& bitmap, int quality, unsigned char** buffer,
                    unsigned long* size) {
    const int width = bitmap.width();
    const int height = bitmap.height();
    std::vector<uint8_t> whole;
    if (bitmap.format() != Bitmap::Format::ARGB32) premultipliedToStraightBGRA(bitmap, whole);
    const uint8_t* base = whole.empty() ? bitmap.data() : whole.data();
    const size_t stride =
        whole.empty() ? static_cast<size_t>(bitmap.stride()) : static_cast<size_t>(width) * 4;
    std::vector<uint8_t> scratch(static_cast<size_t>(width) * 4);

    jpeg_compress_struct info;
    JPEGErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = jpegFail;
    errors.base.output_message = jpegQuiet;
    if (setjmp(errors.escape)) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, buffer, size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 4;
    info.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        const uint8_t* row = base + static_cast<size_t>(info.next_scanline) * stride;
        if (whole.empty()) {
            if (!isOpaqueRow(row, width)) {
                straightenRow(row, width, scratch.data());
                row = scratch.data();
            }
        }
        auto* line = const_cast<uint8_t*>(row);
        jpeg_write_scanlines(&info, &line, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

}  // namespace

bool ImageCodec::isPNG(const ns::Data& data) {
    return data.length() >= sizeof kPNGSignature &&
           std::memcmp(data.bytes(), kPNGSignature, sizeof kPNGSignature) == 0;
}

bool ImageCodec::isJPEG(const ns::Data& data) {
    const auto* bytes = static_cast<const uint8_t*>(data.bytes());
    return data.length() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

std::optional<Size> ImageCodec::sizeFromHeader(const ns::Data& head) {
    const auto* bytes = static_cast<const uint8_t*>(head.bytes());
    const size_t length = head.length();
    const auto be16 = [&](size_t at) { return uint32_t(bytes[at]) << 8 | bytes[at + 1]; };
    const auto be32 = [&](size_t at) { return be16(at) << 16 | be16(at + 2); };
    if (isPNG(head)) {
        // The signature, then the IHDR chunk: length, type, width, height.
        if (length < 24 || std::memcmp(bytes + 12, "IHDR", 4) != 0) return std::nullopt;
        const uint32_t width = be32(16);
        const uint32_t height = be32(20);
        if (width == 0 || height == 0 || width > 0x7fffffff || height > 0x7fffffff) {
            return std::nullopt;
        }
        return Size{double(width), double(height)};
    }
    if (!isJPEG(head)) return std::nullopt;
    // The decoder's own reading of the markers, which stops at the first scan: the size is
    // the one it would decode, however the file bends the rules.
    int width = 0;
    int height = 0;
    if (!readJPEGSize(head, width, height)) return std::nullopt;
    return Size{double(width), double(height)};
}

std::shared_ptr<Bitmap> ImageCodec::decode(const ns::Data& data) {
    if (isPNG(data)) return decodePNG(data);
    if (isJPEG(data)) return decodeJPEG(data);
    return nullptr;
}

std::optional<ns::Data> ImageCodec::encodePNG(const Bitmap& bitmap) {
    std::vector<uint8_t> bgra;
    premultipliedToStraightBGRA(bitmap, bgra);
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(bitmap.width());
    image.height = static_cast<png_uint_32>(bitmap.height());
    image.format = PNG_FORMAT_BGRA;
    png_alloc_size_t size = 0;
    if (!png_image_write_get_memory_size(image, size, 0, bgra.data(), 0, nullptr)) {
        return std::nullopt;
    }
    std::vector<uint8_t> out(size);
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, bgra.data(), 0, nullptr)) {
        return std::nullopt;
    }
    return ns::Data(out.data(), size);
}

std::optional<ns::Data> ImageCodec::encodeJPEG(const Bitmap& bitmap, double quality) {
    int level = static_cast<int>(std::clamp(quality, 0.0, 1.0) * 100.0 + 0.5);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    bool ok = encodeJPEGInto(bitmap, level, &buffer, &size);
    std::optional<ns::Data> out;
    if (ok) out = ns::Data(buffer, size);
    std::free(buffer);
    return out;
}

}  // namespace ui
