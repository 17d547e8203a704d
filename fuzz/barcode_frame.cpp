// The barcode detector over arbitrary camera frames: the first two bytes choose the frame's
// width (1 to 512) and its pixel format (grey or 32-bit colour), the rest are its pixels
// (the height is what they fill, at most 512 rows). Every kind is looked for, as a scan
// without a format filter does; the frame size bound keeps the time per frame bounded.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/Require.h"
#include "platform/av/BarcodeDetector.h"
#include "platform/ui/Bitmap.h"

using fuzzing::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const int width = 1 + (data[0] | ((data[1] & 1) << 8));
    const bool colour = (data[1] & 2) != 0;
    const size_t bytesPerPixel = colour ? 4 : 1;
    const uint8_t* pixels = data + 2;
    const size_t available = size - 2;
    const int height = static_cast<int>(
        std::min<size_t>(512, available / (bytesPerPixel * static_cast<size_t>(width))));
    if (height == 0) return 0;
    auto frame = ui::Bitmap::create(
        width, height, colour ? ui::Bitmap::Format::ARGB32 : ui::Bitmap::Format::Gray8);
    require(frame != nullptr);
    const size_t rowBytes = bytesPerPixel * static_cast<size_t>(width);
    for (int y = 0; y < height; ++y) {
        std::memcpy(frame->data() + static_cast<size_t>(y) * frame->stride(),
                    pixels + static_cast<size_t>(y) * rowBytes, rowBytes);
    }
    frame->markDirty();
    static const av::BarcodeDetector detector(av::BarcodeDetector::availableTypes());
    const auto& kinds = av::BarcodeDetector::availableTypes();
    for (const auto& object : detector.detect(*frame)) {
        require(std::find(kinds.begin(), kinds.end(), object.type()) != kinds.end());
        require(!object.corners().empty());
    }
    return 0;
}
