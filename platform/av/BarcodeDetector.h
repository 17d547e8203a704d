#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/av/MetadataMachineReadableCodeObject.h"
#include "platform/ui/Bitmap.h"

namespace av {

class BarcodeCodec;

// Finds the machine-readable codes of the chosen kinds in one camera frame, with the barcode
// library. Frames come from outside (replayed files), so their size is bounded: a frame of
// more than kMaxFramePixels pixels is not searched, which keeps the time per frame bounded
// (capture sessions scale their frames to fit). Any thread; an object is immutable.
class BarcodeDetector {
public:
    // The pixels of the largest frame a capture session delivers (1920 by 1080).
    static constexpr int64_t kMaxFramePixels = 1920 * 1080;

    // Every kind it can find, in the order of the format table.
    static const std::vector<MetadataObjectType>& availableTypes();
    // Whether codes can be read at all: the barcode libraries come with a module of their own
    // (loaded by the first detector that looks for anything, or by this question).
    static bool isAvailable();

    // Kinds that it does not know are ignored.
    explicit BarcodeDetector(const std::vector<MetadataObjectType>& types);

    bool findsAnything() const { return !types_.empty(); }

    // The codes in the frame, in the library's order; corners in the frame's unit square. A
    // frame the library fails on shows nothing.
    std::vector<MetadataMachineReadableCodeObject> detect(const ui::Bitmap& frame) const;

private:
    std::vector<MetadataObjectType> types_;
    std::shared_ptr<const BarcodeCodec> codec_;  // null when it looks for nothing
};

}  // namespace av
