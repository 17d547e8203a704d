#include "platform/av/QRCodeGenerator.h"

#include "platform/av/BarcodeCodec.h"

namespace av {

namespace {

constexpr uint32_t kWhite = 0xFFFFFFFF;
constexpr uint32_t kBlack = 0xFF000000;

}  // namespace

std::shared_ptr<ui::Bitmap> QRCodeGenerator::generate(std::string_view message,
                                                      CorrectionLevel level) {
    // The library's length is an int; 8-bit data longer than the largest code fails anyway.
    if (message.empty() || message.size() > 8000) return nullptr;
    const auto codec = BarcodeCodec::loaded();
    const auto code = codec ? codec->encodeQR(message, level) : std::nullopt;
    if (!code || code->size <= 0) return nullptr;
    const int modules = code->size;
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
            const bool dark =
                inside && code->dark[static_cast<size_t>(moduleRow * modules + moduleColumn)];
            row[x] = dark ? kBlack : kWhite;
        }
    }
    bitmap->markDirty();
    return bitmap;
}

bool QRCodeGenerator::isAvailable() {
    return BarcodeCodec::loaded() != nullptr;
}

}  // namespace av
