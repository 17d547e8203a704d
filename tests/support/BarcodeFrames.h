#pragma once

#include <memory>
#include <string>

#include "platform/ui/Bitmap.h"

namespace mediatest {

// A camera frame: white, `width` by `height`, with a code made by the barcode library's own
// writer in its middle. `format` is the library's name of the symbology ("QRCode", "EAN13",
// "ITF" ...). Null when the writer refuses the text or the code does not fit.
std::shared_ptr<ui::Bitmap> barcodeFrame(const std::string& format, const std::string& text,
                                         int width = 640, int height = 480);

// The frame as a PNG file at `path`; false when it cannot be written.
bool writePNG(const ui::Bitmap& frame, const std::string& path);

}  // namespace mediatest
