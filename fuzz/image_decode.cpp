#include <cstdint>
#include <cstdlib>

#include "fuzz/Require.h"
#include "platform/ns/Data.h"
#include "platform/ui/Bitmap.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageCodec.h"

using fuzzing::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ns::Data bytes(data, size);
    // The size read from the header alone is the size that decodes.
    const auto stated = ui::ImageCodec::sizeFromHeader(bytes);
    auto image = ui::Image::imageWithData(bytes);
    if (!image) return 0;
    const ui::Bitmap& bitmap = *image->bitmap();
    require(ui::Bitmap::isAllowedSize(bitmap.width(), bitmap.height()));
    require(stated && stated->width == bitmap.width() && stated->height == bitmap.height());
    (void)bitmap.pixel(bitmap.width() - 1, bitmap.height() - 1);
    // Whatever decodes writes out as PNG and reads back at the same size.
    if (int64_t{bitmap.width()} * bitmap.height() <= 1 << 20) {
        auto png = image->pngData();
        require(png.has_value());
        auto again = ui::Image::imageWithData(*png);
        require(again && again->bitmap()->width() == bitmap.width() &&
                again->bitmap()->height() == bitmap.height());
    }
    return 0;
}
