#pragma once

#include <memory>
#include <optional>

#include "platform/ns/Data.h"
#include "platform/ui/Bitmap.h"
#include "platform/ui/Geometry.h"

namespace ui {

// PNG and JPEG files to bitmaps and back. Image files come from outside: a file that is
// damaged, of another kind, or whose stated size a bitmap may not have decodes to nothing,
// and the size is checked before any pixel memory is taken.
class ImageCodec {
public:
    // The file's kind, told by its signature.
    static bool isPNG(const ns::Data& data);
    static bool isJPEG(const ns::Data& data);

    // The pixel size a PNG or JPEG file states, read from the start of the file only (its
    // header chunk, or the markers up to the frame header); nothing when `head` does not get
    // that far or is of another kind.
    static std::optional<Size> sizeFromHeader(const ns::Data& head);

    // An ARGB bitmap of a PNG or JPEG file; null otherwise.
    static std::shared_ptr<Bitmap> decode(const ns::Data& data);
    // Nothing when the library fails.
    static std::optional<ns::Data> encodePNG(const Bitmap& bitmap);
    // Quality from 0 (smallest) to 1 (best); transparency is dropped.
    static std::optional<ns::Data> encodeJPEG(const Bitmap& bitmap, double quality);
};

}  // namespace ui
