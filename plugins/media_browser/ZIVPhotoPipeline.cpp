#include "plugins/media_browser/ZIVPhotoPipeline.h"

#include <fcntl.h>
#include <unistd.h>

#include <jpeglib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/ns/AtomicFile.h"
#include "platform/ns/Error.h"
#include "platform/ns/Format.h"
#include "platform/ui/ImageCodec.h"

namespace {

constexpr const char* kPipelineErrorDomain = "ZIVPhotoPipelineErrorDomain";
constexpr int kMaxNumber = 999'999;

ns::Error pipelineError(const std::string& text) {
    return ns::Error(kPipelineErrorDomain, 1, {{ns::kLocalizedDescriptionKey, text}});
}

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void jpegFail(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}
void jpegQuiet(j_common_ptr) {}

uint16_t read16(const uint8_t* p, bool little) {
    return little ? uint16_t(p[0] | p[1] << 8) : uint16_t(p[0] << 8 | p[1]);
}
uint32_t read32(const uint8_t* p, bool little) {
    return little ? uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24)
                  : uint32_t(uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]);
}

// The orientation tag of an APP1 "Exif" segment's first directory.
int orientationInExif(const uint8_t* data, size_t size) {
    if (size < 14 || std::memcmp(data, "Exif\0\0", 6) != 0) return 1;
    const uint8_t* tiff = data + 6;
    const size_t length = size - 6;
    const bool little = tiff[0] == 'I' && tiff[1] == 'I';
    if (!little && !(tiff[0] == 'M' && tiff[1] == 'M')) return 1;
    const uint32_t ifd = read32(tiff + 4, little);
    if (ifd > length || length - ifd < 2) return 1;
    const uint16_t count = read16(tiff + ifd, little);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t entry = size_t(ifd) + 2 + size_t(i) * 12;
        if (entry + 12 > length) return 1;
        if (read16(tiff + entry, little) == 0x0112) {
            const int value = read16(tiff + entry + 8, little);
            return value >= 1 && value <= 8 ? value : 1;
        }
    }
    return 1;
}

// The bitmap turned and mirrored as EXIF orientation `o` says it is to be shown.
std::shared_ptr<ui::Bitmap> upright(std::shared_ptr<ui::Bitmap> in, int o) {
    if (o <= 1) return in;
    const int w = in->width(), h = in->height();
    const bool sideways = o >= 5;
    auto out = ui::Bitmap::create(sideways ? h : w, sideways ? w : h);
    if (!out) return nullptr;
    const int ow = out->width(), oh = out->height();
    const int inStride = in->stride() / 4, outStride = out->stride() / 4;
    const auto* src = reinterpret_cast<const uint32_t*>(in->data());
    auto* dst = reinterpret_cast<uint32_t*>(out->data());
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int nx = x, ny = y;
            switch (o) {
                case 2:
                    nx = ow - 1 - x;
                    break;
                case 3:
                    nx = ow - 1 - x, ny = oh - 1 - y;
                    break;
                case 4:
                    ny = oh - 1 - y;
                    break;
                case 5:
                    nx = y, ny = x;
                    break;
                case 6:
                    nx = ow - 1 - y, ny = x;
                    break;
                case 7:
                    nx = ow - 1 - y, ny = oh - 1 - x;
                    break;
                case 8:
                    nx = y, ny = oh - 1 - x;
                    break;
            }
            dst[ny * outStride + nx] = src[y * inStride + x];
        }
    }
    out->markDirty();
    return out;
}

