#include "tests/support/BarcodeFrames.h"

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>

#include <fstream>

#include "platform/ui/ImageCodec.h"

namespace mediatest {

std::shared_ptr<ui::Bitmap> barcodeFrame(const std::string& format, const std::string& text,
                                         int width, int height) {
    const auto kind = ZXing::BarcodeFormatFromString(format);
    if (kind == ZXing::BarcodeFormat::None) return nullptr;
    const bool linear =
        (static_cast<int>(ZXing::BarcodeFormat::LinearCodes) & static_cast<int>(kind)) != 0;
    ZXing::BitMatrix matrix;
    try {
        matrix = ZXing::MultiFormatWriter(kind).setMargin(10).encode(text, linear ? 420 : 300,
                                                                     linear ? 160 : 300);
    } catch (const std::exception&) {
        return nullptr;
    }
    auto frame = ui::Bitmap::create(width, height);
    if (!frame || matrix.width() > width || matrix.height() > height) return nullptr;
    const int left = (width - matrix.width()) / 2, top = (height - matrix.height()) / 2;
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(frame->data() + size_t(y) * frame->stride());
        for (int x = 0; x < width; ++x) {
            const int mx = x - left, my = y - top;
            const bool dark = mx >= 0 && my >= 0 && mx < matrix.width() && my < matrix.height() &&
                              matrix.get(mx, my);
            row[x] = dark ? 0xFF000000 : 0xFFFFFFFF;
        }
    }
    frame->markDirty();
    return frame;
}

bool writePNG(const ui::Bitmap& frame, const std::string& path) {
    auto png = ui::ImageCodec::encodePNG(frame);
    if (!png) return false;
    std::ofstream out(path, std::ios::binary);
    out.write(png->chars().data(), static_cast<std::streamsize>(png->chars().size()));
    return static_cast<bool>(out);
}

}  // namespace mediatest
