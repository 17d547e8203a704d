#pragma once

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/av/MetadataMachineReadableCodeObject.h"
#include "platform/av/QRCodeGenerator.h"
#include "platform/ns/Object.h"
#include "platform/ui/Bitmap.h"

namespace av {

// The modules of a QR code, row by row: `size` by `size`, true where a module is dark.
struct QRModules {
    int size = 0;
    std::vector<bool> dark;
};

// What of barcodes and QR codes needs the barcode libraries: finding codes in a frame and
// encoding a QR code. It lives in a module of its own (rt::ModuleLoader), loaded when a scanner
// or the encoder first runs. Any thread; an object is immutable.
class BarcodeCodec : public ns::Object {
public:
    static constexpr const char* kClassName = "AVBarcodeLibraryCodec";

    // The codec; null when the barcode libraries cannot be loaded.
    static std::shared_ptr<const BarcodeCodec> loaded();

    ~BarcodeCodec() override;

    // The codes of the kinds `types` in the frame, in the library's order; corners in the
    // frame's unit square. A frame the library fails on shows nothing. Callers bound the
    // frame's size.
    virtual std::vector<MetadataMachineReadableCodeObject> detect(
        const ui::Bitmap& frame, const std::vector<MetadataObjectType>& types) const = 0;
    // The message's bytes (byte mode, no character set marker) as a QR code; nothing when the
    // encoder fails (a message longer than a code holds at that level).
    virtual std::optional<QRModules> encodeQR(std::string_view message,
                                              QRCodeGenerator::CorrectionLevel level) const = 0;
};

}  // namespace av
