#include "platform/av/QRCodeGenerator.h"

#include <qrencode.h>

#include <cstring>

namespace av {

namespace {

QRecLevel libraryLevel(QRCodeGenerator::CorrectionLevel level) {
    switch (level) {
        case QRCodeGenerator::CorrectionLevel::L:
            return QR_ECLEVEL_L;
        case QRCodeGenerator::CorrectionLevel::M:
            return QR_ECLEVEL_M;
        case QRCodeGenerator::CorrectionLevel::Q:
            return QR_ECLEVEL_Q;
        case QRCodeGenerator::CorrectionLevel::H:
            return QR_ECLEVEL_H;
    }
    return QR_ECLEVEL_L;
}

struct CodeDeleter {
    void operator()(QRcode* code) const { QRcode_free(code); }
};

constexpr uint32_t kWhite = 0xFFFFFFFF;
constexpr uint32_t kBlack = 0xFF000000;

}  // namespace

std::shared_ptr<ui::Bitmap> QRCodeGenerator::generate(std::string_view message,
                                                      CorrectionLevel level) {
    // The library's length is an int; 8-bit data longer than the largest code fails anyway.
    if (message.empty() || message.size() > 8000) return nullptr;
    std::unique_ptr<QRcode, CodeDeleter> code(QRcode_encodeData(
        static_cast<int>(message.size()), reinterpret_cast<const unsigned char*>(message.data()), 0,
        libraryLevel(level)));
    if (!code || code->width <= 0) return nullptr;
    const int modules = code->width;
    const int side = modules + 2 * kQuietZoneModules;
    auto bitmap = ui::Bitmap::create(side, side);
    if (!bitmap) return nullptr;
    uint8_t* pixels = bitmap->data();
    const int stride = bitmap->stride();
    for (int y = 0; y < side; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(pixels + static_cast<size_t>(y) * stride);
        const int moduleRow = y - kQuietZoneModules;
        for (int x = 0; x < side; ++x) {
            const int moduleColumn = x - kQuietZoneModules;
            const bool inside = moduleRow >= 0 && moduleRow < modules && moduleColumn >= 0 &&
                                moduleColumn < modules;
            // The lowest bit of each of the library's bytes is the module's colour.
            const bool dark = inside && (code->data[moduleRow * modules + moduleColumn] & 1) != 0;
            row[x] = dark ? kBlack : kWhite;
        }
    }
    bitmap->markDirty();
    return bitmap;
}

}  // namespace av
