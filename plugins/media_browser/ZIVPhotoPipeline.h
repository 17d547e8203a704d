#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/ns/Data.h"
#include "platform/ns/Result.h"
#include "platform/ui/Bitmap.h"
#include "platform/ui/Geometry.h"

// One picked photo's way to a JPEG file: decoded upright (its EXIF orientation applied), at
// the smallest DCT scale that still covers the box when one is asked for, fitted into the box
// without cropping, encoded, and written under a numbered name claimed in the temporary folder.
class ZIVPhotoPipeline {
public:
    // Largest output in pixels, whatever box the page asks for.
    static constexpr int64_t kMaxOutputPixels = 40'000'000;

    // The aspect-preserving size for `image` in the box; a side of 0 (or less) is free. An
    // image smaller than the box is enlarged. Capped at kMaxOutputPixels.
    static ui::Size fittedSize(ui::Size image, ui::Size box);

    // The photo upright, decoded at a size no smaller than `box` needs (0 x 0: full size).
    // JPEG gets DCT scaling; other formats decode in full.
    static ns::Result<std::shared_ptr<ui::Bitmap>> decodeUpright(const ns::Data& bytes,
                                                                 ui::Size box);

    // Claims the first free "<prefix>NNN.<extension>" in `directory` (created exclusively, so
    // two pickers never take the same name) and writes the bytes to it through a rename. The
    // path written, or the error.
    static ns::Result<std::string> writeNumbered(const std::string& directory,
                                                 const std::string& prefix,
                                                 const std::string& extension,
                                                 const ns::Data& bytes);
};
