#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Geometry.h"

namespace av {

// The kinds of machine-readable code that a metadata output recognises.
using MetadataObjectType = std::string;
inline const MetadataObjectType AVMetadataObjectTypeQRCode = "QRCode";
inline const MetadataObjectType AVMetadataObjectTypeAztecCode = "AztecCode";
inline const MetadataObjectType AVMetadataObjectTypeDataMatrixCode = "DataMatrixCode";
inline const MetadataObjectType AVMetadataObjectTypeUPCECode = "UPCECode";
inline const MetadataObjectType AVMetadataObjectTypeEAN8Code = "EAN8Code";
// UPC-A codes are read as EAN-13 codes with a leading "0".
inline const MetadataObjectType AVMetadataObjectTypeEAN13Code = "EAN13Code";
inline const MetadataObjectType AVMetadataObjectTypeCode128Code = "Code128Code";
inline const MetadataObjectType AVMetadataObjectTypeCode93Code = "Code93Code";
inline const MetadataObjectType AVMetadataObjectTypeCode39Code = "Code39Code";
inline const MetadataObjectType AVMetadataObjectTypeInterleaved2of5Code = "Interleaved2of5Code";
// An interleaved 2 of 5 code of fourteen digits whose last is the GTIN check digit.
inline const MetadataObjectType AVMetadataObjectTypeITF14Code = "ITF14Code";
inline const MetadataObjectType AVMetadataObjectTypePDF417Code = "PDF417Code";

// One code seen in a camera frame: its kind, its text, and where it lies. A metadata output
// gives corners and bounds in the frame's unit square (0 to 1 on both axes, origin top
// left); a preview layer's transform gives them in the layer's points.
class MetadataMachineReadableCodeObject {
public:
    MetadataMachineReadableCodeObject(MetadataObjectType type, std::optional<std::string> text,
                                      std::vector<ui::Point> corners);

    const MetadataObjectType& type() const { return type_; }
    // Nothing when the code's content is not text.
    const std::optional<std::string>& stringValue() const { return text_; }
    const std::vector<ui::Point>& corners() const { return corners_; }
    // The smallest rectangle holding the corners.
    const ui::Rect& bounds() const { return bounds_; }

private:
    MetadataObjectType type_;
    std::optional<std::string> text_;
    std::vector<ui::Point> corners_;
    ui::Rect bounds_;
};

}  // namespace av