ns::Result<std::shared_ptr<ui::Bitmap>> decodeJPEG(const ns::Data& bytes, ui::Size box,
                                                   int& orientation) {
    jpeg_decompress_struct info{};
    JpegError error{};
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = jpegFail;
    error.manager.output_message = jpegQuiet;
    // Written after setjmp, so it lives where a longjmp cannot leave a stale copy.
    auto holder = std::make_unique<std::shared_ptr<ui::Bitmap>>();
    std::shared_ptr<ui::Bitmap>& bitmap = *holder;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        return pipelineError("The photo could not be decoded.");
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.bytes(), static_cast<unsigned long>(bytes.length()));
    jpeg_save_markers(&info, JPEG_APP0 + 1, 0xffff);
    jpeg_read_header(&info, TRUE);
    for (auto* m = info.marker_list; m; m = m->next) {
        if (m->marker == JPEG_APP0 + 1) orientation = orientationInExif(m->data, m->data_length);
    }
    // The box is upright; the stored picture is turned for orientations 5 to 8.
    const bool sideways = orientation >= 5;
    const double storedW = sideways ? info.image_height : info.image_width;
    const double storedH = sideways ? info.image_width : info.image_height;
    const ui::Size wanted = ZIVPhotoPipeline::fittedSize({storedW, storedH}, box);
    const double needW = sideways ? wanted.height : wanted.width;
    const double needH = sideways ? wanted.width : wanted.height;
    info.scale_denom = 8;
    info.scale_num = 8;
    if (box.width > 0 || box.height > 0) {
        for (unsigned num = 1; num <= 8; ++num) {
            if (info.image_width * num / 8.0 >= needW && info.image_height * num / 8.0 >= needH) {
                info.scale_num = num;
                break;
            }
        }
    }
    info.out_color_space = JCS_EXT_BGRA;
    info.dct_method = JDCT_ISLOW;
    jpeg_calc_output_dimensions(&info);
    if (!ui::Bitmap::isAllowedSize(info.output_width, info.output_height)) {
        jpeg_destroy_decompress(&info);
        return pipelineError("The photo is too large.");
    }
    bitmap = ui::Bitmap::create(int(info.output_width), int(info.output_height));
    if (!bitmap) {
        jpeg_destroy_decompress(&info);
        return pipelineError("The photo is too large.");
    }
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = bitmap->data() + ptrdiff_t(info.output_scanline) * bitmap->stride();
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    bitmap->markDirty();
    return bitmap;
}

}  // namespace

ui::Size ZIVPhotoPipeline::fittedSize(ui::Size image, ui::Size box) {
    const double w = std::isfinite(box.width) ? std::max(box.width, 0.0) : 0.0;
    const double h = std::isfinite(box.height) ? std::max(box.height, 0.0) : 0.0;
    if (image.width <= 0 || image.height <= 0) return image;
    if (w == 0 && h == 0) return image;
    ui::Size out;
    if (image.width == w && image.height == h) {
        out = {w, h};
    } else {
        const double wf = w / image.width, hf = h / image.height;
        const double factor = wf == 0 ? hf : hf == 0 ? wf : std::min(wf, hf);
        out = {image.width * factor, image.height * factor};
    }
    const double pixels = out.width * out.height;
    if (pixels > double(kMaxOutputPixels)) {
        const double cut = std::sqrt(double(kMaxOutputPixels) / pixels);
        out = {std::floor(out.width * cut), std::floor(out.height * cut)};
    }
    const double longest = std::max(out.width, out.height);
    if (longest > ui::Bitmap::kMaxDimension) {
        const double cut = ui::Bitmap::kMaxDimension / longest;
        out = {std::floor(out.width * cut), std::floor(out.height * cut)};
    }
    return {std::max(out.width, 1.0), std::max(out.height, 1.0)};
}

ns::Result<std::shared_ptr<ui::Bitmap>> ZIVPhotoPipeline::decodeUpright(const ns::Data& bytes,
                                                                        ui::Size box) {
    if (ui::ImageCodec::isJPEG(bytes)) {
        int orientation = 1;
        auto decoded = decodeJPEG(bytes, box, orientation);
        if (!decoded.ok()) return decoded;
        auto turned = upright(decoded.value(), orientation);
        if (!turned) return pipelineError("The photo is too large.");
        return turned;
    }
    auto bitmap = ui::ImageCodec::decode(bytes);
    if (!bitmap) return pipelineError("The photo could not be decoded.");
    return bitmap;
}

ns::Result<std::string> ZIVPhotoPipeline::writeNumbered(const std::string& directory,
                                                        const std::string& prefix,
                                                        const std::string& extension,
                                                        const ns::Data& bytes) {
    std::string dir = directory;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    for (int n = 1; n <= kMaxNumber; ++n) {
        const std::string path = ns::format("%@/%@%03d.%@", dir, prefix, n, extension);
        const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return ns::posixError(errno, path);
        }
        ::close(fd);
        // The name is ours now; the bytes arrive whole through a rename over it.
        auto written = ns::writeFileAtomically(path, bytes);
        if (!written.ok()) {
            ::unlink(path.c_str());
            return written.error();
        }
        return path;
    }
    return ns::posixError(EEXIST, dir);
}
