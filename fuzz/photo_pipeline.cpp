#include <cstdint>
#include <cstring>

#include "fuzz/Require.h"
#include "platform/ns/Data.h"
#include "platform/ui/Bitmap.h"
#include "plugins/media_browser/ZIVPhotoPipeline.h"
#include "plugins/media_browser/ZIVPicker.h"

using fuzzing::require;

// A picked photo's way: headers (EXIF included) through DCT-scaled decoding and fitting into
// a box. The first four bytes choose the box; the rest is the photo file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    uint16_t boxW = 0, boxH = 0;
    std::memcpy(&boxW, data, 2);
    std::memcpy(&boxH, data + 2, 2);
    const ui::Size box{double(boxW % 2048), double(boxH % 2048)};
    auto decoded = ZIVPhotoPipeline::decodeUpright(ns::Data(data + 4, size - 4), box);
    if (!decoded.ok()) return 0;
    const auto& bitmap = decoded.value();
    require(ui::Bitmap::isAllowedSize(bitmap->width(), bitmap->height()));
    if (box.width == 0 && box.height == 0) return 0;
    auto scaled = ZIVPicker::imageByScalingNotCroppingForSize(bitmap, box);
    require(scaled != nullptr);
    const ui::Size want =
        ZIVPhotoPipeline::fittedSize({double(bitmap->width()), double(bitmap->height())}, box);
    require(scaled->width() >= int(want.width) && scaled->width() <= int(want.width) + 1);
    return 0;
}
