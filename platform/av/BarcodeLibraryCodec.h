#pragma once

#include "platform/av/BarcodeCodec.h"

namespace av {

// The barcode codec on the barcode reading and QR encoding libraries. Announced to the module
// loader as BarcodeCodec::kClassName.
class BarcodeLibraryCodec : public BarcodeCodec {
public:
    std::vector<MetadataMachineReadableCodeObject> detect(
        const ui::Bitmap& frame, const std::vector<MetadataObjectType>& types) const override;
    std::optional<QRModules> encodeQR(std::string_view message,
                                      QRCodeGenerator::CorrectionLevel level) const override;
};

}  // namespace av
